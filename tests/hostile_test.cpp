// Malformed and hostile dumps: each must end with one clear report and
// status 1, write nothing outside the current directory and leave the inputs
// as they were.
#include "convert_fixture.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Hostile = Convert;

chunk sized(chunk c, std::int64_t size) {
    c.size = size;
    return c;
}

TEST_F(Hostile, DescriptionsRejectedBeforeAnyFileIsOpened) {
    const std::string stuck = "tolvane.cpp:192:process_wave: bad chunk size\n";
    const std::string zero = "tolvane.cpp:199:process_wave: PCM with 0 channels or 0 bits per sample\n";
    const std::string long_name = "tolvane.cpp:215:process_wave: name chunk longer than 4096 bytes\n";
    const std::string outside =
        "tolvane.cpp:216:process_wave: name would put the file outside the current directory\n";
    const chunk good_strm = strm_chunk(0, 2);
    const std::vector<refused_case> cases = {
        // 0x4C + 0xFFFFFFF8 + 8 wraps back onto the chunk itself.
        {"a size that leaves the walk in place",
         {sized(chunk{"guid", {}}, 0xFFFFFFF8)},
         "chunk at 0x4c does not move the walk forward\n" + stuck},
        {"a size that sends the walk back",
         {name_chunk("x"), sized(chunk{"wsmp", {}}, 0xFFFFFFE0)},
         "chunk at 0x56 does not move the walk forward\n" + stuck},
        {"PCM of no channels", {name_chunk("x"), fmt_chunk(1, 0, 8000, 2, 16), good_strm}, zero},
        {"PCM of 0 bits", {name_chunk("x"), fmt_chunk(1, 1, 8000, 2, 0), good_strm}, zero},
        {"a name of 4097 bytes", {pcm_fmt(1), good_strm, name_chunk(std::string(4097, 'n'), 0)},
         long_name},
        // The walk moves on by 0xFFFFFFFF + 8 = 7 bytes, where the RIFF ends.
        {"a name size with the top bit set",
         {pcm_fmt(1), good_strm, sized(name_chunk("x"), 0xFFFFFFFF)},
         long_name, 4 + 24 + 16 + 7},
        {"a parent folder", {name_chunk("../up"), pcm_fmt(1), good_strm}, outside},
        {"a folder", {name_chunk("sub/x"), pcm_fmt(1), good_strm}, outside},
        {"an absolute path", {name_chunk("/tmp/x"), pcm_fmt(1), good_strm}, outside},
        {"a backslash", {name_chunk("a\\b"), pcm_fmt(1), good_strm}, outside},
        {"a drive prefix", {name_chunk("c:x"), pcm_fmt(1), good_strm}, outside},
        {"a bare drive", {name_chunk("Z:"), pcm_fmt(1), good_strm}, outside},
    };
    for (const refused_case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_refused(c.chunks, c.report, c.riff_size);
    }
}

TEST_F(Hostile, OnlyTheNameThatIsUsedIsJudged) {
    // Earlier reports win over an oversized name, and a later name chunk
    // replaces it.
    const chunk huge = name_chunk(std::string(5000, 'h'), 0);
    run_result r = run_one({huge, pcm_fmt(1)});
    EXPECT_EQ(r.err, k_banner + "tolvane.cpp:204:process_wave: missing vital info from RIFF\n");
    r = run_one({huge, pcm_fmt(1), strm_chunk(0, 2), name_chunk("fine")});
    EXPECT_EQ(r.status, 0);
    // Names up to 4096 bytes, and names that merely look odd, are used as they are.
    r = run_one({name_chunk(std::string(250, 'n'), 4096 - 250), pcm_fmt(1), strm_chunk(0, 2)});
    EXPECT_EQ(r.status, 0);
    for (const char* name : {"1:x", ":x", "..", "a.b"}) {
        r = run_one({name_chunk(name), pcm_fmt(1), strm_chunk(0, 2)});
        EXPECT_EQ(r.status, 0) << name;
    }
    EXPECT_EQ(outputs(), (std::vector<std::string>{"...genh", "1:x.genh", ":x.genh", "a.b.genh",
                                                   "fine.genh", std::string(250, 'n') + ".genh"}));
}

TEST_F(Hostile, AnOutputNeverReplacesAnInput) {
    const std::string report = "tolvane.cpp:217:process_wave: output would overwrite an input\n";
    // The same file under the output's name: by a symbolic link, a hard link,
    // and as itself.
    run_one({});  // writes the dumps
    ASSERT_EQ(::symlink("dump00.bin", dir_.file("soft.genh").c_str()), 0);
    ASSERT_EQ(::link(dir_.file("dumpUC01.bin").c_str(), dir_.file("hard.genh").c_str()), 0);
    for (const std::string name : {"soft", "hard"}) {
        const run_result r = run_one({name_chunk(name), pcm_fmt(1), strm_chunk(0, 2)});
        EXPECT_EQ(r.err, k_banner + "output file " + name + ".genh is one of the input dumps\n" + report);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(dir_.read("dump00.bin"), d_.header);
        EXPECT_EQ(dir_.read("dumpUC01.bin"), d_.wavs_samples);
    }
    // An index whose own name a sound would take.
    run_one({name_chunk("idx"), pcm_fmt(1), strm_chunk(0, 2)});
    const bytes index = bank::sound_record(k_riff_at);
    dir_.write("idx.genh", index);
    const run_result r = run_tolvane(dir_.path(), {"idx.genh", "dump00.bin", "dumpUC00.bin", "dumpUC01.bin"});
    EXPECT_EQ(r.err, k_banner + "output file idx.genh is one of the input dumps\n" + report);
    EXPECT_EQ(dir_.read("idx.genh"), index);
}

TEST_F(Hostile, LargeSizesAreCountedIn64Bits) {
    // 2^28 bytes of 16-bit mono are 2^27 samples; the copy then runs out of
    // data, leaving the header.
    const run_result r = run_one({name_chunk("big"), pcm_fmt(1), strm_chunk(0, 0x10000000)});
    EXPECT_EQ(r.err, k_banner + "util.cpp:23:dump:fread: unexpected EOF\n");
    const bytes file = dir_.read("big.genh");
    ASSERT_GE(file.size(), 152U);
    EXPECT_EQ(slice(file, 0x14, 4), (bytes{0x00, 0x00, 0x00, 0x08}));
}

TEST_F(Hostile, AnIndexBeyond32BitOffsets) {
    run_one({});
    const int fd = ::open(dir_.file("dump01.bin").c_str(), O_WRONLY | O_TRUNC);
    ASSERT_EQ(::ftruncate(fd, 0x80000000LL), 0);  // sparse: no disk is used
    ::close(fd);
    const run_result r = run_tolvane(dir_.path(), bank::k_dump_names);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, k_banner + "tolvane.cpp:48:main: index dump too large for 32-bit offsets\n");
}

TEST_F(Hostile, ProgressLinesThatCannotBeWrittenFailTheRun) {
    run_one({name_chunk("x"), pcm_fmt(1), strm_chunk(0, 2)});
    run_options full;
    full.stdout_path = "/dev/full";
    run_result r = run_tolvane(dir_.path(), bank::k_dump_names, full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, k_banner + "tolvane.cpp:108:main:fwrite: fwrite: No space left on device\n");
    d_.index.clear();  // nothing to print: nothing to fail
    d_.write(dir_.path());
    r = run_tolvane(dir_.path(), bank::k_dump_names, full);
    EXPECT_EQ(r.status, 0);
}

}  // namespace
