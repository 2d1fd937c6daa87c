// End-to-end tests: the built program runs on dumps written by the test, and
// its standard output, standard error, exit status and files are compared
// byte for byte.
#include "bank.hpp"
#include "run_tool.hpp"
#include "tone.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

using namespace bank;

namespace {

// Where ctest runs the tests under Wine in code page 932 (Japanese).
const bool k_japanese = std::getenv("TOLVANE_JAPANESE") != nullptr;

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// `size` bytes of `from` from `at`, or as many as there are.
bytes slice(const bytes& from, std::size_t at, std::size_t size = SIZE_MAX) {
    at = std::min(at, from.size());
    return {from.begin() + static_cast<std::ptrdiff_t>(at),
            from.begin() + static_cast<std::ptrdiff_t>(at + std::min(size, from.size() - at))};
}

// Chunks, short, so that a description fits on a line.
chunk name(const std::string& text, std::size_t zeros = 1) { return name_chunk(text, zeros); }
chunk pcm(std::uint16_t channels, std::uint16_t bits = 16) {
    return fmt_chunk(1, channels, 22050, static_cast<std::uint16_t>(channels * bits / 8), bits);
}
chunk sized(const chunk& c, std::int64_t size) { return {c.id, c.body, size}; }
chunk wsmp(std::int64_t size) { return {"wsmp", {}, size}; }
const chunk k_dsp = fmt_chunk(0x666, 1, 32000, 8, 4), k_strm = strm_chunk(0, 2);
// What a progress line shows of k_strm, before the file's name.
const std::string k_strm_shown = "00000000 size 00000002 ";

// A header dump whose one description, of these chunks, starts at 0x40, and
// the index of one sound record pointing there.
bytes described(const std::vector<chunk>& chunks, std::int64_t riff_size = -1) {
    return concat({bytes(0x40, 0xEE), riff("WAVE", chunks, riff_size)});
}
const bytes k_one = sound_record(0x40);

// The converter's report of the check at `line` in `function`; of a call
// `what` that failed with `error`.
std::string report(int line, const std::string& text,
                   const std::string& function = "process_wave") {
    return "tolvane.cpp:" + std::to_string(line) + ":" + function + ": " + text + "\n";
}
std::string failed(int line, const std::string& what, int error) {
    return "tolvane.cpp:" + std::to_string(line) + ":process_wave:" + what + ": " +
           std::strerror(error) + "\n";
}

class Convert : public testing::Test {
protected:
    Convert() {  // every sample byte tells where it came from
        for (std::size_t i = 0; i < 0x3000; ++i)
            d_.wave_samples.push_back(static_cast<std::uint8_t>(i * 31 + i / 251));
    }
    run_result run(const bytes& index, const bytes& header,
                   const std::vector<std::string>& args = k_dump_names, std::size_t limit = 0) {
        d_.index = index;
        d_.header = header;
        d_.write(dir_.path);
        return run_tolvane(dir_.path, args, "", limit);
    }
    run_result run_one(const std::vector<chunk>& chunks) { return run(k_one, described(chunks)); }
    // `written`: "from size name" of the progress line, if a file is opened;
    // the banner comes first, the report last.
    void expect(const run_result& r, const std::string& written, const std::string& report) {
        EXPECT_EQ(r.status, report.empty() ? 0 : 1);
        EXPECT_EQ(
            r.log,
            k_banner + (written.empty() ? "" : "WAVE data from " + written + ".genh\n") + report);
    }
    // The files the runs wrote, besides the dumps.
    std::set<std::string> outputs() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path))
            if (entry.path().extension() != ".bin") names.insert(entry.path().filename().string());
        return names;
    }
    dumps d_;
    scratch_dir dir_;
};

