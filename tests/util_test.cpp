// Unit tests of the utility unit.  Fatal paths run as death tests: each must
// print exactly its one report on standard error and exit with status 1.
#include "util.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>
#include <unistd.h>

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
std::FILE* read_only() { return std::fopen("/dev/null", "rb"); }

// A file whose every 4-byte word holds its own offset, big-endian.
std::string numbered_file(std::uint32_t words) {
    char path[] = "/tmp/tolvane-cache-XXXXXX";
    std::FILE* out = ::fdopen(::mkstemp(path), "wb");
    for (std::uint32_t i = 0; i < words; ++i) {
        std::uint8_t word[4];
        write_32_be(4 * i, word);
        std::fwrite(word, 1, 4, out);
    }
    std::fclose(out);
    return path;
}

// Distinct values, so a swapped byte order cannot pass.
const byte_vector k_sample = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD,
                              0xEF, 0xFF, 0xFF, 0x80, 0x00, 0x01, 0x13};

TEST(Codecs, DecodeAndEncodeInBothByteOrders) {
    const std::uint8_t* b = k_sample.data();
    EXPECT_EQ(read_16_be(b), 0x0123);
    EXPECT_EQ(read_16_le(b), 0x2301);
    EXPECT_EQ(read_32_be(b), 0x01234567U);
    EXPECT_EQ(read_32_le(b), 0x67452301U);
    EXPECT_EQ(read_64_be(b), 0x0123456789ABCDEFULL);
    EXPECT_EQ(read_16_le(b + 8), 65535);  // zero-extended, never -1
    byte_vector out(4, 0xEE);
    write_16_be(0xABCD1234U, out.data());  // the low 16 bits only
    EXPECT_EQ(out, (byte_vector{0x12, 0x34, 0xEE, 0xEE}));
    write_32_be(0x01234567U, out.data());
    EXPECT_EQ(out, (byte_vector{0x01, 0x23, 0x45, 0x67}));
    write_32_le(0x01234567U, out.data());
    EXPECT_EQ(out, (byte_vector{0x67, 0x45, 0x23, 0x01}));
}

TEST(CheckedAccess, ReadsAndWritesTheirWidthAndOrder) {
    std::FILE* s = stream_of(k_sample);
    EXPECT_EQ(get_byte_seek(5, s), 0xAB);
    EXPECT_EQ(get_byte(s), 0xCD);  // goes on where the last read ended
    EXPECT_EQ(get_16_be_seek(1, s), 0x2345);
    EXPECT_EQ(get_16_le_seek(8, s), 65535);
    EXPECT_EQ(get_16_be(s), 0x8000);
    EXPECT_EQ(get_32_be_seek(10, s), static_cast<std::int32_t>(0x80000113U));  // negative
    EXPECT_EQ(get_32_le_seek(0, s), 0x67452301);
    EXPECT_EQ(get_32_le(s), static_cast<std::int32_t>(0xEFCDAB89U));
    EXPECT_EQ(get_32_be(s), static_cast<std::int32_t>(0xFFFF8000U));
    EXPECT_EQ(get_64_be_seek(0, s), 0x0123456789ABCDEFULL);
    EXPECT_EQ(get_64_be_seek(2, s), 0x456789ABCDEFFFFFULL);
    byte_vector run(2, 0xEE);
    EXPECT_EQ(get_bytes_seek(3, s, run.data(), 2), 2);
    EXPECT_EQ(run, (byte_vector{0x67, 0x89}));
    EXPECT_EQ(get_bytes_seek(0, s, run.data(), 0), 0);  // an empty run succeeds
    std::FILE* w = std::tmpfile();
    EXPECT_EQ(put_byte(0x1FE, w), 1);
    EXPECT_EQ(put_16_be(0x7FFF1234, w), 2);
    EXPECT_EQ(put_32_be(0x01234567, w), 4);
    EXPECT_EQ(put_32_le(0x01234567, w), 4);
    EXPECT_EQ(put_bytes(w, k_sample.data(), 2), 2);
    EXPECT_EQ(contents(w), (byte_vector{0xFE, 0x12, 0x34, 0x01, 0x23, 0x45, 0x67, 0x67, 0x45, 0x23,
                                        0x01, 0x01, 0x23}));
    EXPECT_EQ(put_byte_seek(0x99, 0, w), 1);
    EXPECT_EQ(put_16_be_seek(0xBEEF, 1, w), 2);
    EXPECT_EQ(put_32_be_seek(0x0A0B0C0D, 3, w), 4);
    EXPECT_EQ(put_32_le_seek(0x0A0B0C0D, 9, w), 4);
    EXPECT_EQ(put_bytes_seek(15, w, k_sample.data() + 2, 1), 1);
    EXPECT_EQ(contents(w), (byte_vector{0x99, 0xBE, 0xEF, 0x0A, 0x0B, 0x0C, 0x0D, 0x67, 0x45, 0x0D,
                                        0x0C, 0x0B, 0x0A, 0x00, 0x00, 0x45}));
}

