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
#include <map>

using namespace bank;

namespace {

#ifdef _WIN32
constexpr bool k_windows = true;
#else
constexpr bool k_windows = false;
#endif

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

bytes slice(const bytes& from, std::size_t at, std::size_t size) {
    return {from.begin() + static_cast<std::ptrdiff_t>(at),
            from.begin() + static_cast<std::ptrdiff_t>(at + size)};
}

// Chunks, short, so that a description fits on a line.
chunk name(const std::string& text, std::size_t zeros = 1) { return name_chunk(text, zeros); }
chunk pcm(std::uint16_t channels, std::uint16_t bits = 16) {
    return fmt_chunk(1, channels, 22050, static_cast<std::uint16_t>(channels * bits / 8), bits);
}
chunk dsp() { return fmt_chunk(0x666, 1, 32000, 8, 4); }
chunk sized(chunk c, std::int64_t size) {
    c.size = size;
    return c;
}
chunk wsmp(std::int64_t size) { return sized(chunk{"wsmp", {}}, size); }
const chunk k_strm = strm_chunk(0, 2);

// A header dump whose one description, of these chunks, starts at 0x40.
bytes described(const std::vector<chunk>& chunks, std::int64_t riff_size = -1) {
    return concat({bytes(0x40, 0xEE), riff("WAVE", chunks, riff_size)});
}
const bytes k_one = sound_record(0x40);

class Convert : public testing::Test {
protected:
    Convert() {
        d_.wave_samples.resize(0x3000);  // every byte tells where it came from
        for (std::size_t i = 0; i < d_.wave_samples.size(); ++i)
            d_.wave_samples[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
    }
    void write(const bytes& index, const bytes& header) {
        d_.index = index;
        d_.header = header;
        d_.write(dir_.path);
    }
    run_result run(const std::vector<std::string>& args = k_dump_names,
                   const std::string& piped = "", const std::string& stdout_path = "") {
        return run_tolvane(dir_.path, args, piped, stdout_path);
    }
    run_result run_one(const std::vector<chunk>& chunks) {
        write(k_one, described(chunks));
        return run();
    }
    void expect(const run_result& r, const std::string& out, const std::string& report) {
        EXPECT_EQ(r.status, report.empty() ? 0 : 1);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, k_banner + report);
    }
    // The files the runs wrote, besides the dumps.
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path))
            names.push_back(entry.path().filename().string());
        std::erase_if(names, [](const std::string& n) { return n.ends_with(".bin"); });
        std::sort(names.begin(), names.end());
        return names;
    }
    dumps d_;
    scratch_dir dir_;
};

TEST_F(Convert, ArgumentsAndInputsThatCannotBeUsed) {
    expect(run({"a", "b", "c"}), "",
           "tolvane.cpp:26:main: usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin\n");
    // The first input that cannot be opened is the one reported.
    const std::string missing = " open failed: No such file or directory\n";
    dir_.write("e", {});
    dir_.write("index", sound_record(0x10));
    expect(run({"n", "n", "n", "n"}), "", "tolvane.cpp:34:main:input file 1" + missing);
    expect(run({"e", "n", "e", "e"}), "", "tolvane.cpp:36:main:input file 2" + missing);
    expect(run({"e", "e", "n", "n"}), "", "tolvane.cpp:38:main:input file 3" + missing);
    expect(run({"e", "e", "e", "n"}), "", "tolvane.cpp:40:main:input file 4" + missing);
    // A folder opens on POSIX, but reading it fails; Windows refuses to open it.
    fs::create_directory(dir_.path / "folder");
    expect(run({"index", "folder", "e", "e"}), "",
           k_windows ? "tolvane.cpp:36:main:input file 2 open failed: Permission denied\n"
                     : "util.cpp:168:get_bytes:fread: fread: Is a directory\n");
    if (k_windows) return;
    // A pipe cannot be measured (the index) or positioned (the header dump).
    const std::string piped = "\\200\\000\\000\\001";  // as printf reads it
    expect(run({"/dev/stdin", "e", "e", "e"}, piped), "",
           "tolvane.cpp:44:main:fseek: Illegal seek\n");
    expect(run({"index", "/dev/stdin", "e", "e"}, piped), "",
           "util.cpp:173:get_bytes_seek:fseek: Illegal seek\n");
}