TEST_F(Convert, ArgumentsAndInputsThatCannotBeUsed) {
    expect(run({}, {}, {"a", "b", "c"}), "",
           "tolvane.cpp:26:main: usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin\n");
    // The first input that cannot be opened is the one reported; those that
    // can lie in folders past 260 characters.
    const std::string missing = " open failed: No such file or directory\n";
    std::string e = "\xE3\x82\xB2/" + std::string(150, 'a') + "/" + std::string(150, 'b');
    fs::create_directories(dir_.path / as_path(e));
    write_file(dir_.path / as_path(e += "/e"), {});
    expect(run({}, {}, {"n", "n", "n", "n"}), "", "tolvane.cpp:34:main:input file 1" + missing);
    expect(run({}, {}, {e, "n", e, e}), "", "tolvane.cpp:36:main:input file 2" + missing);
    expect(run({}, {}, {e, e, "n", "n"}), "", "tolvane.cpp:38:main:input file 3" + missing);
    expect(run({}, {}, {e, e, e, "n"}), "", "tolvane.cpp:40:main:input file 4" + missing);
    // A pipe cannot be measured.
    if (!k_windows)
        expect(run_tolvane(dir_.path, {"/dev/stdin", e, e, e}, "\\200\\000\\000\\001"), "",
               "tolvane.cpp:44:main:fseek: Illegal seek\n");
}

// Each row an index, the header dump it points into, and the report that
// ends the walk (none: it is complete).
TEST_F(Convert, IndexAndRiffHeaders) {
    const bytes ampc = concat({bytes(0x10, 0xEE), riff("AMPC", {})});
    const std::string unknown = report(104, "unknown type", "main");
    const struct {
        bytes index, header;
        std::string report;
    } cases[] = {
        {{}, {}, ""},
        // Every stepped-over marker, with payloads of several lengths (a zero
        // word among them), including none and one running to the end.
        {concat({index_record(0x80000001, {1, 0}), index_record(0x80000004),
                 index_record(0x80000005, {0x7FFFFFFF}), index_record(0x80000006, {3}),
                 index_record(0x80000007), index_record(0x8000010A, {4, 5, 6}),
                 index_record(0x8000010E), index_record(0x80000115, {7}), index_record(0x80000117),
                 index_record(0x80000118, {8}), index_record(0x8000011A, {9, 10})}),
         {},
         ""},
        // An AMPC sound is passed over; the word after its offset is the next marker.
        {concat({sound_record(0x10), index_record(0x80000003)}), ampc,
         "unknown type 80000003\n" + unknown},
        {index_record(0x0000ABCD), {}, "unknown type 0000abcd\n" + unknown},
        // After a sound's progress line, before the context line of the report.
        {concat({k_one, index_record(0x0000ABCD)}), described({name("a"), pcm(1), k_strm}),
         "WAVE data from " + k_strm_shown + "a.genh\nunknown type 0000abcd\n" + unknown},
        // Descriptions before the header dump's start and past its end.
        {sound_record(0xFFFFFFF0), {}, "util.cpp:173:get_bytes_seek:fseek: Invalid argument\n"},
        {sound_record(0x10), bytes(0x14, 0x11), "util.cpp:168:get_bytes:fread: unexpected EOF\n"},
        // Offsets shown unsigned, without zero fill.
        {sound_record(0x2a0), bytes(0x2b0, 0x11),
         "non-RIFF header at 0x2a0\n" +
             report(65, "non-RIFF header, possible bad data00.bin?", "main")},
        {sound_record(0x10), concat({bytes(0x10, 0xEE), riff("WAVX", {})}),
         "unexpected RIFF type at 0x10\n" +
             report(82, "unexpected RIFF type, possible bad data00.bin?", "main")},
    };
    for (const auto& c : cases) expect(run(c.index, c.header), "", c.report);
}

