// End-to-end tests: the built program runs on dumps written by the test, and
// its standard output, standard error, exit status and files are compared
// byte for byte.
#include "bank.hpp"
#include "genh_reader.hpp"
#include "run_tool.hpp"
#include "tone.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

using namespace bank;
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr bool k_windows = true;
#else
constexpr bool k_windows = false;
#endif

constexpr std::uint32_t k_riff_at = 0x40;  // where the tests put a description

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

bytes slice(const bytes& from, std::size_t at, std::size_t size) {
    return {from.begin() + static_cast<std::ptrdiff_t>(at),
            from.begin() + static_cast<std::ptrdiff_t>(at + size)};
}

// Sample dumps whose every byte tells where it came from.
bytes patterned(std::size_t size, std::uint8_t salt) {
    bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(i * 31 + salt + i / 251);
    return out;
}

// An "ngcc" chunk whose two 48-byte blocks differ in every byte: channel 0's
// is 0x01, 0x02, ... 0x30, channel 1's 0x81, 0x82, ... 0xB0.
chunk numbered_ngcc() {
    chunk c{"ngcc", {}};
    for (int i = 0; i < 96; ++i)
        c.body.push_back(static_cast<std::uint8_t>((i < 48 ? 0x01 : 0x81) + i % 48));
    return c;
}

chunk pcm_fmt(std::uint16_t channels, std::uint16_t bits = 16) {
    return fmt_chunk(1, channels, 22050, static_cast<std::uint16_t>(channels * bits / 8), bits);
}
chunk dsp_fmt(std::uint16_t channels) { return fmt_chunk(0x666, channels, 32000, 8, 4); }
chunk sized(chunk c, std::int64_t size) {
    c.size = size;
    return c;
}
// A chunk of no use to the converter, its size word as given.
chunk wsmp(std::int64_t size, bytes body = {}) { return sized(chunk{"wsmp", body}, size); }

// A GENH header of the listed little-endian fields and blocks, zero
// elsewhere, followed by the data.
bytes genh_file_of(const std::map<std::size_t, std::uint32_t>& fields,
                   const std::map<std::size_t, bytes>& blocks, const bytes& data) {
    bytes file(152, 0);
    std::memcpy(file.data(), "GENH", 4);
    for (const auto& [at, value] : fields)
        for (std::size_t i = 0; i < 4; ++i)
            file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    for (const auto& [at, block] : blocks)
        std::copy(block.begin(), block.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return concat({file, data});
}

class Convert : public testing::Test {
protected:
    Convert() {
        d_.wave_samples = patterned(0x3000, 0x11);
        d_.wavs_samples = patterned(0x3000, 0x77);
    }
    // Dumps of one sound record pointing at a description made of `chunks`.
    void write_one(const std::vector<chunk>& chunks, const std::string& form = "WAVE",
                   std::int64_t riff_size = -1) {
        d_.header = concat({bytes(k_riff_at, 0xEE), riff(form, chunks, riff_size)});
        d_.index = sound_record(k_riff_at);
        d_.write(dir_.path());
    }
    run_result run_one(const std::vector<chunk>& chunks, const std::string& form = "WAVE",
                       std::int64_t riff_size = -1, const run_options& options = {}) {
        write_one(chunks, form, riff_size);
        return run_tolvane(dir_.path(), k_dump_names, options);
    }
    void expect(const run_result& r, const std::string& out, const std::string& report) {
        EXPECT_EQ(r.status, report.empty() ? 0 : 1);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, k_banner + report);
    }
    // The files the run wrote, besides the dumps.
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        for (const std::string& name : dir_.files())
            if (name.find(".bin") == std::string::npos) names.push_back(name);
        return names;
    }
    dumps d_;
    scratch_dir dir_;
};

