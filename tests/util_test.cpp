// Unit tests of the utility unit.  Fatal paths run as death tests: each must
// print exactly its one report on standard error and exit with status 1.
// Reports of the members the converter calls are checked where users meet
// them: in the end-to-end tests and in the manual's check.
#include "util.hpp"
#include "platform.hpp"
#include "run_tool.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

namespace {

// A stream holding `content`, at its start, open for reading and writing.
std::FILE* stream_of(const bytes& content) {
    std::FILE* stream = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    return stream;
}

// What `stream` holds: at most 64 bytes, more than any stream here.
bytes contents(std::FILE* stream) {
    std::rewind(stream);  // (which flushes what was written)
    bytes out(64);
    out.resize(std::fread(out.data(), 1, out.size(), stream));
    return out;
}

TEST(CheckedAccess, ReadsAndWritesTheirWidthAndOrder) {
    // Distinct values, so a swapped byte order cannot pass.
    std::FILE* s =
        stream_of({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFF, 0xFF, 0x80, 0x11});
    EXPECT_EQ(get_byte_seek(5, s), 0xAB);
    EXPECT_EQ(get_byte(s), 0xCD);  // goes on where the last read ended
    EXPECT_EQ(get_16_be_seek(1, s), 0x2345);
    EXPECT_EQ(get_16_le_seek(8, s), 65535);  // zero-extended, never -1
    EXPECT_EQ(get_16_be(s), 0x8011);
    EXPECT_EQ(get_64_be_seek(4, s), 0x89ABCDEFFFFF8011ULL);  // the stream's last 8 bytes
    std::uint8_t run[2] = {0xEE, 0xEE};
    EXPECT_EQ(get_bytes_seek(3, s, run, 2), 2);
    EXPECT_EQ(bytes(run, run + 2), (bytes{0x67, 0x89}));
    std::FILE* w = std::tmpfile();
    EXPECT_EQ(put_byte(0x1FE, w), 1);
    EXPECT_EQ(put_16_be(0x7FFF1234, w), 2);  // the low 16 bits only
    EXPECT_EQ(put_32_be(0x01234567, w), 4);
    EXPECT_EQ(put_32_le(0x01234567, w), 4);
    EXPECT_EQ(put_bytes(w, run, 2), 2);
    EXPECT_EQ(put_byte_seek(0x99, 13, w), 1);
    EXPECT_EQ(put_16_be_seek(0xBEEF, 14, w), 2);
    EXPECT_EQ(put_32_be_seek(0x0A0B0C0D, 16, w), 4);
    EXPECT_EQ(put_32_le_seek(0x0A0B0C0D, 20, w), 4);
    EXPECT_EQ(put_bytes_seek(24, w, run, 1), 1);
    EXPECT_EQ(contents(w),
              (bytes{0xFE, 0x12, 0x34, 0x01, 0x23, 0x45, 0x67, 0x67, 0x45, 0x23, 0x01, 0x67, 0x89,
                     0x99, 0xBE, 0xEF, 0x0A, 0x0B, 0x0C, 0x0D, 0x0D, 0x0C, 0x0B, 0x0A, 0x67}));
    // C requires a positioning between a read and a write of one stream, and
    // between a write and a read, even at the place the stream is at.
    std::FILE* u = stream_of({0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    EXPECT_EQ(get_byte_seek(0, u), 0x01);
    put_byte_seek(0x55, 1, u);
    EXPECT_EQ(get_byte_seek(2, u), 0x03);
    put_bytes_seek(3, u, run, 2);
    EXPECT_EQ(contents(u), (bytes{0x01, 0x55, 0x03, 0x67, 0x89, 0x06}));
}

// A model of reading through a cache: seek reads of every length from 0 to
// 5,000 at offsets anywhere in a 300,000-byte file (running on, stepping
// back, jumping, up to its end), each checked against the file's bytes, with
// a plain read after some of them.  (Reads that fail report as plain ones
// do: see the end-to-end tests, and the differential replay of the fuzzing
// inputs.)
TEST(CachedReads, GiveTheFilesBytesInAnyOrder) {
    std::mt19937 random(20261207);
    const auto below = [&](std::int64_t n) {
        return static_cast<std::int64_t>(random() % static_cast<std::uint32_t>(n));
    };
    constexpr std::int64_t size = 300000;
    bytes content(size);
    for (std::uint8_t& b : content) b = static_cast<std::uint8_t>(random());
    std::FILE* cached = stream_of(content);
    static input_cache cache;  // as long as the stream, which stays open
    use_input_cache(cached, cache);
    bytes got(5000);
    std::int64_t end = 0;
    for (int reads = 0; reads < 100000;) {
        std::int64_t from[] = {end + below(8000) - 1000, below(size), size - below(6000), end};
        const std::int64_t at = from[below(4)], length = below(4) == 0 ? 0 : below(5001);
        const auto offset = static_cast<std::int32_t>(at), n = static_cast<std::int32_t>(length);
        if (at >= 0 && (length == 0 || at + length <= size)) {
            ++reads;
            get_bytes_seek(offset, cached, got.data(), n);
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, content.begin() + offset)) << at;
            end = at + length;
            if (end + 2 <= size && below(8) == 0) {  // a plain read goes on from there
                const auto i = static_cast<std::size_t>(end);
                ASSERT_EQ(get_16_be(cached), content[i] << 8 | content[i + 1]) << end;
                end += 2;
            }
        }
    }
}

TEST(Numbers, ParseAlignAndIndent) {
    std::vector<std::int32_t> parsed;
    errno = EDOM;  // as an earlier call may leave it
    for (const char* text : {"0x10", "0X1f", "010", "-5", "  +42", "", "2147483647", "-2147483648"})
        parsed.push_back(read_long(text));
    EXPECT_EQ(parsed, (std::vector<std::int32_t>{16, 31, 8, -5, 42, 0, INT32_MAX, INT32_MIN}));
    std::FILE* s = stream_of(bytes(20, 0xEE));
    EXPECT_EQ(put_padding(13, 16, s), 16);
    EXPECT_EQ(put_padding(16, 16, s), 16);  // already aligned: nothing written
    EXPECT_EQ(put_padding(7, 1, s), 7);     // everything is
    EXPECT_EQ(contents(s), (bytes{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                                  0xEE, 0xEE, 0xEE, 0,    0,    0,    0xEE, 0xEE, 0xEE, 0xEE}));
    std::FILE* text = std::tmpfile();  // a negative count prints its magnitude
    EXPECT_EQ(print_spaces(text, 3), 3);
    std::fputc('|', text);
    EXPECT_EQ(print_spaces(text, -2), 2);
    EXPECT_EQ(contents(text), (bytes{' ', ' ', ' ', '|', ' ', ' '}));
}

// Windows' "Press Enter" after a double click, weighed on every system.
TEST(Prompt, OnlyWhereAUserDoubleClicked) {
    const std::tuple<const char*, console_facts, bool> cases[] = {
        {"double click, in a console window or Windows Terminal", {true, true, true}, true},
        {"by a program, new or hidden console; Wine from a terminal", {true, true, false}, false},
        {"input from a file or pipe, whoever started it", {true, false, true}, false},
        {"a console shared (cmd, PowerShell), whoever started it", {false, true, true}, false},
    };
    for (const auto& [start, facts, asks] : cases)
        EXPECT_EQ(asks_before_closing(facts), asks) << start;
}

TEST(ReportsDeathTest, EveryCheckPrintsItsOneLine) {
    const auto two = [] { return stream_of({0xAA, 0xBB}); };  // shorter than most reads
    // Every write to a stream opened for reading fails (the program is a file at hand).
    const auto read_only = [] {
        std::FILE* s = std::fopen(TOLVANE_EXE, "rb");
        std::setvbuf(s, nullptr, _IONBF, 0);
        return s;
    };
    // The system's own words for a failure differ between C libraries.
    const std::string bad_write = "fwrite: fwrite: " + std::string(std::strerror(EBADF));
    const std::string range = std::strerror(ERANGE);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        // A short read inside a seek read reports under the plain member.
        {"83:get_byte:fread: unexpected EOF", [&] { get_byte_seek(2, two()); }},
        {"98:get_16_be:fread: unexpected EOF", [&] { get_16_be_seek(1, two()); }},
        {"154:get_64_be:fread: unexpected EOF", [&] { get_64_be_seek(0, two()); }},
        {"89:get_byte_seek:fseek: Invalid argument", [&] { get_byte_seek(-1, two()); }},
        {"104:get_16_be_seek:fseek: Invalid argument", [&] { get_16_be_seek(-2, two()); }},
        {"160:get_64_be_seek:fseek: Invalid argument", [&] { get_64_be_seek(-5, two()); }},
        {"183:put_byte:" + bad_write, [&] { put_byte(1, read_only()); }},
        {"197:put_16_be:" + bad_write, [&] { put_16_be_seek(1, 0, read_only()); }},
        {"210:put_32_be:" + bad_write, [&] { put_32_be(1, read_only()); }},
        {"223:put_32_le:" + bad_write, [&] { put_32_le_seek(1, 0, read_only()); }},
        {"187:put_byte_seek:fseek: Invalid argument", [&] { put_byte_seek(1, -1, two()); }},
        {"201:put_16_be_seek:fseek: Invalid argument", [&] { put_16_be_seek(1, -1, two()); }},
        {"214:put_32_be_seek:fseek: Invalid argument", [&] { put_32_be_seek(1, -1, two()); }},
        {"227:put_32_le_seek:fseek: Invalid argument", [&] { put_32_le_seek(1, -1, two()); }},
        {"239:put_bytes_seek:fseek: Invalid argument", [&] { put_bytes_seek(-1, two(), "ab", 2); }},
        {"256:read_long: bad number format", [] { read_long("12abc"); }},
        {"256:read_long: bad number format", [] { read_long("   "); }},
        {"255:read_long:strtol: " + range, [] { read_long("2147483648"); }},
        {"255:read_long:strtol: " + range, [] { read_long("-2147483649"); }},
        {"257:put_padding: alignment must be positive", [&] { put_padding(1, 0, two()); }},
    };
    for (const auto& [report, call] : cases)
        EXPECT_EXIT(call(), testing::ExitedWithCode(1), testing::Eq("util.cpp:" + report + "\n"));
    // Every field is an argument, never the format.
    errno = ENOENT;
    EXPECT_EXIT(fatal_errno("x%s", 8, "fn", "open %d"), testing::ExitedWithCode(1),
                testing::Eq("x%s:8:fn:open %d: No such file or directory\n"));
}

}  // namespace