// Each row one sound's description, the report that ends the run (none: it
// converts) and what its progress line shows (none: no file is opened).
TEST_F(Convert, OneSoundEachDescription) {
    const std::string at0 = k_strm_shown, eof = "fread: unexpected EOF\n",
                      missing = report(204, "missing vital info from RIFF"),
                      loops = report(192, "bad chunk size"), who = "\n" + report(188, "who knows?"),
                      zero = report(199, "PCM with 0 channels or 0 bits per sample");
    const chunk guid{"guid", {'w', 's', 'm', 'p', 16, 0, 0, 0}};  // a chunk start inside
    chunk coefs{"ngcc", bytes(96)};  // each channel's block of its own bytes
    for (std::size_t i = 0; i < 96; ++i) coefs.body[i] = static_cast<std::uint8_t>(0xA0 + i);
    const struct {
        std::vector<chunk> chunks;
        std::string report, written = "";  // "from size name" of the progress line
        std::int64_t riff_size = -1;       // else that of the chunks
    } cases[] = {
        // A codec that is neither ends the walk at its chunk, whatever follows.
        {{fmt_chunk(2, 1, 22050, 2, 16), chunk{"LIST", {}}},
         report(161, "only expecting codec id 0x666 or 0x1")},
        {{name("x"), pcm(1), fact_chunk(1), k_strm},
         report(197, "didn't expect fact for uncompressed data")},
        {{name("x"), pcm(0), k_strm}, zero},
        {{name("x"), pcm(1, 0), k_strm}, zero},
        // Checked once every chunk was read: the later chunk is reported first.
        {{pcm(3), name("x"), k_strm}, report(207, "not mono or stereo")},
        {{pcm(3), chunk{"LIST", {}}}, "unexpected chunk at 0x64" + who},
        {{name("x"), k_dsp, chunk{"ngcc", bytes(48)}, k_strm}, missing},  // no fact
        {{name("x"), k_dsp, fact_chunk(14), k_strm}, missing},            // no ngcc
        {{pcm(1), k_strm}, missing},                                      // no name
        {{name("x"), pcm(1), fact_chunk(1)}, missing},  // no strm: the fact is not looked at
        {{name("x"), fact_chunk(1), k_strm}, missing},  // no fmt
        // Steps back: into the name's bytes, where "LIST" is read as a chunk;
        // into the guid's, from where the walk goes on past the end.
        {{name("LIST"), wsmp(0xFFFFFFF3)}, "unexpected chunk at 0x54" + who},
        {{name("back"), pcm(1), k_strm, guid, wsmp(0xFFFFFFF0)}, "", at0 + "back"},
        // Walks that come back to a chunk they read: onto itself
        // (0x4C + 0xFFFFFFF8 + 8), and round two chunks.
        {{wsmp(0xFFFFFFF8)}, "chunk walk repeats from the chunk at 0x4c\n" + loops},
        {{name("x"), pcm(1), wsmp(0xFFFFFFE0)},
         "chunk walk repeats from the chunk at 0x56\n" + loops},
        // Names run up to the first zero byte, to 4096 bytes.
        {{pcm(1), k_strm, name(std::string(4097, 'n'), 0)},
         report(215, "name chunk longer than 4096 bytes")},
        // The longest, with no zero after it: too long for a file name, which
        // the system first sees when the file is given it (and under the
        // sanitizers, a check that nothing reads past it).
        {{name(std::string(4096, 'n'), 0), pcm(1), k_strm},
         failed(313, "rename of output file", k_windows ? ENOENT : ENAMETOOLONG),
         at0 + std::string(4096, 'n')},
        {{name(std::string(250, 'n'), 3846), pcm(1), k_strm}, "", at0 + std::string(250, 'n')},
        // Reads across the end of the header dump, and from 4 bytes past it.
        {{name("x"), pcm(1), chunk{"strm", bytes(6)}}, "util.cpp:140:get_32_le:" + eof},
        {{name("x"), pcm(1), sized(k_strm, 12)}, "util.cpp:126:get_32_be:" + eof, "", 62},
        // The coefficients lie before a step over a large chunk, the form
        // type before that: both are read again from where they are.
        {{coefs, name("", 0), chunk{"wsmp", bytes(4000, 0x55)}, fmt_chunk(0x666, 2, 32000, 8, 4),
          chunk{"guid", bytes(40, 0x77)}, fact_chunk(14), k_strm},
         "",
         at0},
        // A name with no zero after it; a RIFF size that ends one byte into
        // the last chunk still covers it (4 for the form, 15 for the name,
        // 24 for the fmt chunk).
        {{name("music01", 0), pcm(1), k_strm}, "", at0 + "music01", 44},
        // A later chunk replaces an earlier one; listed chunks without use are
        // ignored; an odd-sized chunk is followed directly by the next; fields
        // are read at their fixed offsets whatever a chunk's size says.
        {{name("first"), sized(chunk{"wsmp", {9, 9, 9}}, 3), strm_chunk(1, 1),
          chunk{"guid", bytes(5, 0x98)}, sized(pcm(1), 16), name("second", 2),
          sized(strm_chunk(0x123, 0x100), 8)},
         "",
         "00000123 size 00000100 second"},
    };
    for (const auto& c : cases)
        expect(run(k_one, described(c.chunks, c.riff_size)), c.written, c.report);
    EXPECT_EQ(outputs(), (std::set<std::string>{".genh", "back.genh", "music01.genh",
                                                std::string(250, 'n') + ".genh", "second.genh"}));
    EXPECT_EQ(slice(dir_.read("second.genh"), 0x98), slice(d_.wave_samples, 0x123, 0x100));
    EXPECT_EQ(slice(dir_.read(".genh"), 0x38, 96), coefs.body);
    // 2^28 bytes of 16-bit mono are 2^27 samples, counted in 64 bits (the
    // sample dump made as large, sparse: no disk is used for it).
    run_one({name("big"), pcm(1), strm_chunk(0, 0x10000000)});
    fs::resize_file(dir_.path / "dumpUC00.bin", 0x10000000);
    expect(run_tolvane(dir_.path, k_dump_names), "00000000 size 10000000 big", "");
    EXPECT_EQ(slice(dir_.read("big.genh"), 0x14, 4), (bytes{0x00, 0x00, 0x00, 0x08}));
}