// Records the size of every write that reaches the file itself.
std::FILE* logged_stream(std::vector<std::size_t>& writes, const char* mode) {
    cookie_io_functions_t io{};
    io.read = [](void*, char*, std::size_t size) { return static_cast<ssize_t>(size); };
    io.write = [](void* log, const char*, std::size_t size) {
        static_cast<std::vector<std::size_t>*>(log)->push_back(size);
        return static_cast<ssize_t>(size);
    };
    io.seek = [](void*, off64_t*, int) { return 0; };
    std::FILE* stream = fopencookie(&writes, mode, io);
    std::setvbuf(stream, nullptr, _IONBF, 0);  // every fwrite reaches the log
    return stream;
}

TEST(Dump, CopiesTheRangeInPiecesOf2048Bytes) {
    std::vector<std::size_t> writes;
    dump(logged_stream(writes, "rb"), logged_stream(writes, "wb"), 100, 2 * 2048 + 904);
    EXPECT_EQ(writes, (std::vector<std::size_t>{2048, 2048, 904}));
    byte_vector source(5000);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7);
    std::FILE* out = stream_of({0xEE, 0xEE});
    std::fseek(out, 0, SEEK_END);
    dump(stream_of(source), out, 3, 4100);  // to the output's current position
    byte_vector expected = {0xEE, 0xEE};
    expected.insert(expected.end(), source.begin() + 3, source.begin() + 4103);
    EXPECT_EQ(contents(out), expected);
}