// Each row a bank damaged in one place, and the report that names it.
TEST_F(Convert, DamagedBanksAreRefusedBeforeAnyFileIsOpened) {
    const auto unknown = [](const std::string& word) {
        return "unknown type " + word + "\ntolvane.cpp:104:main: unknown type\n";
    };
    const std::string eof = "util.cpp:126:get_32_be:fread: unexpected EOF\n";
    const std::string missing = "tolvane.cpp:204:process_wave: missing vital info from RIFF\n";
    const std::string loops = "tolvane.cpp:192:process_wave: bad chunk size\n";
    const std::string zero =
        "tolvane.cpp:199:process_wave: PCM with 0 channels or 0 bits per sample\n";
    const std::string too_long =
        "tolvane.cpp:215:process_wave: name chunk longer than 4096 bytes\n";
    const std::string who = "\ntolvane.cpp:188:process_wave: who knows?\n";
    const bytes ampc = concat({bytes(0x10, 0xEE), riff("AMPC", {})}), other(0x2b0, 0x11);
    const struct {
        bytes index, header;
        std::string report;  // empty: a complete walk
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
        // AMPC sounds are passed over; the word after the offset is the next marker.
        {concat({sound_record(0x10), sound_record(0x10)}), ampc, ""},
        {concat({sound_record(0x10), index_record(0x80000003)}), ampc, unknown("80000003")},
        // The gaps between accepted markers, bit 31 clear, after a payload.
        {index_record(0x80000002), {}, unknown("80000002")},
        {index_record(0x80000119), {}, unknown("80000119")},
        {index_record(0x0000ABCD), {}, unknown("0000abcd")},
        {index_record(0x8000010E, {1, 0xFFFFFFFF}), {}, unknown("ffffffff")},
        // Ending inside a payload word, inside a marker, before a sound's offset.
        {{0x80, 0x00, 0x00, 0x01, 0x00, 0x00}, {}, eof},
        {{0x80, 0x00, 0x01}, {}, eof},
        {index_record(k_sound_record), {}, eof},
        // The RIFF header a sound record points at; offsets shown unsigned,
        // without zero fill.
        {sound_record(0x2a0), other,
         "non-RIFF header at 0x2a0\ntolvane.cpp:65:main: non-RIFF header, possible bad "
         "data00.bin?\n"},
        {sound_record(0xFFFFFFF0), {}, "util.cpp:173:get_bytes_seek:fseek: Invalid argument\n"},
        {sound_record(0x2a8), other, "util.cpp:168:get_bytes:fread: unexpected EOF\n"},
        {sound_record(0x10), concat({bytes(0x10, 0xEE), riff("WAVX", {})}),
         "unexpected RIFF type at 0x10\n"
         "tolvane.cpp:82:main: unexpected RIFF type, possible bad data00.bin?\n"},
        // The description.
        {k_one, described({fmt_chunk(2, 1, 8000, 2, 16), chunk{"junk", {}}}),  // whatever follows
         "tolvane.cpp:161:process_wave: only expecting codec id 0x666 or 0x1\n"},
        {k_one, described({name("x"), chunk{"LIST", bytes(4, 0)}}),
         "unexpected chunk at 0x56" + who},
        {k_one, described({name("x"), pcm(1), fact_chunk(5), k_strm}),
         "tolvane.cpp:197:process_wave: didn't expect fact for uncompressed data\n"},
        {k_one, described({name("x"), dsp(), chunk{"ngcc", bytes(48)}, k_strm}), missing},  // fact
        {k_one, described({name("x"), dsp(), fact_chunk(14), k_strm}), missing},  // no ngcc
        {k_one, described({pcm(1), k_strm}), missing},                            // no name
        {k_one, described({name("x"), pcm(1)}), missing},                         // no strm
        {k_one, described({name("x"), fact_chunk(1), k_strm}), missing},          // no fmt
        {k_one, described({name("x"), pcm(1), k_strm}, 4), missing},  // the form type only
        {k_one, described({name(std::string(5000, 'h'), 0), pcm(1)}), missing},  // before 215
        {k_one, described({pcm(3), name("x"), strm_chunk(0, 6)}),
         "tolvane.cpp:207:process_wave: not mono or stereo\n"},
        {k_one, described({name("x"), fmt_chunk(1, 0, 8000, 2, 16), k_strm}), zero},
        {k_one, described({name("x"), fmt_chunk(1, 1, 8000, 2, 0), k_strm}), zero},
        // A size carrying the next start past 2^31 fails its seek.
        {k_one, described({name("x"), wsmp(0x7FFFFFF0)}),
         "util.cpp:132:get_32_be_seek:fseek: Invalid argument\n"},
        {k_one, described({name("x")}, 0x1000), eof},
        {k_one, described({chunk{"fmt ", {1, 0, 1, 0}}}),
         "util.cpp:140:get_32_le:fread: unexpected EOF\n"},
        // A step back into the name's bytes, where "LIST" is read as a chunk.
        {k_one, described({name("LIST"), wsmp(0xFFFFFFF3)}), "unexpected chunk at 0x54" + who},
        // Walks that come back to a chunk they read: onto itself
        // (0x4C + 0xFFFFFFF8 + 8), and round two chunks.
        {k_one, described({wsmp(0xFFFFFFF8)}),
         "chunk walk repeats from the chunk at 0x4c\n" + loops},
        {k_one, described({name("x"), pcm(1), wsmp(0xFFFFFFE0)}),
         "chunk walk repeats from the chunk at 0x56\n" + loops},
        {k_one, described({pcm(1), k_strm, name(std::string(4097, 'n'), 0)}), too_long},
        // The walk moves on by 0xFFFFFFFF + 8 = 7 bytes, where the RIFF ends.
        {k_one, described({pcm(1), k_strm, sized(name("x"), 0xFFFFFFFF)}, 4 + 24 + 16 + 7),
         too_long},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        write(c.index, c.header);
        expect(run(), "", c.report);
    }
    for (const std::string n : {"../up", "a\\b", "A:x", "Z:", "a:", "z:x"})
        expect(run_one({name(n), pcm(1), k_strm}), "",
               "tolvane.cpp:216:process_wave: name would put the file outside the current "
               "directory\n");
    EXPECT_EQ(outputs(), std::vector<std::string>{});
}

