// End-to-end tests of the command line and the index walk: the built program
// runs on dumps written by the test, and its standard output, standard error
// and exit status are compared byte for byte.
#include "bank.hpp"
#include "run_tool.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using bank::index_record;
using bank::sound_record;

namespace {

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A RIFF header of the given form at offset 0x10 of the header dump, after
// filler, so a walk that reads the wrong place sees no "RIFF".
bytes header_with(const std::string& form) {
    return concat({bytes(0x10, 0xEE), bank::riff(form, {})});
}

class Cli : public testing::Test {
protected:
    // Writes the four dumps and runs the converter on them: it must print
    // nothing on standard output, and `report` after the banner.
    void expect_run(const bytes& index, const bytes& header, const std::string& report) {
        dir_.write("dump01.bin", index);
        dir_.write("dump00.bin", header);
        dir_.write("dumpUC00.bin", {});
        dir_.write("dumpUC01.bin", {});
        expect_args(bank::k_dump_names, report);
    }
    void expect_args(const std::vector<std::string>& args, const std::string& report,
                     const run_options& options = {}) {
        const run_result r = run_tolvane(dir_.path(), args, options);
        EXPECT_EQ(r.status, report.empty() ? 0 : 1) << report;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, k_banner + report);
    }
    scratch_dir dir_;
};

TEST_F(Cli, ArgumentsAndInputsThatCannotBeUsed) {
    const std::string usage =
        "tolvane.cpp:26:main: usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin\n";
    expect_args({}, usage);
    expect_args({"a", "b", "c"}, usage);
    expect_args({"a", "b", "c", "d", "e"}, usage);
    // The first input that cannot be opened is the one reported.
    const std::string missing = " open failed: No such file or directory\n";
    dir_.write("empty", {});
    expect_args({"no", "no", "no", "no"}, "tolvane.cpp:34:main:input file 1" + missing);
    expect_args({"empty", "no", "empty", "empty"}, "tolvane.cpp:36:main:input file 2" + missing);
    expect_args({"empty", "empty", "no", "no"}, "tolvane.cpp:38:main:input file 3" + missing);
    expect_args({"empty", "empty", "empty", "no"}, "tolvane.cpp:40:main:input file 4" + missing);
    // A pipe cannot be measured (the index) or positioned (the header dump);
    // a folder opens, but reading it fails.
    run_options piped;
    piped.stdin_data = std::string("\x80\x00\x00\x01", 4);
    expect_args({"/dev/stdin", "empty", "empty", "empty"},
                "tolvane.cpp:44:main:fseek: Illegal seek\n", piped);
    dir_.write("index", sound_record(0x10));
    expect_args({"index", "/dev/stdin", "empty", "empty"},
                "util.cpp:173:get_bytes_seek:fseek: Illegal seek\n", piped);
    ASSERT_EQ(::mkdir(dir_.file("folder").c_str(), 0755), 0);
    expect_args({"index", "folder", "empty", "empty"},
                "util.cpp:168:get_bytes:fread: fread: Is a directory\n");
}

TEST_F(Cli, IndexWalks) {
    const std::string unknown = "tolvane.cpp:104:main: unknown type\n";
    const std::string eof = "util.cpp:126:get_32_be:fread: unexpected EOF\n";
    const bytes no_riff(0x2b0, 0x11);
    const struct {
        bytes index;
        bytes header;
        std::string report;  // empty: a complete walk
    } cases[] = {
        {{}, {}, ""},
        // Every stepped-over marker, with payloads of several lengths, including
        // none (a marker directly after a marker) and one running to the end.
        {concat({index_record(0x80000001, {1, 2}), index_record(0x80000004, {}),
                 index_record(0x80000005, {0x7FFFFFFF}), index_record(0x80000006, {3}),
                 index_record(0x80000007, {}), index_record(0x8000010A, {4, 5, 6}),
                 index_record(0x8000010E, {}), index_record(0x80000115, {7}),
                 index_record(0x80000117, {}), index_record(0x80000118, {8}),
                 index_record(0x8000011A, {9, 10})}),
         {},
         ""},
        // AMPC sounds are passed over; the word after the offset is the next marker.
        {concat({sound_record(0x10), sound_record(0x10)}), header_with("AMPC"), ""},
        {concat({sound_record(0x10), index_record(0x80000003)}), header_with("AMPC"),
         "unknown type 80000003\n" + unknown},
        // Unknown markers: the gaps between accepted ones, bit 31 clear, one
        // ending a stepped-over record's payload.
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
        {index_record(bank::k_sound_record), {}, eof},
        // The RIFF header a sound record points at; offsets shown unsigned,
        // without zero fill.
        {sound_record(0x2a0), no_riff,
         "non-RIFF header at 0x2a0\ntolvane.cpp:65:main: non-RIFF header, possible bad "
         "data00.bin?\n"},
        {sound_record(0xFFFFFFF0), no_riff,
         "util.cpp:173:get_bytes_seek:fseek: Invalid argument\n"},
        {sound_record(0x2a8), no_riff, "util.cpp:168:get_bytes:fread: unexpected EOF\n"},
        {sound_record(0x10), header_with("WAVX"),
         "unexpected RIFF type at 0x10\n"
         "tolvane.cpp:82:main: unexpected RIFF type, possible bad data00.bin?\n"},
    };
    for (const auto& c : cases) expect_run(c.index, c.header, c.report);
    EXPECT_EQ(dir_.files().size(), 4U);  // the dumps only
}

}  // namespace