// A sound whose file cannot be completed leaves what was there: the earlier
// file of its name and a hard link to it elsewhere unchanged, and no file of
// its own, whole or in part.  (POSIX: a file size limit fails the writes as
// a full disk does.)  A link or FIFO of its name is replaced, not written
// through.
TEST_F(Convert, FailedSoundsLeaveEarlierFiles) {
    d_.wave_samples.resize(0x30000);  // more than one output buffer
    const std::string eof = "fread: unexpected EOF\n", large = std::strerror(EFBIG);
    const int in_the_way = k_windows ? EACCES : EISDIR;  // a folder of the name
    const chunk cut_coefs{"ngcc", bytes(47)};            // at the end of the dump
    const struct {
        std::string name;
        std::vector<chunk> chunks;  // after its name and data
        std::uint32_t from, size;
        std::string report;
        std::size_t file_limit = 0;
    } cases[] = {
        {"eight", {pcm(1, 8)}, 0, 2, report(254, "unknown bitdepth")},
        {"coef", {k_dsp, fact_chunk(14), cut_coefs}, 0, 2, "util.cpp:168:get_bytes:" + eof},
        {"cut", {pcm(1)}, 0x2FFFF, 2, "util.cpp:23:dump:" + eof},
        {"dir", {pcm(1)}, 0, 2, failed(313, "rename of output file", in_the_way)},
        {"close", {pcm(1)}, 0, 0x100, failed(312, "fclose of output file", EFBIG), 300},
        {"data", {pcm(1)}, 0, 0x30000, "util.cpp:26:dump:fwrite: fwrite: " + large + "\n", 0x10000},
    };
    fs::create_directories(dir_.path / "backup");
    fs::create_directories(dir_.path / "dir.genh");
    std::set<std::string> earlier = {"tolvane-0.tmp"};  // as a killed run leaves it
    for (const auto& c : cases) earlier.insert(c.name + ".genh");
    earlier.erase("dir.genh");
    for (const std::string& n : earlier) {  // each a file of its name's bytes, and a link
        write_file(dir_.path / n, bytes(n.begin(), n.end()));
        fs::create_hard_link(dir_.path / n, dir_.path / "backup" / n);
    }
    for (const auto& c : cases) {
        std::vector<chunk> chunks = {name(c.name), strm_chunk(c.from, c.size)};
        chunks.insert(chunks.end(), c.chunks.begin(), c.chunks.end());
        std::array<char, 32> shown{};
        std::snprintf(shown.data(), shown.size(), "%08x size %08x ", c.from, c.size);
        if (c.file_limit == 0 || !k_windows)
            expect(run(k_one, described(chunks), k_dump_names, c.file_limit), shown.data() + c.name,
                   c.report);
    }
    for (const std::string& n : earlier) {
        EXPECT_EQ(dir_.read(n), bytes(n.begin(), n.end())) << n;
        EXPECT_EQ(dir_.read("backup/" + n), bytes(n.begin(), n.end())) << n;
    }
    earlier.insert({"backup", "dir.genh"});
    EXPECT_EQ(outputs(), earlier);  // and no temporary file
    // The last temporary name free is used; with every one taken, nothing is
    // written, and none removed.
    for (int i = 1; i < 999; ++i)
        write_file(dir_.path / ("tolvane-" + std::to_string(i) + ".tmp"), {});
    expect(run_one({name("last"), pcm(1), k_strm}), k_strm_shown + "last", "");
    write_file(dir_.path / "tolvane-999.tmp", {});
    const std::size_t files = outputs().size();
    expect(run_one({name("late"), pcm(1), k_strm}), "", failed(219, "fopen of output", EEXIST));
    EXPECT_EQ(outputs().size(), files);
}