TEST(CachedInput, ReadsAtScatteredOffsetsAcrossBlocks) {
    const std::string path = numbered_file(50000);  // about three cached blocks
    input_cache cache;
    std::FILE* s = open_cached_input(path.c_str(), cache);
    ASSERT_TRUE(s != nullptr && cache.in_use);
    // Forward, backward, across the 64 KiB block edges, and unaligned (two
    // bytes of one word, two of the next).
    for (std::int32_t at : {0, 65532, 65536, 4, 131068, 199996, 8, 65534, 131070}) {
        const auto word = static_cast<std::uint32_t>(at / 4 * 4);
        const auto expected = at % 4 == 0 ? word : (word & 0xFFFF) << 16 | (word + 4) >> 16;
        EXPECT_EQ(static_cast<std::uint32_t>(get_32_be_seek(at, s)), expected) << at;
    }
    EXPECT_EQ(get_32_be(s), 0x00000002);  // the end of 0x00020000, the start of 0x00020004
    std::fseek(s, 0, SEEK_END);
    EXPECT_EQ(std::ftell(s), 200000);
    std::remove(path.c_str());
    input_cache unused;
    EXPECT_EQ(open_cached_input("/nonexistent/file", unused), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(NumbersAndPadding, ParseAlignAndIndent) {
    EXPECT_EQ(read_long("0x10"), 16);
    EXPECT_EQ(read_long("0X1f"), 31);
    EXPECT_EQ(read_long("010"), 8);
    EXPECT_EQ(read_long("-5"), -5);
    EXPECT_EQ(read_long("  +42"), 42);
    EXPECT_EQ(read_long(""), 0);  // nothing converted, nothing left over
    EXPECT_EQ(read_long("2147483647"), INT32_MAX);
    EXPECT_EQ(read_long("-2147483648"), INT32_MIN);
    std::FILE* s = stream_of(byte_vector(20, 0xEE));
    EXPECT_EQ(put_padding(13, 16, s), 16);
    EXPECT_EQ(put_padding(16, 16, s), 16);  // already aligned: nothing written
    EXPECT_EQ(put_padding(0, 4, s), 0);
    byte_vector expected(20, 0xEE);
    expected[13] = expected[14] = expected[15] = 0;
    EXPECT_EQ(contents(s), expected);
    std::FILE* growing = stream_of({0xAA});
    EXPECT_EQ(put_padding(1, 4, growing), 4);
    EXPECT_EQ(contents(growing), (byte_vector{0xAA, 0, 0, 0}));
    std::FILE* text = std::tmpfile();
    EXPECT_EQ(print_spaces(text, 3), 3);
    EXPECT_EQ(print_spaces(text, 0), 0);
    std::fputc('|', text);
    EXPECT_EQ(print_spaces(text, -2), 2);
    std::fputc('|', text);
    const byte_vector printed = contents(text);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), "   |  |");
}

