// Unit tests of the utility unit.  Fatal paths run as death tests: each must
// print exactly its one report on standard error and exit with status 1.
#include "util.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using testing::Eq;
using testing::ExitedWithCode;

namespace {

using byte_vector = std::vector<std::uint8_t>;

// A read-write stream holding `content`, positioned at its start.
std::FILE* stream_of(const byte_vector& content) {
    std::FILE* stream = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    return stream;
}

byte_vector contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    byte_vector out;
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream))
        out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

// Every write to a stream opened for reading fails with "Bad file descriptor".
std::FILE* read_only_stream() { return std::fopen("/dev/null", "rb"); }

// Distinct values, so a swapped byte order cannot pass.
const byte_vector k_sample = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                              0xFF, 0xFF, 0x80, 0x00, 0x01, 0x13};

TEST(Codecs, DecodeInBothByteOrders) {
    const std::uint8_t* b = k_sample.data();
    EXPECT_EQ(read_16_be(b), 0x0123);
    EXPECT_EQ(read_16_le(b), 0x2301);
    EXPECT_EQ(read_32_be(b), 0x01234567U);
    EXPECT_EQ(read_32_le(b), 0x67452301U);
    EXPECT_EQ(read_64_be(b), 0x0123456789ABCDEFULL);
    EXPECT_EQ(read_16_le(b + 8), 65535);  // zero-extended, never -1
    EXPECT_EQ(read_32_be(b + 10), 0x80000113U);
}

TEST(Codecs, EncodeStoresOnlyTheLowBytes) {
    byte_vector out(4, 0xEE);
    write_16_be(0xABCD1234U, out.data());
    EXPECT_EQ(out, (byte_vector{0x12, 0x34, 0xEE, 0xEE}));
    write_32_be(0x01234567U, out.data());
    EXPECT_EQ(out, (byte_vector{0x01, 0x23, 0x45, 0x67}));
    write_32_le(0x01234567U, out.data());
    EXPECT_EQ(out, (byte_vector{0x67, 0x45, 0x23, 0x01}));
}

TEST(CheckedReads, ReadAtOffsetsWithTheirWidthAndOrder) {
    std::FILE* s = stream_of(k_sample);
    EXPECT_EQ(get_byte_seek(5, s), 0xAB);
    EXPECT_EQ(get_byte(s), 0xCD);  // goes on where the last read ended
    EXPECT_EQ(get_16_be_seek(1, s), 0x2345);
    EXPECT_EQ(get_16_le_seek(8, s), 65535);
    EXPECT_EQ(get_16_be(s), 0x8000);
    EXPECT_EQ(get_32_be_seek(10, s), static_cast<std::int32_t>(0x80000113U));
    EXPECT_LT(get_32_be_seek(10, s), 0);  // a marker word is negative when signed
    EXPECT_EQ(get_32_le_seek(0, s), 0x67452301);
    EXPECT_EQ(get_32_le(s), static_cast<std::int32_t>(0xEFCDAB89U));
    EXPECT_EQ(get_32_be(s), static_cast<std::int32_t>(0xFFFF8000U));
    EXPECT_EQ(get_64_be_seek(2, s), 0x456789ABCDEFFFFFULL);
    EXPECT_EQ(get_64_be_seek(0, s), 0x0123456789ABCDEFULL);
    byte_vector run(6, 0xEE);
    EXPECT_EQ(get_bytes(s, run.data(), 6), 6);
    EXPECT_EQ(run, (byte_vector{0xFF, 0xFF, 0x80, 0x00, 0x01, 0x13}));
    EXPECT_EQ(get_bytes_seek(3, s, run.data(), 2), 2);
    EXPECT_EQ(run, (byte_vector{0x67, 0x89, 0x80, 0x00, 0x01, 0x13}));
    EXPECT_EQ(get_bytes_seek(0, s, run.data(), 0), 0);  // an empty run succeeds
    std::fclose(s);
}


TEST(CheckedWrites, WriteTheirWidthAndOrderAndReturnTheCount) {
    std::FILE* s = std::tmpfile();
    EXPECT_EQ(put_byte(0x1FE, s), 1);                  // low 8 bits only
    EXPECT_EQ(put_16_be(0x7FFF1234, s), 2);            // low 16 bits, high byte first
    EXPECT_EQ(put_32_be(0x01234567, s), 4);
    EXPECT_EQ(put_32_le(0x01234567, s), 4);
    const std::uint8_t run[3] = {0xA1, 0xB2, 0xC3};
    EXPECT_EQ(put_bytes(s, run, 3), 3);
    EXPECT_EQ(contents(s), (byte_vector{0xFE, 0x12, 0x34, 0x01, 0x23, 0x45, 0x67, 0x67, 0x45,
                                        0x23, 0x01, 0xA1, 0xB2, 0xC3}));
    EXPECT_EQ(put_byte_seek(0x99, 0, s), 1);
    EXPECT_EQ(put_16_be_seek(0xBEEF, 2, s), 2);
    EXPECT_EQ(put_32_be_seek(0x0A0B0C0D, 4, s), 4);
    EXPECT_EQ(put_32_le_seek(0x0A0B0C0D, 8, s), 4);
    EXPECT_EQ(put_bytes_seek(12, s, run, 2), 2);
    EXPECT_EQ(contents(s), (byte_vector{0x99, 0x12, 0xBE, 0xEF, 0x0A, 0x0B, 0x0C, 0x0D, 0x0D,
                                        0x0C, 0x0B, 0x0A, 0xA1, 0xB2}));
    std::fclose(s);
}