// Names that would put the file elsewhere are refused everywhere, and so
// are control bytes, which would break or forge a progress line or drive the
// terminal.  On Windows so are devices (superscript digits in code page
// 1252), alternate streams and the characters it refuses, before any file is
// opened: they are ordinary files elsewhere.  Only letters make a drive prefix; near
// misses are names like any other, and Windows drops a dot or blank only
// from the end of the whole name.
TEST_F(Convert, NamesThatCannotBeFiles) {
    const auto outside = report(216, "name would put the file outside the current directory");
    const auto refused = report(218, "name is not a usable file name on this system");
    const auto expect_name = [&](const std::string& n, const std::string& report) {
        expect(run_one({name(n), pcm(1), k_strm}), report.empty() ? k_strm_shown + n : "", report);
    };
    for (const std::string n : {"../up", "a\\b", "A:x", "Z:", "a:", "z:x"}) expect_name(n, outside);
    for (const std::string n : {"t\x1F", "a\nWAVE data from 0 size 2 b", "\x1B]0;x\x07", "\x7F"})
        expect_name(n, refused);
    for (const std::string n :
         {"CON", "nul", "Aux.x", "com1", "LPT9 ", "CONIN$", "conout$ .txt", "COM\xB9", "lpt\xB2",
          "Com\xB3.x", "ab:c", "q?", "@:x", "[:x", "`:x", "{:x"})
        expect_name(n, k_windows ? refused : "");
    for (const std::string n :
         {"COM0", "CONSOLE", "LPT", "nul_1", ".x", "caf\xE9", "COM\xB4", "beep.", "beep "})
        expect_name(n, "");
    EXPECT_EQ(outputs().size(), k_windows ? 9U : 25U);
    EXPECT_TRUE(fs::exists(dir_.path / "beep..genh") && fs::exists(dir_.path / "beep .genh"));
}

// In a double-byte code page the second byte of a character may be that of
// '\': U+30BD is 83 5C in code page 932.  Windows reads the name as it is;
// in other code pages, and elsewhere, it holds a '\' and is refused.
TEST_F(Convert, NamesInDoubleByteCodePages) {
    run_one({name("\x83\x5C"), pcm(1), k_strm});
    EXPECT_EQ(fs::exists(dir_.path / as_path("\xE3\x82\xBD.genh")), k_japanese);
}