// Each call must end the run with exactly its report.
TEST(ReportsDeathTest, EveryCheckPrintsItsOneLine) {
    std::uint8_t buffer[8];
    const auto two = [] { return stream_of({0xAA, 0xBB}); };  // shorter than most reads
    const auto any = [] { return stream_of(k_sample); };
    const std::string numbered = numbered_file(20000);
    input_cache cache, pipe_cache;
    std::FILE* cached = open_cached_input(numbered.c_str(), cache);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* piped = open_cached_input(("/dev/fd/" + std::to_string(fds[0])).c_str(), pipe_cache);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        // A short read inside a seek read reports under the plain member.
        {"util.cpp:83:get_byte:fread: unexpected EOF", [&] { get_byte_seek(2, two()); }},
        {"util.cpp:98:get_16_be:fread: unexpected EOF", [&] { get_16_be_seek(1, two()); }},
        {"util.cpp:112:get_16_le:fread: unexpected EOF", [&] { get_16_le_seek(1, two()); }},
        {"util.cpp:126:get_32_be:fread: unexpected EOF", [&] { get_32_be_seek(0, two()); }},
        {"util.cpp:140:get_32_le:fread: unexpected EOF", [&] { get_32_le(two()); }},
        {"util.cpp:154:get_64_be:fread: unexpected EOF", [&] { get_64_be_seek(0, two()); }},
        {"util.cpp:168:get_bytes:fread: unexpected EOF",
         [&] { get_bytes_seek(0, two(), buffer, 3); }},
        {"util.cpp:89:get_byte_seek:fseek: Invalid argument", [&] { get_byte_seek(-1, any()); }},
        {"util.cpp:104:get_16_be_seek:fseek: Invalid argument", [&] { get_16_be_seek(-2, any()); }},
        {"util.cpp:118:get_16_le_seek:fseek: Invalid argument", [&] { get_16_le_seek(-3, any()); }},
        {"util.cpp:132:get_32_be_seek:fseek: Invalid argument",
         [&] { get_32_be_seek(INT32_MIN, any()); }},
        {"util.cpp:146:get_32_le_seek:fseek: Invalid argument", [&] { get_32_le_seek(-4, any()); }},
        {"util.cpp:160:get_64_be_seek:fseek: Invalid argument", [&] { get_64_be_seek(-5, any()); }},
        {"util.cpp:173:get_bytes_seek:fseek: Invalid argument",
         [&] { get_bytes_seek(-6, any(), buffer, 1); }},
        {"util.cpp:183:put_byte:fwrite: fwrite: Bad file descriptor",
         [] { put_byte(1, read_only()); }},
        {"util.cpp:197:put_16_be:fwrite: fwrite: Bad file descriptor",
         [] { put_16_be_seek(1, 0, read_only()); }},
        {"util.cpp:210:put_32_be:fwrite: fwrite: Bad file descriptor",
         [] { put_32_be(1, read_only()); }},
        {"util.cpp:223:put_32_le:fwrite: fwrite: Bad file descriptor",
         [] { put_32_le_seek(1, 0, read_only()); }},
        {"util.cpp:234:put_bytes:fwrite: fwrite: Bad file descriptor",
         [&] { put_bytes(read_only(), buffer, 2); }},
        {"util.cpp:187:put_byte_seek:fseek: Invalid argument",
         [] { put_byte_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:201:put_16_be_seek:fseek: Invalid argument",
         [] { put_16_be_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:214:put_32_be_seek:fseek: Invalid argument",
         [] { put_32_be_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:227:put_32_le_seek:fseek: Invalid argument",
         [] { put_32_le_seek(1, -1, std::tmpfile()); }},
        {"util.cpp:239:put_bytes_seek:fseek: Invalid argument",
         [&] { put_bytes_seek(-1, std::tmpfile(), buffer, 2); }},
        {"util.cpp:15:dump:fseek: Invalid argument",
         [] { dump(stream_of({1}), std::tmpfile(), -1, 1); }},
        {"util.cpp:23:dump:fread: unexpected EOF",
         [] { dump(stream_of(byte_vector(3000)), std::tmpfile(), 0, 3001); }},
        {"util.cpp:26:dump:fwrite: fwrite: Bad file descriptor",
         [] {
             std::FILE* out = read_only();
             std::setvbuf(out, nullptr, _IONBF, 0);
             dump(stream_of({1, 2, 3}), out, 0, 3);
         }},
        {"util.cpp:256:read_long: bad number format", [] { read_long("12abc"); }},
        {"util.cpp:256:read_long: bad number format", [] { read_long("12 "); }},
        {"util.cpp:256:read_long: bad number format", [] { read_long("   "); }},
        {"util.cpp:255:read_long:strtol: Numerical result out of range",
         [] { read_long("2147483648"); }},
        {"util.cpp:255:read_long:strtol: Numerical result out of range",
         [] { read_long("-99999999999999999999999"); }},
        // Every field is an argument, never the format.
        {"x.cpp:7:fn: 100% %s done", [] { fatal_message("x.cpp", 7, "fn", "100% %s done"); }},
        {"x.cpp:8:fn:open %d: No such file or directory",
         [] {
             errno = ENOENT;
             fatal_errno("x.cpp", 8, "fn", "open %d");
         }},
        {"x.cpp:9:fn:fwrite: fwrite: Bad file descriptor",
         [] {
             std::FILE* s = read_only();
             std::fputc('a', s);
             fatal_stream("x.cpp", 9, "fn", "fwrite", s);
         }},
        // The cached input fails as an ordinary stream would; a pipe stays one.
        {"util.cpp:126:get_32_be:fread: unexpected EOF", [&] { get_32_be_seek(79998, cached); }},
        {"util.cpp:126:get_32_be:fread: unexpected EOF", [&] { get_32_be_seek(900000, cached); }},
        {"util.cpp:132:get_32_be_seek:fseek: Invalid argument",
         [&] { get_32_be_seek(-4, cached); }},
        {"util.cpp:132:get_32_be_seek:fseek: Illegal seek", [&] { get_32_be_seek(0, piped); }},
    };
    for (const auto& [report, call] : cases) {
        SCOPED_TRACE(report);
        EXPECT_EXIT(call(), ExitedWithCode(1), Eq(report + "\n"));
    }
    EXPECT_FALSE(pipe_cache.in_use);
    std::remove(numbered.c_str());
}

}  // namespace