// One checked member, called so that its check fails.
struct failing_call {
    const char* report;
    std::function<void()> call;
};

void expect_reports(const std::vector<failing_call>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        EXPECT_EXIT(c.call(), ExitedWithCode(1), Eq(std::string(c.report)));
    }
}

TEST(CheckedReadsDeathTest, ShortReadsReportUnexpectedEofUnderThePlainMember) {
    // Two bytes before the end: every read wider than that comes up short, and a
    // seek read reports under the plain member's name and location.
    const auto at_end = [] { return stream_of({0xAA, 0xBB}); };
    std::uint8_t buffer[8];
    expect_reports({
        {"util.cpp:83:get_byte:fread: unexpected EOF\n", [&] { get_byte_seek(2, at_end()); }},
        {"util.cpp:98:get_16_be:fread: unexpected EOF\n", [&] { get_16_be_seek(1, at_end()); }},
        {"util.cpp:112:get_16_le:fread: unexpected EOF\n", [&] { get_16_le_seek(1, at_end()); }},
        {"util.cpp:126:get_32_be:fread: unexpected EOF\n", [&] { get_32_be_seek(0, at_end()); }},
        {"util.cpp:140:get_32_le:fread: unexpected EOF\n", [&] { get_32_le(at_end()); }},
        {"util.cpp:154:get_64_be:fread: unexpected EOF\n", [&] { get_64_be_seek(0, at_end()); }},
        {"util.cpp:168:get_bytes:fread: unexpected EOF\n",
         [&] { get_bytes_seek(0, at_end(), buffer, 3); }},
    });
}

TEST(CheckedReadsDeathTest, FailedSeeksReportTheSeekMemberWithTheSystemText) {
    const auto s = [] { return stream_of(k_sample); };
    std::uint8_t buffer[4];
    expect_reports({
        {"util.cpp:89:get_byte_seek:fseek: Invalid argument\n", [&] { get_byte_seek(-1, s()); }},
        {"util.cpp:104:get_16_be_seek:fseek: Invalid argument\n", [&] { get_16_be_seek(-2, s()); }},
        {"util.cpp:118:get_16_le_seek:fseek: Invalid argument\n", [&] { get_16_le_seek(-3, s()); }},
        {"util.cpp:132:get_32_be_seek:fseek: Invalid argument\n",
         [&] { get_32_be_seek(INT32_MIN, s()); }},
        {"util.cpp:146:get_32_le_seek:fseek: Invalid argument\n", [&] { get_32_le_seek(-4, s()); }},
        {"util.cpp:160:get_64_be_seek:fseek: Invalid argument\n", [&] { get_64_be_seek(-5, s()); }},
        {"util.cpp:173:get_bytes_seek:fseek: Invalid argument\n",
         [&] { get_bytes_seek(-6, s(), buffer, 1); }},
    });
}