TEST_F(Convert, ChunkWalkNamesAndFields) {
    // A later chunk replaces an earlier one; listed chunks without use are
    // ignored; an odd-sized chunk is followed directly by the next; fields are
    // read at their fixed offsets whatever a chunk's size says.
    expect(run_one({name("first"), sized(chunk{"wsmp", {9, 9, 9}}, 3), strm_chunk(1, 1),
                    chunk{"guid", bytes(5, 0x98)}, sized(pcm(1), 16), name("second", 2),
                    sized(strm_chunk(0x123, 0x100), 8)}),
           "WAVE data from 00000123 size 00000100 second.genh\n", "");
    EXPECT_EQ(slice(dir_.read("second.genh"), 0x98, 0x100), slice(d_.wave_samples, 0x123, 0x100));
    // A size may lead the walk back: from inside the "guid" it reads the word
    // "wsmp" and a size of 16, which carry it past the end.  It converts.
    const chunk guid{"guid", {'w', 's', 'm', 'p', 16, 0, 0, 0}};
    EXPECT_EQ(run_one({name("back"), pcm(1), k_strm, guid, wsmp(0xFFFFFFF0)}).status, 0);
    // Names run up to the first zero byte, or over all the bytes; an empty one
    // names ".genh"; a later name chunk replaces an oversized one.
    for (const chunk& n :
         {name("music01", 2), name("nozero", 0), name("", 0), name(std::string(250, 'n'), 3846)})
        EXPECT_EQ(run_one({n, pcm(1), k_strm}).status, 0);
    EXPECT_EQ(run_one({name(std::string(5000, 'h'), 0), pcm(1), k_strm, name("fine")}).status, 0);
    EXPECT_EQ(outputs(), (std::vector<std::string>{".genh", "back.genh", "fine.genh",
                                                   "music01.genh", std::string(250, 'n') + ".genh",
                                                   "nozero.genh", "second.genh"}));
}