TEST_F(Convert, ArgumentsAndInputsThatCannotBeUsed) {
    const std::string usage =
        "tolvane.cpp:26:main: usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin\n";
    expect(run_tolvane(dir_.path(), {"a", "b", "c"}), "", usage);
    expect(run_tolvane(dir_.path(), {"a", "b", "c", "d", "e"}), "", usage);
    // The first input that cannot be opened is the one reported.
    const std::string missing = " open failed: No such file or directory\n";
    dir_.write("e", {});
    expect(run_tolvane(dir_.path(), {"n", "n", "n", "n"}), "",
           "tolvane.cpp:34:main:input file 1" + missing);
    expect(run_tolvane(dir_.path(), {"e", "n", "e", "e"}), "",
           "tolvane.cpp:36:main:input file 2" + missing);
    expect(run_tolvane(dir_.path(), {"e", "e", "n", "n"}), "",
           "tolvane.cpp:38:main:input file 3" + missing);
    expect(run_tolvane(dir_.path(), {"e", "e", "e", "n"}), "",
           "tolvane.cpp:40:main:input file 4" + missing);
    // A folder opens on POSIX, but reading it fails; Windows refuses to open it.
    dir_.write("index", sound_record(0x10));
    fs::create_directory(dir_.file("folder"));
    expect(run_tolvane(dir_.path(), {"index", "folder", "e", "e"}), "",
           k_windows ? "tolvane.cpp:36:main:input file 2 open failed: Permission denied\n"
                     : "util.cpp:168:get_bytes:fread: fread: Is a directory\n");
    if (k_windows) return;
    // A pipe cannot be measured (the index) or positioned (the header dump).
    run_options piped;
    piped.stdin_data = std::string("\x80\x00\x00\x01", 4);
    expect(run_tolvane(dir_.path(), {"/dev/stdin", "e", "e", "e"}, piped), "",
           "tolvane.cpp:44:main:fseek: Illegal seek\n");
    expect(run_tolvane(dir_.path(), {"index", "/dev/stdin", "e", "e"}, piped), "",
           "util.cpp:173:get_bytes_seek:fseek: Illegal seek\n");
}

TEST_F(Convert, IndexWalks) {
    const std::string unknown = "tolvane.cpp:104:main: unknown type\n";
    const std::string eof = "util.cpp:126:get_32_be:fread: unexpected EOF\n";
    const bytes ampc = concat({bytes(0x10, 0xEE), riff("AMPC", {})});
    const struct {
        bytes index;
        bytes header;
        std::string report;  // empty: a complete walk
    } cases[] = {
        {{}, {}, ""},
        // Every stepped-over marker, with payloads of several lengths (a zero
        // word among them), including none and one running to the end.
        {concat({index_record(0x80000001, {1, 0}), index_record(0x80000004, {}),
                 index_record(0x80000005, {0x7FFFFFFF}), index_record(0x80000006, {3}),
                 index_record(0x80000007, {}), index_record(0x8000010A, {4, 5, 6}),
                 index_record(0x8000010E, {}), index_record(0x80000115, {7}),
                 index_record(0x80000117, {}), index_record(0x80000118, {8}),
                 index_record(0x8000011A, {9, 10})}),
         {},
         ""},
        // AMPC sounds are passed over; the word after the offset is the next marker.
        {concat({sound_record(0x10), sound_record(0x10)}), ampc, ""},
        {concat({sound_record(0x10), index_record(0x80000003)}), ampc,
         "unknown type 80000003\n" + unknown},
        // The gaps between accepted markers, bit 31 clear, after a payload.
        {index_record(0x80000002), {}, "unknown type 80000002\n" + unknown},
        {index_record(0x80000008), {}, "unknown type 80000008\n" + unknown},
        {index_record(0x80000114), {}, "unknown type 80000114\n" + unknown},
        {index_record(0x80000116), {}, "unknown type 80000116\n" + unknown},
        {index_record(0x80000119), {}, "unknown type 80000119\n" + unknown},
        {index_record(0x0000ABCD), {}, "unknown type 0000abcd\n" + unknown},
        {concat({index_record(0x8000010E, {1, 2}), index_record(0xFFFFFFFF)}),
         {},
         "unknown type ffffffff\n" + unknown},
        // Ending inside a payload word, inside a marker, before a sound's offset.
        {{0x80, 0x00, 0x00, 0x01, 0x00, 0x00}, {}, eof},
        {{0x80, 0x00, 0x01}, {}, eof},
        {index_record(k_sound_record), {}, eof},
        // The RIFF header a sound record points at; offsets shown unsigned,
        // without zero fill.
        {sound_record(0x2a0), bytes(0x2b0, 0x11),
         "non-RIFF header at 0x2a0\n"
         "tolvane.cpp:65:main: non-RIFF header, possible bad data00.bin?\n"},
        {sound_record(0xFFFFFFF0), {}, "util.cpp:173:get_bytes_seek:fseek: Invalid argument\n"},
        {sound_record(0x2a8), bytes(0x2b0, 0x11), "util.cpp:168:get_bytes:fread: unexpected EOF\n"},
        {sound_record(0x10), concat({bytes(0x10, 0xEE), riff("WAVX", {})}),
         "unexpected RIFF type at 0x10\n"
         "tolvane.cpp:82:main: unexpected RIFF type, possible bad data00.bin?\n"},
    };
    for (const auto& c : cases) {
        d_.index = c.index;
        d_.header = c.header;
        d_.write(dir_.path());
        expect(run_tolvane(dir_.path(), k_dump_names), "", c.report);
    }
    EXPECT_TRUE(outputs().empty());
}