TEST(CheckedWritesDeathTest, ShortWritesAndFailedSeeksReportTheirMember) {
    const std::uint8_t run[2] = {1, 2};
    expect_reports({
        {"util.cpp:183:put_byte:fwrite: fwrite: Bad file descriptor\n",
         [] { put_byte(1, read_only_stream()); }},
        {"util.cpp:197:put_16_be:fwrite: fwrite: Bad file descriptor\n",
         [] { put_16_be_seek(1, 0, read_only_stream()); }},
        {"util.cpp:210:put_32_be:fwrite: fwrite: Bad file descriptor\n",
         [] { put_32_be(1, read_only_stream()); }},
        {"util.cpp:223:put_32_le:fwrite: fwrite: Bad file descriptor\n",
         [] { put_32_le_seek(1, 0, read_only_stream()); }},
        {"util.cpp:234:put_bytes:fwrite: fwrite: Bad file descriptor\n",
         [&] { put_bytes(read_only_stream(), run, 2); }},
        {"util.cpp:187:put_byte_seek:fseek: Invalid argument\n",
         [] { put_byte_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:201:put_16_be_seek:fseek: Invalid argument\n",
         [] { put_16_be_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:214:put_32_be_seek:fseek: Invalid argument\n",
         [] { put_32_be_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:227:put_32_le_seek:fseek: Invalid argument\n",
         [] { put_32_le_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:239:put_bytes_seek:fseek: Invalid argument\n",
         [&] { put_bytes_seek(-1, std::tmpfile(), run, 2); }},
    });
}

TEST(FatalReportsDeathTest, ShapeOfEachForm) {
    expect_reports({
        // Every field is an argument, never the format.
        {"x.cpp:7:fn: 100% %s done\n", [] { fatal_message("x.cpp", 7, "fn", "100% %s done"); }},
        {"x.cpp:8:fn:open %d: No such file or directory\n",
         [] {
             errno = ENOENT;
             fatal_errno("x.cpp", 8, "fn", "open %d");
         }},
        {"x.cpp:9:fn:fwrite: fwrite: Bad file descriptor\n",
         [] {
             std::FILE* s = read_only_stream();
             std::fputc('a', s);
             fatal_stream("x.cpp", 9, "fn", "fwrite", s);
         }},
    });
}

// Records the size of every write that reaches the file itself.  (Reads are
// not logged: stdio splits an unbuffered read into single bytes.)
struct io_log {
    std::vector<std::size_t> writes;
};

std::FILE* logged_stream(io_log& log, const char* mode) {
    cookie_io_functions_t io{};
    io.read = [](void*, char*, std::size_t size) -> ssize_t {
        return static_cast<ssize_t>(size);  // bytes of whatever value
    };
    io.write = [](void* cookie, const char*, std::size_t size) -> ssize_t {
        static_cast<io_log*>(cookie)->writes.push_back(size);
        return static_cast<ssize_t>(size);
    };
    io.seek = [](void*, off64_t* position, int) { return *position >= 0 ? 0 : -1; };
    std::FILE* stream = fopencookie(&log, mode, io);
    std::setvbuf(stream, nullptr, _IONBF, 0);  // every fread/fwrite reaches the log
    return stream;
}

TEST(Dump, CopiesInPiecesOf2048Bytes) {
    io_log log;
    std::FILE* in = logged_stream(log, "rb");
    std::FILE* out = logged_stream(log, "wb");
    dump(in, out, 100, 2 * 2048 + 904);
    EXPECT_EQ(log.writes, (std::vector<std::size_t>{2048, 2048, 904}));
    log = {};
    dump(in, out, 7, 0);  // only the seek
    EXPECT_TRUE(log.writes.empty());
}

TEST(Dump, CopiesTheRangeToTheCurrentPositionOfTheOutput) {
    byte_vector source(5000);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7);
    std::FILE* in = stream_of(source);
    std::FILE* out = stream_of({0xEE, 0xEE});
    std::fseek(out, 0, SEEK_END);
    dump(in, out, 3, 4100);
    byte_vector expected = {0xEE, 0xEE};
    expected.insert(expected.end(), source.begin() + 3, source.begin() + 4103);
    EXPECT_EQ(contents(out), expected);
}

TEST(DumpDeathTest, ReportsEachFailingStep) {
    expect_reports({
        {"util.cpp:15:dump:fseek: Invalid argument\n",
         [] { dump(stream_of({1}), std::tmpfile(), -1, 1); }},
        {"util.cpp:23:dump:fread: unexpected EOF\n",
         [] { dump(stream_of(byte_vector(3000)), std::tmpfile(), 0, 3001); }},
        {"util.cpp:26:dump:fwrite: fwrite: Bad file descriptor\n",
         [] {
             std::FILE* out = read_only_stream();
             std::setvbuf(out, nullptr, _IONBF, 0);
             dump(stream_of({1, 2, 3}), out, 0, 3);
         }},
    });
}

// A file whose every 4-byte word holds its own offset, big-endian.
std::string numbered_file(std::uint32_t words) {
    char path[] = "/tmp/tolvane-cache-XXXXXX";
    const int fd = ::mkstemp(path);
    std::FILE* out = ::fdopen(fd, "wb");
    for (std::uint32_t i = 0; i < words; ++i) {
        std::uint8_t word[4];
        write_32_be(4 * i, word);
        std::fwrite(word, 1, 4, out);
    }
    std::fclose(out);
    return path;
}

TEST(CachedInput, ReadsAtScatteredOffsetsAcrossBlocks) {
    const std::string path = numbered_file(50000);  // about three cached blocks
    input_cache cache;
    std::FILE* s = open_cached_input(path.c_str(), cache);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(cache.in_use);
    // Forward, backward, across the 64 KiB block edges, and unaligned.
    for (std::int32_t at : {0, 65532, 65536, 4, 131068, 199996, 8, 65534, 131070}) {
        const auto expected = static_cast<std::uint32_t>(at / 4 * 4);
        const std::uint32_t got = static_cast<std::uint32_t>(get_32_be_seek(at, s));
        if (at % 4 == 0) {
            EXPECT_EQ(got, expected) << at;
        } else {  // two bytes of one word, two of the next
            EXPECT_EQ(got, (expected & 0xFFFF) << 16 | (expected + 4) >> 16) << at;
        }
    }
    // Goes on where the last read ended: the end of the word 0x00020000, the
    // start of 0x00020004.
    EXPECT_EQ(get_32_be(s), 0x00000002);
    std::fseek(s, 0, SEEK_END);
    EXPECT_EQ(std::ftell(s), 200000);
    std::fclose(s);
    std::remove(path.c_str());
}

TEST(CachedInputDeathTest, FailsAsAPlainStreamWould) {
    const std::string path = numbered_file(20000);
    input_cache cache;
    std::FILE* s = open_cached_input(path.c_str(), cache);
    expect_reports({
        {"util.cpp:126:get_32_be:fread: unexpected EOF\n", [&] { get_32_be_seek(79998, s); }},
        {"util.cpp:126:get_32_be:fread: unexpected EOF\n", [&] { get_32_be_seek(900000, s); }},
        {"util.cpp:132:get_32_be_seek:fseek: Invalid argument\n", [&] { get_32_be_seek(-4, s); }},
    });
    std::fclose(s);
    std::remove(path.c_str());
    input_cache unused;
    EXPECT_EQ(open_cached_input("/nonexistent/file", unused), nullptr);
    EXPECT_EQ(errno, ENOENT);
    // A pipe cannot be read at offsets: it stays an ordinary stream.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string pipe_path = "/dev/fd/" + std::to_string(fds[0]);
    std::FILE* piped = open_cached_input(pipe_path.c_str(), unused);
    ASSERT_NE(piped, nullptr);
    EXPECT_FALSE(unused.in_use);
    EXPECT_EXIT(get_32_be_seek(0, piped), ExitedWithCode(1),
                Eq(std::string("util.cpp:132:get_32_be_seek:fseek: Illegal seek\n")));
}

TEST(ReadLong, AcceptsDecimalOctalHexAndSigns) {
    EXPECT_EQ(read_long("0x10"), 16);
    EXPECT_EQ(read_long("0X1f"), 31);
    EXPECT_EQ(read_long("010"), 8);
    EXPECT_EQ(read_long("-5"), -5);
    EXPECT_EQ(read_long("  +42"), 42);
    EXPECT_EQ(read_long(""), 0);  // nothing converted, nothing left over
    EXPECT_EQ(read_long("2147483647"), INT32_MAX);
    EXPECT_EQ(read_long("-2147483648"), INT32_MIN);
}

TEST(ReadLongDeathTest, RejectsTrailingTextAndOutOfRangeValues) {
    expect_reports({
        {"util.cpp:256:read_long: bad number format\n", [] { read_long("12abc"); }},
        {"util.cpp:256:read_long: bad number format\n", [] { read_long("12 "); }},
        {"util.cpp:256:read_long: bad number format\n", [] { read_long("   "); }},
        {"util.cpp:255:read_long:strtol: Numerical result out of range\n",
         [] { read_long("2147483648"); }},
        {"util.cpp:255:read_long:strtol: Numerical result out of range\n",
         [] { read_long("-99999999999999999999999"); }},
    });
}

TEST(PutPadding, WritesZerosUpToTheAlignment) {
    std::FILE* s = stream_of(byte_vector(20, 0xEE));
    EXPECT_EQ(put_padding(13, 16, s), 16);
    byte_vector expected(20, 0xEE);
    expected[13] = expected[14] = expected[15] = 0;
    EXPECT_EQ(contents(s), expected);
    EXPECT_EQ(put_padding(16, 16, s), 16);  // already aligned: nothing written
    EXPECT_EQ(put_padding(0, 4, s), 0);
    EXPECT_EQ(contents(s), expected);
    std::FILE* growing = stream_of({0xAA});
    EXPECT_EQ(put_padding(1, 4, growing), 4);
    EXPECT_EQ(contents(growing), (byte_vector{0xAA, 0, 0, 0}));
}

TEST(PrintSpaces, PrintsTheMagnitudeOfTheCount) {
    std::FILE* s = std::tmpfile();
    EXPECT_EQ(print_spaces(s, 3), 3);
    EXPECT_EQ(print_spaces(s, 0), 0);
    std::fputc('|', s);
    EXPECT_EQ(print_spaces(s, -2), 2);
    std::fputc('|', s);
    const byte_vector printed = contents(s);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), "   |  |");
}

}  // namespace