TEST_F(Convert, NamesWindowsCannotTake) {
    // Devices, alternate streams, refused characters, a trailing dot or blank:
    // refused on Windows before any file is opened, ordinary files elsewhere.
    const std::string refused =
        "tolvane.cpp:218:process_wave: name is not a usable file name on this system\n";
    for (const std::string n :
         {"CON", "nul", "Aux.x", "com1", "LPT9 ", "ab:c", "1:x", "q?", "t\x01", "dot.", "blank "})
        EXPECT_EQ(run_one({name(n), pcm(1), k_strm}).err, k_banner + (k_windows ? refused : ""))
            << n;
    EXPECT_EQ(outputs().size(), k_windows ? 0U : 11U);
    // Near misses are names like any other.
    for (const std::string n : {"COM0", "CONSOLE", "LPT", "nul_1", ".x", "caf\xE9"})
        EXPECT_EQ(run_one({name(n), pcm(1), k_strm}).status, 0) << n;
}

TEST_F(Convert, FailuresAroundTheOutputFile) {
    // 8-bit PCM: the file is created and the line printed, then refused.
    expect(run_one({name("eight"), pcm(1, 8), k_strm}),
           "WAVE data from 00000000 size 00000002 eight.genh\n",
           "tolvane.cpp:254:process_wave: unknown bitdepth\n");
    EXPECT_EQ(dir_.read("eight.genh"), bytes{});
    // 0x1100 bytes from 0x2000 of a 0x3000-byte dump: two whole pieces, then
    // the third comes up short.
    expect(run_one({name("cut"), pcm(1), strm_chunk(0x2000, 0x1100)}),
           "WAVE data from 00002000 size 00001100 cut.genh\n",
           "util.cpp:23:dump:fread: unexpected EOF\n");
    EXPECT_EQ(slice(dir_.read("cut.genh"), 152, 4096), slice(d_.wave_samples, 0x2000, 4096));
    EXPECT_EQ(dir_.read("cut.genh").size(), 152U + 4096);
    // 2^28 bytes of 16-bit mono are 2^27 samples, counted in 64 bits.
    run_one({name("big"), pcm(1), strm_chunk(0, 0x10000000)});
    EXPECT_EQ(slice(dir_.read("big.genh"), 0x14, 4), (bytes{0x00, 0x00, 0x00, 0x08}));
    // A coefficient block past the end of the header dump: an empty file.
    const run_result r =
        run_one({name("coef"), dsp(), fact_chunk(1), k_strm, sized(chunk{"ngcc", bytes(40)}, 96)});
    EXPECT_EQ(r.err, k_banner + "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    EXPECT_EQ(dir_.read("coef.genh"), bytes{});
    // A name past the end: no file is opened; one of that name stays as it was.
    dir_.write("kept.genh", {1, 2, 3});
    expect(run_one({pcm(1), k_strm, sized(name("kept", 0), 64)}), "",
           "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    EXPECT_EQ(dir_.read("kept.genh"), (bytes{1, 2, 3}));
    // The longest name, with no zero after it, is too long for a file name.
    expect(run_one({name(std::string(4096, 'n'), 0), pcm(1), k_strm}), "",
           std::string("tolvane.cpp:219:process_wave:fopen of output: ") +
               std::strerror(k_windows ? ENOENT : ENAMETOOLONG) + "\n");
    fs::create_directory(dir_.path / "taken.genh");
    expect(run_one({name("taken"), pcm(1), k_strm}), "",
           std::string("tolvane.cpp:219:process_wave:fopen of output: ") +
               (k_windows ? "Permission denied\n" : "Is a directory\n"));
    if (k_windows) return;
    // Data that cannot be written fails the run, when the file is closed at
    // the latest; so do progress lines that cannot be written.
    fs::create_symlink("/dev/full", dir_.path / "full.genh");
    expect(run_one({name("full"), pcm(1), k_strm}),
           "WAVE data from 00000000 size 00000002 full.genh\n",
           "tolvane.cpp:312:process_wave:fclose of output file: No space left on device\n");
    write(k_one, described({name("x"), pcm(1), k_strm}));
    expect(run(k_dump_names, "", "/dev/full"), "",
           "tolvane.cpp:108:main:fwrite: fwrite: No space left on device\n");
    write({}, {});
    EXPECT_EQ(run(k_dump_names, "", "/dev/full").status, 0);
}

TEST_F(Convert, InputsAreNeverReplaced) {
    const std::string report = "tolvane.cpp:217:process_wave: output would overwrite an input\n";
    // The output's name reaches an input through a hard link, a symbolic
    // link (POSIX), or (Windows) by the input's name in other letters.
    write({}, {});
    fs::create_hard_link(dir_.path / "dumpUC01.bin", dir_.path / "hard.genh");
    if (!k_windows) fs::create_symlink("dump00.bin", dir_.path / "soft.genh");
    dir_.write("idx.genh", k_one);
    const std::vector<std::string> args = {"idx.genh", "dump00.bin", "dumpUC00.bin",
                                           "dumpUC01.bin"};
    for (const std::string n : {"hard", k_windows ? "Idx" : "soft"}) {
        write({}, described({name(n), pcm(1), k_strm}));
        expect(run(args), "", "output file " + n + ".genh is one of the input dumps\n" + report);
        EXPECT_EQ(dir_.read("dump00.bin"), d_.header);
        EXPECT_EQ(dir_.read("idx.genh"), k_one);
    }
    EXPECT_EQ(dir_.read("dumpUC01.bin"), d_.wavs_samples);
    // An index past 2 GiB (sparse: no disk is used).
    fs::resize_file(dir_.path / "idx.genh", 0x80000000LL);
    expect(run(args), "", "tolvane.cpp:48:main: index dump too large for 32-bit offsets\n");
}

// The sample bank's sounds, each rebuilt from its tone: the header as a
// player reads it, the coefficient blocks, the samples copied unchanged.
TEST(SampleBank, EverySoundConvertsExactly) {
    scratch_dir dir;
    sample_bank().write(dir.path);
    const run_result r = run_tolvane(dir.path, k_dump_names);
    EXPECT_EQ(r.out,
              "WAVE data from 00000000 size 000033ae pcm_mono_a4.genh\n"
              "WAVS data from 00000000 size 00009600 pcm_stereo_c5.genh\n"
              "WAVE data from 000033c0 size 00001570 dsp_mono_e5.genh\n"
              "WAVS data from 00009600 size 00004050 dsp_stereo_g4.genh\n"
              "WAVS data from 0000d660 size 0000675c pcm_mono_d5.genh\n"
              "WAVE data from 00004940 size 0000e100 pcm_stereo_b4.genh\n"
              "WAVS data from 00013dc0 size 00000ec8 dsp_mono_a5.genh\n"
              "WAVE data from 00012a40 size 00003b10 dsp_stereo_c4.genh\n");
    for (const tone_spec& t : sample_bank_tones()) {
        const sound s = (t.dsp ? dsp_tone : pcm_tone)(t.name, t.form, t.channels, t.sample_rate,
                                                      t.frequency, t.sample_count);
        const bool stereo = t.channels == 2;
        // PCM frames alternate one 2-byte sample per channel; stereo DSP
        // holds all of channel 0's frames, then all of channel 1's.
        const auto interleave =
            static_cast<std::uint32_t>(t.dsp ? (stereo ? s.data.size() / 2 : 0) : 2);
        std::map<std::size_t, std::uint32_t> fields = {
            {0x04, t.channels},     {0x08, interleave},
            {0x0C, t.sample_rate},  {0x10, 0xFFFFFFFF},
            {0x14, t.sample_count}, {0x18, t.dsp ? 12 : 3},
            {0x1C, 0x98},           {0x20, 0x38}};
        bytes header(0x98, 0);
        std::copy_n("GENH", 4, header.begin());
        if (t.dsp) {
            fields.insert({{0x24, 0x38}, {0x28, stereo ? 0x68 : 0}, {0x2C, stereo ? 0 : 2}});
            const bytes blocks = ngcc_chunk(s.coefs).body;
            std::copy(blocks.begin(), blocks.end(), header.begin() + 0x38);
        }
        for (const auto& [at, value] : fields)
            for (std::size_t i = 0; i < 4; ++i)
                header[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
        EXPECT_EQ(dir.read(std::string(t.name) + ".genh"), concat({header, s.data})) << t.name;
    }
}

}  // namespace