TEST_F(Convert, HeaderFieldsOfEachKindOfSound) {
    // Fields: 0x04 channels, 0x08 interleave, 0x0C rate, 0x10 loop start (none),
    // 0x14 sample count, 0x18 codec (3 = 16-bit big-endian PCM, 12 = DSP), 0x1C
    // data start, 0x20 header size, 0x24/0x28 coefficient offsets, 0x2C DSP layout.
    const chunk ngcc = numbered_ngcc();
    const bytes coef0 = slice(ngcc.body, 0, 48), coef1 = slice(ngcc.body, 48, 48);
    const std::map<std::size_t, std::uint32_t> common = {
        {0x10, 0xFFFFFFFF}, {0x1C, 0x98}, {0x20, 0x38}};
    const struct {
        std::string form;
        std::vector<chunk> chunks;
        std::string line;
        std::map<std::size_t, std::uint32_t> fields;
        std::map<std::size_t, bytes> blocks;
        bytes data;
    } cases[] = {
        // Mono PCM: 0x100 bytes are 0x80 samples; the interleave is one sample.
        {"WAVE",
         {name_chunk("mono"), pcm_fmt(1), strm_chunk(0x123, 0x100)},
         "WAVE data from 00000123 size 00000100 mono.genh\n",
         {{0x04, 1}, {0x08, 2}, {0x0C, 22050}, {0x14, 0x80}, {0x18, 3}},
         {},
         slice(d_.wave_samples, 0x123, 0x100)},
        // Stereo PCM is frame-interleaved with a block alignment of 4: each
        // channel's run is one 2-byte sample.  WAVS data is in the fourth input.
        {"WAVS",
         {pcm_fmt(2), strm_chunk(0x10, 0x100), name_chunk("st")},
         "WAVS data from 00000010 size 00000100 st.genh\n",
         {{0x04, 2}, {0x08, 2}, {0x0C, 22050}, {0x14, 64}, {0x18, 3}},
         {},
         slice(d_.wavs_samples, 0x10, 0x100)},
        // Mono DSP: no interleave, the count from "fact", one coefficient block.
        {"WAVE",
         {dsp_fmt(1), fact_chunk(0x1234), ngcc, name_chunk("d1"), strm_chunk(0x800, 0x48)},
         "WAVE data from 00000800 size 00000048 d1.genh\n",
         {{0x04, 1}, {0x0C, 32000}, {0x14, 0x1234}, {0x18, 12}, {0x24, 0x38}, {0x2C, 2}},
         {{0x38, coef0}},
         slice(d_.wave_samples, 0x800, 0x48)},
        // Stereo DSP of an odd size: half the data, rounded down; two blocks.
        {"WAVS",
         {name_chunk("d2"), strm_chunk(0x7, 0x91), ngcc, fact_chunk(0x20), dsp_fmt(2)},
         "WAVS data from 00000007 size 00000091 d2.genh\n",
         {{0x04, 2},
          {0x08, 0x48},
          {0x0C, 32000},
          {0x14, 0x20},
          {0x18, 12},
          {0x24, 0x38},
          {0x28, 0x68}},
         {{0x38, coef0}, {0x68, coef1}},
         slice(d_.wavs_samples, 0x7, 0x91)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        expect(run_one(c.chunks, c.form), c.line, "");
        const std::string name = c.line.substr(c.line.rfind(' ') + 1);
        auto fields = c.fields;
        fields.insert(common.begin(), common.end());
        EXPECT_EQ(dir_.read(name.substr(0, name.size() - 1)),
                  genh_file_of(fields, c.blocks, c.data));
    }
}

TEST_F(Convert, ChunkWalkNamesAndOrder) {
    // A later chunk replaces an earlier one; listed chunks without use are
    // ignored; an odd-sized chunk is followed directly by the next; fields are
    // read at their fixed offsets whatever a chunk's size says.
    expect(run_one({name_chunk("first"), wsmp(3, bytes(3, 0x99)), strm_chunk(0x999, 0x999),
                    chunk{"guid", bytes(5, 0x98)}, sized(pcm_fmt(1), 16), name_chunk("second", 2),
                    sized(strm_chunk(0x20, 0x40), 8)}),
           "WAVE data from 00000020 size 00000040 second.genh\n", "");
    // A size may lead the walk back: from inside the "guid" it reads the word
    // "wsmp" and a size of 16, which carry it past the end.  It converts.
    bytes inner = {'w', 's', 'm', 'p'};
    append_le32(inner, 16);
    expect(run_one({name_chunk("back"), pcm_fmt(1), strm_chunk(0, 2), chunk{"guid", inner},
                    wsmp(0xFFFFFFF0)}),
           "WAVE data from 00000000 size 00000002 back.genh\n", "");
    // Names run up to the first zero byte, or over all the bytes; an empty one
    // names ".genh"; a later name chunk replaces an oversized one.
    for (const auto& [name, zeros] : std::vector<std::pair<std::string, std::size_t>>{
             {"music01", 2}, {"nozero", 0}, {"", 0}, {std::string(250, 'n'), 3846}})
        EXPECT_EQ(run_one({name_chunk(name, zeros), pcm_fmt(1), strm_chunk(0, 2)}).status, 0);
    EXPECT_EQ(run_one({name_chunk(std::string(5000, 'h'), 0), pcm_fmt(1), strm_chunk(0, 2),
                       name_chunk("fine")})
                  .status,
              0);
    EXPECT_EQ(outputs(), (std::vector<std::string>{".genh", "back.genh", "fine.genh",
                                                   "music01.genh", std::string(250, 'n') + ".genh",
                                                   "nozero.genh", "second.genh"}));
    // Sounds go in index order, and a later one of the same name replaces it.
    bank_builder b;
    sound s;
    s.name = "twice";
    s.data = bytes(6, 0xAB);
    b.add(s);
    s.form = "WAVS";
    s.data = bytes(4, 0xCD);
    b.add(s);
    b.result().write(dir_.path());
    expect(run_tolvane(dir_.path(), k_dump_names),
           "WAVE data from 00000000 size 00000006 twice.genh\n"
           "WAVS data from 00000000 size 00000004 twice.genh\n",
           "");
    EXPECT_EQ(dir_.read("twice.genh").size(), 152U + 4);
}

TEST_F(Convert, DescriptionsRefusedBeforeAnyFileIsOpened) {
    const std::string missing = "tolvane.cpp:204:process_wave: missing vital info from RIFF\n";
    const std::string loops = "tolvane.cpp:192:process_wave: bad chunk size\n";
    const std::string zero =
        "tolvane.cpp:199:process_wave: PCM with 0 channels or 0 bits per sample\n";
    const std::string long_name =
        "tolvane.cpp:215:process_wave: name chunk longer than 4096 bytes\n";
    const std::string outside =
        "tolvane.cpp:216:process_wave: name would put the file outside the current directory\n";
    const chunk strm = strm_chunk(0, 2);
    const struct {
        std::vector<chunk> chunks;
        std::string report;
        std::int64_t riff_size = -1;
    } cases[] = {
        {{fmt_chunk(2, 1, 8000, 2, 16), chunk{"junk", {}}},  // codec 2, whatever follows
         "tolvane.cpp:161:process_wave: only expecting codec id 0x666 or 0x1\n"},
        {{name_chunk("x"), chunk{"LIST", bytes(4, 0)}},
         "unexpected chunk at 0x56\ntolvane.cpp:188:process_wave: who knows?\n"},
        {{name_chunk("x"), pcm_fmt(1), fact_chunk(5), strm},
         "tolvane.cpp:197:process_wave: didn't expect fact for uncompressed data\n"},
        {{name_chunk("x"), dsp_fmt(1), numbered_ngcc(), strm_chunk(0, 8)}, missing},  // no fact
        {{name_chunk("x"), dsp_fmt(1), fact_chunk(14), strm_chunk(0, 8)}, missing},   // no ngcc
        {{pcm_fmt(1), strm}, missing},                                                // no name
        {{name_chunk("x"), pcm_fmt(1)}, missing},                                     // no strm
        {{name_chunk("x"), fact_chunk(1), strm}, missing},                            // no fmt
        {{name_chunk("x"), pcm_fmt(1), strm}, missing, 4},  // a RIFF of the form type only
        {{name_chunk(std::string(5000, 'h'), 0), pcm_fmt(1)}, missing},  // wins over the name
        {{pcm_fmt(3), name_chunk("x"), strm_chunk(0, 6)},
         "tolvane.cpp:207:process_wave: not mono or stereo\n"},
        // A size carrying the next start past 2^31 fails its seek.
        {{name_chunk("x"), wsmp(0x7FFFFFF0)},
         "util.cpp:132:get_32_be_seek:fseek: Invalid argument\n"},
        {{name_chunk("x")}, "util.cpp:126:get_32_be:fread: unexpected EOF\n", 0x1000},
        {{chunk{"fmt ", {1, 0, 1, 0}}}, "util.cpp:140:get_32_le:fread: unexpected EOF\n"},
        // A step back into the name's bytes, where "LIST" is read as a chunk.
        {{name_chunk("LIST"), wsmp(0xFFFFFFF3)},
         "unexpected chunk at 0x54\ntolvane.cpp:188:process_wave: who knows?\n"},
        // Walks that come back to a chunk they read: onto itself
        // (0x4C + 0xFFFFFFF8 + 8), and round two chunks.
        {{sized(chunk{"guid", {}}, 0xFFFFFFF8)},
         "chunk walk repeats from the chunk at 0x4c\n" + loops},
        {{name_chunk("x"), pcm_fmt(1), wsmp(0xFFFFFFE0)},
         "chunk walk repeats from the chunk at 0x56\n" + loops},
        {{name_chunk("x"), fmt_chunk(1, 0, 8000, 2, 16), strm}, zero},
        {{name_chunk("x"), fmt_chunk(1, 1, 8000, 2, 0), strm}, zero},
        {{pcm_fmt(1), strm, name_chunk(std::string(4097, 'n'), 0)}, long_name},
        // The walk moves on by 0xFFFFFFFF + 8 = 7 bytes, where the RIFF ends.
        {{pcm_fmt(1), strm, sized(name_chunk("x"), 0xFFFFFFFF)}, long_name, 4 + 24 + 16 + 7},
        {{name_chunk("../up"), pcm_fmt(1), strm}, outside},
        {{name_chunk("a\\b"), pcm_fmt(1), strm}, outside},
        {{name_chunk("c:x"), pcm_fmt(1), strm}, outside},
        {{name_chunk("Z:"), pcm_fmt(1), strm}, outside},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        expect(run_one(c.chunks, "WAVE", c.riff_size), "", c.report);
        EXPECT_TRUE(outputs().empty());
    }
}

TEST_F(Convert, NamesWindowsCannotTake) {
    // Devices, alternate streams, refused characters, a trailing dot or blank:
    // refused on Windows before any file is opened, ordinary files elsewhere.
    const std::string refused =
        "tolvane.cpp:218:process_wave: name is not a usable file name on this system\n";
    for (const std::string name :
         {"CON", "nul", "Aux.x", "com1", "LPT9 ", "ab:c", "1:x", "q?", "t\x01", "dot.", "blank "}) {
        const run_result r = run_one({name_chunk(name), pcm_fmt(1), strm_chunk(0, 2)});
        EXPECT_EQ(r.err, k_banner + (k_windows ? refused : "")) << name;
    }
    EXPECT_EQ(outputs().size(), k_windows ? 0U : 11U);
    // Near misses are names like any other.
    for (const std::string name : {"COM0", "CONSOLE", "LPT", "nul_1", ".x", "caf\xE9"})
        EXPECT_EQ(run_one({name_chunk(name), pcm_fmt(1), strm_chunk(0, 2)}).status, 0) << name;
}

TEST_F(Convert, FailuresAroundTheOutputFile) {
    // 8-bit PCM: the file is created and the line printed, then refused.
    expect(run_one({name_chunk("eight"), pcm_fmt(1, 8), strm_chunk(0, 4)}),
           "WAVE data from 00000000 size 00000004 eight.genh\n",
           "tolvane.cpp:254:process_wave: unknown bitdepth\n");
    EXPECT_EQ(dir_.read("eight.genh"), bytes{});
    // 0x1100 bytes from 0x2000 of a 0x3000-byte dump: two whole pieces, then
    // the third comes up short.
    expect(run_one({name_chunk("cut"), pcm_fmt(1), strm_chunk(0x2000, 0x1100)}),
           "WAVE data from 00002000 size 00001100 cut.genh\n",
           "util.cpp:23:dump:fread: unexpected EOF\n");
    const bytes cut = dir_.read("cut.genh");
    ASSERT_EQ(cut.size(), 152U + 2 * 2048);
    EXPECT_EQ(slice(cut, 152, 4096), slice(d_.wave_samples, 0x2000, 4096));
    // 2^28 bytes of 16-bit mono are 2^27 samples, counted in 64 bits.
    run_one({name_chunk("big"), pcm_fmt(1), strm_chunk(0, 0x10000000)});
    EXPECT_EQ(slice(dir_.read("big.genh"), 0x14, 4), (bytes{0x00, 0x00, 0x00, 0x08}));
    // A coefficient block past the end of the header dump: an empty file.
    chunk ngcc = sized(numbered_ngcc(), 96);
    ngcc.body.resize(40);
    const run_result r =
        run_one({name_chunk("coef"), dsp_fmt(1), fact_chunk(1), strm_chunk(0, 8), ngcc});
    EXPECT_EQ(r.err, k_banner + "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    EXPECT_EQ(dir_.read("coef.genh"), bytes{});
    // A name past the end: no file is opened; one of that name stays as it was.
    dir_.write("kept.genh", {1, 2, 3});
    expect(run_one({pcm_fmt(1), strm_chunk(0, 2), sized(name_chunk("kept", 0), 64)}), "",
           "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    EXPECT_EQ(dir_.read("kept.genh"), (bytes{1, 2, 3}));
    fs::create_directory(dir_.file("taken.genh"));
    expect(run_one({name_chunk("taken"), pcm_fmt(1), strm_chunk(0, 2)}), "",
           k_windows ? "tolvane.cpp:219:process_wave:fopen of output: Permission denied\n"
                     : "tolvane.cpp:219:process_wave:fopen of output: Is a directory\n");
    if (k_windows) return;
    // Data that cannot be written fails the run, at the latest when the
    // file is closed; so do progress lines that cannot be written.
    fs::create_symlink("/dev/full", dir_.file("full.genh"));
    expect(run_one({name_chunk("full"), pcm_fmt(1), strm_chunk(0, 2)}),
           "WAVE data from 00000000 size 00000002 full.genh\n",
           "tolvane.cpp:312:process_wave:fclose of output file: No space left on device\n");
    run_options full;
    full.stdout_path = "/dev/full";
    expect(run_one({name_chunk("x"), pcm_fmt(1), strm_chunk(0, 2)}, "WAVE", -1, full), "",
           "tolvane.cpp:108:main:fwrite: fwrite: No space left on device\n");
    d_.index.clear();
    d_.write(dir_.path());
    EXPECT_EQ(run_tolvane(dir_.path(), k_dump_names, full).status, 0);
}

TEST_F(Convert, InputsAreNeverReplaced) {
    const std::string report = "tolvane.cpp:217:process_wave: output would overwrite an input\n";
    // The output's name reaches an input through a hard link, a symbolic
    // link (POSIX), or (Windows) by the input's name in other letters.
    write_one({});
    fs::create_hard_link(dir_.file("dumpUC01.bin"), dir_.file("hard.genh"));
    std::vector<std::string> names = {"hard"};
    if (k_windows) {
        names.push_back("Idx");
    } else {
        fs::create_symlink("dump00.bin", dir_.file("soft.genh"));
        names.push_back("soft");
    }
    dir_.write("idx.genh", sound_record(k_riff_at));
    const std::vector<std::string> args = {"idx.genh", "dump00.bin", "dumpUC00.bin",
                                           "dumpUC01.bin"};
    for (const std::string& name : names) {
        write_one({name_chunk(name), pcm_fmt(1), strm_chunk(0, 2)});
        expect(run_tolvane(dir_.path(), args), "",
               "output file " + name + ".genh is one of the input dumps\n" + report);
        EXPECT_EQ(dir_.read("dumpUC01.bin"), d_.wavs_samples);
        EXPECT_EQ(dir_.read("dump00.bin"), d_.header);
        EXPECT_EQ(dir_.read("idx.genh"), sound_record(k_riff_at));
    }
    // An index past 2 GiB (sparse: no disk is used).
    fs::resize_file(dir_.file("idx.genh"), 0x80000000LL);
    expect(run_tolvane(dir_.path(), args), "",
           "tolvane.cpp:48:main: index dump too large for 32-bit offsets\n");
}

TEST(SampleBank, EverySoundConvertsToItsTone) {
    scratch_dir dir;
    sample_bank().write(dir.path());
    const run_result r = run_tolvane(dir.path(), k_dump_names);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "WAVE data from 00000000 size 000033ae pcm_mono_a4.genh\n"
              "WAVS data from 00000000 size 00009600 pcm_stereo_c5.genh\n"
              "WAVE data from 000033c0 size 00001570 dsp_mono_e5.genh\n"
              "WAVS data from 00009600 size 00004050 dsp_stereo_g4.genh\n"
              "WAVS data from 0000d660 size 0000675c pcm_mono_d5.genh\n"
              "WAVE data from 00004940 size 0000e100 pcm_stereo_b4.genh\n"
              "WAVS data from 00013dc0 size 00000ec8 dsp_mono_a5.genh\n"
              "WAVE data from 00012a40 size 00003b10 dsp_stereo_c4.genh\n");
    for (const tone_spec& tone : sample_bank_tones()) {
        SCOPED_TRACE(tone.name);
        const genh_file genh = parse_genh(dir.read(std::string(tone.name) + ".genh"));
        EXPECT_EQ(genh.channels, tone.channels);
        EXPECT_EQ(genh.sample_rate, tone.sample_rate);
        EXPECT_EQ(genh.loop_end, tone.sample_count);
        std::vector<double> phases;
        for (const auto& samples : decode_genh(genh)) {
            const tone_fit fit = fit_tone(samples, tone.frequency, tone.sample_rate);
            // 16-bit PCM is exact but for rounding (about 92 dB); the 4-bit
            // ADPCM frames of these tones measure 59 to 80 dB.
            EXPECT_GT(fit.snr_db, tone.dsp ? 55.0 : 90.0);
            phases.push_back(fit.phase);
        }
        if (phases.size() == 2) {  // the right channel a quarter period behind
            EXPECT_NEAR(std::remainder(phases[1] - phases[0], 2 * std::numbers::pi),
                        -std::numbers::pi / 2, 0.01);
        }
    }
}

}  // namespace