TEST_F(Convert, InputsAreNeverReplaced) {
    const auto refused = [](const std::string& n) {
        return "output file " + n + ".genh is one of the input dumps\n" +
               report(217, "output would overwrite an input");
    };
    // Each input, reached by its own name (in other letters on Windows), a
    // hard link or (POSIX) a symbolic link.
    const std::vector<std::string> args = {"idx.genh", "hdr.genh", "dumpUC00.bin", "dumpUC01.bin"};
    run({}, {});
    write_file(dir_.path / "idx.genh", k_one);
    fs::create_hard_link(dir_.path / "dump00.bin", dir_.path / "hdr.genh");
    fs::create_hard_link(dir_.path / "dumpUC01.bin", dir_.path / "uc1.genh");
    k_windows ? fs::create_hard_link(dir_.path / "dumpUC00.bin", dir_.path / "uc0.genh")
              : fs::create_symlink("dumpUC00.bin", dir_.path / "uc0.genh");
    const std::string last = k_windows ? "Idx" : "idx";
    for (const std::string& n : {std::string("hdr"), std::string("uc0"), std::string("uc1"), last})
        expect(run({}, described({name(n), pcm(1), k_strm}), args), "", refused(n));
    EXPECT_EQ((std::vector{dir_.read("idx.genh"), dir_.read("dump00.bin"),
                           dir_.read("dumpUC00.bin"), dir_.read("dumpUC01.bin")}),
              (std::vector{k_one, d_.header, d_.wave_samples, d_.wavs_samples}));
    // An index of 2^31 - 1 bytes is walked (to the same refusal); one byte
    // more is not (sparse files: no disk is used).
    fs::resize_file(dir_.path / "idx.genh", 0x7FFFFFFFLL);
    expect(run_tolvane(dir_.path, args), "", refused(last));
    fs::resize_file(dir_.path / "idx.genh", 0x80000000LL);
    expect(run_tolvane(dir_.path, args), "",
           report(48, "index dump too large for 32-bit offsets", "main"));
}

// The same dumps from every processor, compiler and C library: their sizes,
// and a 64-bit FNV-1a digest of the four one after another, which a change of
// any one byte changes.
TEST(SampleBank, SameDumpsEverywhere) {
    const dumps d = sample_bank();
    std::vector<std::size_t> sizes;
    std::uint64_t digest = 0xCBF29CE484222325;
    for (const bytes* dump : {&d.index, &d.header, &d.wave_samples, &d.wavs_samples}) {
        sizes.push_back(dump->size());
        for (const std::uint8_t byte : *dump) digest = (digest ^ byte) * 0x100000001B3;
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{152, 1238, 91472, 85128}));
    EXPECT_EQ(digest, 0xD044E84227F03304);
}

// The sample bank's sounds, each rebuilt from its tone: the header as a
// player reads it, the coefficient blocks, the samples copied unchanged.
TEST(SampleBank, EverySoundConvertsExactly) {
    scratch_dir dir;
    sample_bank().write(dir.path);
    EXPECT_EQ(run_tolvane(dir.path, k_dump_names).status, 0);
    for (const tone_spec& t : sample_bank_tones()) {
        const sound s = (t.dsp ? dsp_tone : pcm_tone)(t.name, t.form, t.channels, t.sample_rate,
                                                      t.centihertz, t.sample_count);
        const bool stereo = t.channels == 2;
        // PCM frames alternate one 2-byte sample per channel; stereo DSP
        // holds all of channel 0's frames, then all of channel 1's.
        const auto interleave =
            static_cast<std::uint32_t>(t.dsp ? (stereo ? s.data.size() / 2 : 0) : 2);
        // 0x04..0x20, then for DSP 0x24..0x2C and the coefficient blocks at 0x38.
        const std::uint32_t fields[] = {
            t.channels,       interleave, t.sample_rate, 0xFFFFFFFF, t.sample_count,
            t.dsp ? 12U : 3U, 0x98,       0x38,          0x38,       stereo ? 0x68U : 0U,
            stereo ? 0U : 2U};
        bytes header = {'G', 'E', 'N', 'H'};
        for (std::size_t i = 0; i < (t.dsp ? 11U : 8U); ++i) append_le32(header, fields[i]);
        header.resize(0x38);
        if (t.dsp) header = concat({header, ngcc_chunk(s.coefs).body});
        header.resize(0x98);
        EXPECT_EQ(dir.read(std::string(t.name) + ".genh"), concat({header, s.data})) << t.name;
    }
}

}  // namespace
