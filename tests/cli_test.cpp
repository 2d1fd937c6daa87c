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
    bytes header(0x10, 0xEE);
    const bytes description = bank::riff(form, {});
    header.insert(header.end(), description.begin(), description.end());
    return header;
}

class Cli : public testing::Test {
protected:
    // Writes the four dumps and runs the converter on them.
    run_result run(const bytes& index, const bytes& header = {}, const run_options& options = {}) {
        dir_.write("dump01.bin", index);
        dir_.write("dump00.bin", header);
        dir_.write("dumpUC00.bin", {});
        dir_.write("dumpUC01.bin", {});
        return run_args(bank::k_dump_names, options);
    }
    run_result run_args(const std::vector<std::string>& args, const run_options& options = {}) {
        return run_tolvane(dir_.path(), args, options);
    }
    // A failed run: nothing on standard output, `report` after the banner.
    void expect_failure(const run_result& r, const std::string& report) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, k_banner + report);
    }
    void expect_success(const run_result& r) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, k_banner);
    }
    scratch_dir dir_;
};

TEST_F(Cli, WrongArgumentCountsPrintTheUsage) {
    const std::string usage =
        "tolvane.cpp:26:main: usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin\n";
    expect_failure(run_args({}), usage);
    expect_failure(run_args({"a", "b", "c"}), usage);
    expect_failure(run_args({"a", "b", "c", "d", "e"}), usage);
}

TEST_F(Cli, TheFirstInputThatCannotBeOpenedIsReported) {
    dir_.write("present", {});
    expect_failure(run_args({"missing", "missing", "missing", "missing"}),
                   "tolvane.cpp:34:main:input file 1 open failed: No such file or directory\n");
    expect_failure(run_args({"present", "missing", "present", "present"}),
                   "tolvane.cpp:36:main:input file 2 open failed: No such file or directory\n");
    expect_failure(run_args({"present", "present", "missing", "missing"}),
                   "tolvane.cpp:38:main:input file 3 open failed: No such file or directory\n");
    expect_failure(run_args({"present", "present", "present", "missing"}),
                   "tolvane.cpp:40:main:input file 4 open failed: No such file or directory\n");
}

TEST_F(Cli, InputsThatAreNotRegularFiles) {
    dir_.write("empty", {});
    // An index read from a pipe cannot be measured.
    run_options piped;
    piped.stdin_data = std::string("\x80\x00\x00\x01", 4);
    expect_failure(run_args({"/dev/stdin", "empty", "empty", "empty"}, piped),
                   "tolvane.cpp:44:main:fseek: Illegal seek\n");
    // A header dump that is a pipe cannot be positioned.
    dir_.write("index", sound_record(0x10));
    expect_failure(run_args({"index", "/dev/stdin", "empty", "empty"}, piped),
                   "util.cpp:173:get_bytes_seek:fseek: Illegal seek\n");
    // A folder opens, but reading it fails.
    ASSERT_EQ(::mkdir(dir_.file("folder").c_str(), 0755), 0);
    expect_failure(run_args({"index", "folder", "empty", "empty"}),
                   "util.cpp:168:get_bytes:fread: fread: Is a directory\n");
}

TEST_F(Cli, AnEmptyIndexOrOneOfSteppedOverRecordsConvertsNothing) {
    expect_success(run({}));
    // Every stepped-over marker, with payloads of several lengths, including
    // none (a marker directly after a marker) and one running to the end.
    expect_success(run(concat({
        index_record(0x80000001, {1, 2}),
        index_record(0x80000004, {}),
        index_record(0x80000005, {0x7FFFFFFF}),
        index_record(0x80000006, {3}),
        index_record(0x80000007, {}),
        index_record(0x8000010A, {4, 5, 6}),
        index_record(0x8000010E, {}),
        index_record(0x80000115, {7}),
        index_record(0x80000117, {}),
        index_record(0x80000118, {8}),
        index_record(0x8000011A, {9, 10}),
    })));
    EXPECT_EQ(dir_.files().size(), 4U);  // the dumps only
}

TEST_F(Cli, WordsThatAreNotAcceptedMarkers) {
    const std::string unknown = "tolvane.cpp:104:main: unknown type\n";
    expect_failure(run(index_record(0x80000002)), "unknown type 80000002\n" + unknown);
    // The gaps between accepted markers, and a word with bit 31 clear.
    expect_failure(run(index_record(0x80000008)), "unknown type 80000008\n" + unknown);
    expect_failure(run(index_record(0x80000114)), "unknown type 80000114\n" + unknown);
    expect_failure(run(index_record(0x80000116)), "unknown type 80000116\n" + unknown);
    expect_failure(run(index_record(0x80000119)), "unknown type 80000119\n" + unknown);
    expect_failure(run(index_record(0x0000ABCD)), "unknown type 0000abcd\n" + unknown);
    // Found after a stepped-over record, whose payload ends at it.
    expect_failure(run(concat({index_record(0x8000010E, {1, 2}), index_record(0xFFFFFFFF)})),
                   "unknown type ffffffff\n" + unknown);
}

TEST_F(Cli, AnIndexThatEndsInsideAWordOrRecord) {
    const std::string eof = "util.cpp:126:get_32_be:fread: unexpected EOF\n";
    expect_failure(run({0x80, 0x00, 0x00, 0x01, 0x00, 0x00}), eof);  // inside a payload word
    expect_failure(run({0x80, 0x00, 0x01}), eof);                    // inside a marker
    expect_failure(run(index_record(bank::k_sound_record)), eof);   // the offset missing
}

TEST_F(Cli, SoundRecordsCheckTheRiffHeader) {
    const bytes no_riff(0x2b0, 0x11);
    expect_failure(run(sound_record(0x2a0), no_riff),
                   "non-RIFF header at 0x2a0\n"
                   "tolvane.cpp:65:main: non-RIFF header, possible bad data00.bin?\n");
    // Offsets are shown unsigned, without zero fill; a negative one cannot be
    // sought to.
    expect_failure(run(sound_record(0xFFFFFFF0), no_riff),
                   "util.cpp:173:get_bytes_seek:fseek: Invalid argument\n");
    expect_failure(run(sound_record(0x2a8), no_riff),
                   "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    expect_failure(run(sound_record(0x10), header_with("WAVX")),
                   "unexpected RIFF type at 0x10\n"
                   "tolvane.cpp:82:main: unexpected RIFF type, possible bad data00.bin?\n");
}

TEST_F(Cli, AmpcSoundsArePassedOverAndTheWalkGoesOn) {
    expect_success(run(concat({sound_record(0x10), sound_record(0x10)}), header_with("AMPC")));
    EXPECT_EQ(dir_.files().size(), 4U);
    // The word after the offset is read as the next marker.
    expect_failure(run(concat({sound_record(0x10), index_record(0x80000003)}), header_with("AMPC")),
                   "unknown type 80000003\ntolvane.cpp:104:main: unknown type\n");
}

}  // namespace
