#include "util.hpp"

#include "platform.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

// Reports name this file as it is, whatever path the build compiled it from.
constexpr const char* k_unit = "util.cpp";

// A checked member's name and the location number of its check.
struct check {
    const char* name;
    int line;
};

// What standard output holds (progress lines, which it buffers) goes out
// before a line of standard error does, so that with both in one file or
// pipe the lines stand in the order they happened.  Its failure is reported
// at the end of a run that gets there.
void flush_progress() { std::fflush(stdout); }

// Saves errno across the prefix, which may itself disturb it.
void print_prefix(const char* file, int line, const char* function, const char* text) {
    const int saved = errno;
    flush_progress();
    std::fprintf(stderr, "%s:%d:%s:%s: ", file, line, function, text);
    std::fflush(stderr);
    errno = saved;
}

// The report of a short read or write, whether it came at the end of the
// input or from a failure the system describes by errno.
[[noreturn]] void fatal_short(const char* file, int line, const char* function, const char* op,
                              bool at_end) {
    print_prefix(file, line, function, op);
    if (at_end)
        std::fputs("unexpected EOF\n", stderr);
    else
        std::perror(op);
    std::exit(1);
}

// What the stream is positioned for, and how many bytes.
struct use {
    enum { read, write } way;
    std::size_t size;
};

// The caches given to streams, most recent first.  Set as the dumps are
// opened; a lookup is a few pointer comparisons.
input_cache* cached_streams = nullptr;

input_cache* cache_of(std::FILE* stream) {
    for (input_cache* cache = cached_streams; cache != nullptr; cache = cache->next)
        if (cache->stream == stream) return cache;
    return nullptr;
}

// A stream with a cache moves only in it; it refuses a position before the
// start as fseek does.  Any other stream is positioned with fseek, even
// where it is already there: C asks for it between a read and a write.
void seek_to(std::FILE* stream, std::int32_t offset, use next, check where) {
    input_cache* cache = next.way == use::read ? cache_of(stream) : nullptr;
    if (cache == nullptr) {
        if (std::fseek(stream, offset, SEEK_SET) != 0)
            fatal_errno(k_unit, where.line, where.name, "fseek");
        return;
    }
    if (offset < 0) {
        errno = EINVAL;
        fatal_errno(k_unit, where.line, where.name, "fseek");
    }
    cache->position = offset;
    cache->wanted_end = offset + static_cast<std::int64_t>(next.size);
}

#ifdef TOLVANE_CROSS_CHECK_READS
// Fuzzing builds read every cached run again through the stream's own stdio,
// which shares nothing with the cache, and stop at once where the two
// disagree: a wrong byte, or an end of file that is not there, is then a
// crash the fuzzer keeps.
void cross_check(std::FILE* stream, std::int64_t at, const std::uint8_t* bytes, std::size_t size) {
    std::array<std::uint8_t, 4096> plain{};
    if (std::fseek(stream, static_cast<long>(at), SEEK_SET) != 0) std::abort();
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(plain.size(), size - done);
        if (std::fread(plain.data(), 1, n, stream) != n ||
            std::memcmp(plain.data(), bytes + done, n) != 0)
            std::abort();
        done += n;
    }
}

void cross_check_end(std::FILE* stream, std::int64_t at) {
    if (std::fseek(stream, static_cast<long>(at), SEEK_SET) != 0 || std::fgetc(stream) != EOF ||
        std::feof(stream) == 0)
        std::abort();
}
#else
void cross_check(std::FILE*, std::int64_t, const std::uint8_t*, std::size_t) {}
void cross_check_end(std::FILE*, std::int64_t) {}
#endif

// Fills the cache's window from its position on, as the window policy says;
// the bytes still wanted since the last seek tell it how much.  A read that
// finds nothing there has reached the end of the file.
void fetch(input_cache& c, std::size_t size, check where) {
    const std::size_t capacity = c.block.size();
    const auto still_wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(
        c.wanted_end - c.position, 0, static_cast<std::int64_t>(capacity)));
    const input_fetch f = plan_fetch(c.held, c.position, std::max(size, still_wanted), capacity);
    const std::int64_t got = read_at(c.stream, f.window.start + static_cast<std::int64_t>(f.kept),
                                     c.block.data() + f.kept, f.window.length - f.kept);
    if (got < 0) fatal_short(k_unit, where.line, where.name, "fread", false);
    if (got == 0) {
        cross_check_end(c.stream, c.position);
        fatal_short(k_unit, where.line, where.name, "fread", true);
    }
    c.held = {f.window.start, f.kept + static_cast<std::size_t>(got)};
}

// Copies what the window holds, fetching where it runs out.  (A fetch that
// the system answered with fewer bytes than asked is simply followed by
// another.)
void read_cached(input_cache& c, std::uint8_t* buffer, std::size_t size, check where) {
    const std::int64_t start = c.position;
    for (std::size_t done = 0; done < size;) {
        if (!c.held.holds(c.position, 1)) {
            fetch(c, size - done, where);
            continue;
        }
        const auto from = static_cast<std::size_t>(c.position - c.held.start);
        const std::size_t n = std::min(size - done, c.held.length - from);
        std::memcpy(buffer + done, c.block.data() + from, n);
        done += n;
        c.position += static_cast<std::int64_t>(n);
    }
    cross_check(c.stream, start, buffer, size);
}

void read_exact(std::FILE* stream, void* buffer, std::size_t size, check where) {
    if (input_cache* cache = cache_of(stream))
        return read_cached(*cache, static_cast<std::uint8_t*>(buffer), size, where);
    if (std::fread(buffer, 1, size, stream) != size)
        fatal_stream(k_unit, where.line, where.name, "fread", stream);
}

void write_exact(std::FILE* stream, const void* buffer, std::size_t size, check where) {
    if (std::fwrite(buffer, 1, size, stream) != size)
        fatal_stream(k_unit, where.line, where.name, "fwrite", stream);
}

// Reads N bytes into a local buffer and decodes them.
template <std::size_t N, typename Decode>
auto read_coded(std::FILE* stream, Decode decode, check where) {
    std::array<std::uint8_t, N> bytes{};
    read_exact(stream, bytes.data(), N, where);
    return decode(bytes.data());
}

// Encodes into a local buffer and writes the N bytes.
template <std::size_t N, typename Encode>
std::int32_t write_coded(std::int32_t value, std::FILE* stream, Encode encode, check where) {
    std::array<std::uint8_t, N> bytes{};
    encode(static_cast<std::uint32_t>(value), bytes.data());
    write_exact(stream, bytes.data(), N, where);
    return static_cast<std::int32_t>(N);
}

std::uint8_t read_8(const std::uint8_t* bytes) { return bytes[0]; }
void write_8(std::uint32_t value, std::uint8_t* bytes) {
    bytes[0] = static_cast<std::uint8_t>(value);
}

std::size_t byte_count(std::int32_t length) { return static_cast<std::size_t>(length); }

}  // namespace

// ---- Reading through a cache ------------------------------------------------

#ifndef TOLVANE_PLAIN_READS
void use_input_cache(std::FILE* stream, input_cache& cache) {
    if (!can_read_at(stream)) return;
    cache.stream = stream;
    cache.position = 0;
    cache.held = {};
    cache.next = cached_streams;
    cached_streams = &cache;
}
#else
// The tests' reference build: every stream read through stdio, each seek read
// one fseek and one fread, as plainly as the reads can be made.
void use_input_cache(std::FILE*, input_cache&) {}
#endif

// ---- Fatal reports -------------------------------------------------------

// In C's variadic form, so that the compiler checks each call's format
// against its values, which a parameter pack would not let it do.
void print_context(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    flush_progress();
    std::va_list values;
    va_start(values, format);
    std::vfprintf(stderr, format, values);
    va_end(values);
}

void fatal_message(const char* file, int line, const char* function, const char* text) {
    flush_progress();
    std::fprintf(stderr, "%s:%d:%s: %s\n", file, line, function, text);
    std::exit(1);
}

void fatal_errno(const char* file, int line, const char* function, const char* text) {
    print_prefix(file, line, function, text);
    std::perror(nullptr);
    std::exit(1);
}

void fatal_stream(const char* file, int line, const char* function, const char* op,
                  std::FILE* stream) {
    fatal_short(file, line, function, op, std::feof(stream) != 0);
}

// ---- Codecs: most significant byte first, one byte at a time --------------

std::uint16_t read_16_be(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint16_t read_16_le(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0]);
}

std::uint32_t read_32_be(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | bytes[i];
    return value;
}

std::uint32_t read_32_le(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

std::uint64_t read_64_be(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | bytes[i];
    return value;
}

void write_16_be(std::uint32_t value, std::uint8_t* bytes) {
    for (int i = 1; i >= 0; --i, value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
}

void write_32_be(std::uint32_t value, std::uint8_t* bytes) {
    for (int i = 3; i >= 0; --i, value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
}

void write_32_le(std::uint32_t value, std::uint8_t* bytes) {
    for (int i = 0; i < 4; ++i, value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
}

// ---- Checked reads --------------------------------------------------------

std::uint8_t get_byte(std::FILE* stream) { return read_coded<1>(stream, read_8, {"get_byte", 83}); }
std::uint8_t get_byte_seek(std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::read, 1}, {"get_byte_seek", 89});
    return get_byte(stream);
}

std::uint16_t get_16_be(std::FILE* stream) {
    return read_coded<2>(stream, read_16_be, {"get_16_be", 98});
}
std::uint16_t get_16_be_seek(std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::read, 2}, {"get_16_be_seek", 104});
    return get_16_be(stream);
}

std::uint16_t get_16_le(std::FILE* stream) {
    return read_coded<2>(stream, read_16_le, {"get_16_le", 112});
}
std::uint16_t get_16_le_seek(std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::read, 2}, {"get_16_le_seek", 118});
    return get_16_le(stream);
}

std::int32_t get_32_be(std::FILE* stream) {
    return static_cast<std::int32_t>(read_coded<4>(stream, read_32_be, {"get_32_be", 126}));
}
std::int32_t get_32_be_seek(std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::read, 4}, {"get_32_be_seek", 132});
    return get_32_be(stream);
}

std::int32_t get_32_le(std::FILE* stream) {
    return static_cast<std::int32_t>(read_coded<4>(stream, read_32_le, {"get_32_le", 140}));
}
std::int32_t get_32_le_seek(std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::read, 4}, {"get_32_le_seek", 146});
    return get_32_le(stream);
}

std::uint64_t get_64_be(std::FILE* stream) {
    return read_coded<8>(stream, read_64_be, {"get_64_be", 154});
}
std::uint64_t get_64_be_seek(std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::read, 8}, {"get_64_be_seek", 160});
    return get_64_be(stream);
}

std::int32_t get_bytes(std::FILE* stream, void* buffer, std::int32_t length) {
    read_exact(stream, buffer, byte_count(length), {"get_bytes", 168});
    return length;
}
std::int32_t get_bytes_seek(std::int32_t offset, std::FILE* stream, void* buffer,
                            std::int32_t length) {
    seek_to(stream, offset, {use::read, byte_count(length)}, {"get_bytes_seek", 173});
    return get_bytes(stream, buffer, length);
}

// ---- Checked writes -------------------------------------------------------

std::int32_t put_byte(std::int32_t value, std::FILE* stream) {
    return write_coded<1>(value, stream, write_8, {"put_byte", 183});
}
std::int32_t put_byte_seek(std::int32_t value, std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::write, 1}, {"put_byte_seek", 187});
    return put_byte(value, stream);
}

std::int32_t put_16_be(std::int32_t value, std::FILE* stream) {
    return write_coded<2>(value, stream, write_16_be, {"put_16_be", 197});
}
std::int32_t put_16_be_seek(std::int32_t value, std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::write, 2}, {"put_16_be_seek", 201});
    return put_16_be(value, stream);
}

std::int32_t put_32_be(std::int32_t value, std::FILE* stream) {
    return write_coded<4>(value, stream, write_32_be, {"put_32_be", 210});
}
std::int32_t put_32_be_seek(std::int32_t value, std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::write, 4}, {"put_32_be_seek", 214});
    return put_32_be(value, stream);
}

std::int32_t put_32_le(std::int32_t value, std::FILE* stream) {
    return write_coded<4>(value, stream, write_32_le, {"put_32_le", 223});
}
std::int32_t put_32_le_seek(std::int32_t value, std::int32_t offset, std::FILE* stream) {
    seek_to(stream, offset, {use::write, 4}, {"put_32_le_seek", 227});
    return put_32_le(value, stream);
}

std::int32_t put_bytes(std::FILE* stream, const void* buffer, std::int32_t length) {
    write_exact(stream, buffer, byte_count(length), {"put_bytes", 234});
    return length;
}
std::int32_t put_bytes_seek(std::int32_t offset, std::FILE* stream, const void* buffer,
                            std::int32_t length) {
    seek_to(stream, offset, {use::write, byte_count(length)}, {"put_bytes_seek", 239});
    return put_bytes(stream, buffer, length);
}

// ---- Range copy -----------------------------------------------------------

void dump(std::FILE* in, std::FILE* out, std::int32_t offset, std::uint32_t length) {
    constexpr std::uint32_t k_piece = 2048;
    seek_to(in, offset, {use::read, length}, {"dump", 15});
    std::array<std::uint8_t, k_piece> buffer;
    while (length != 0) {
        const std::uint32_t piece = length < k_piece ? length : k_piece;
        read_exact(in, buffer.data(), piece, {"dump", 23});
        write_exact(out, buffer.data(), piece, {"dump", 26});
        length -= piece;
    }
}

// ---- Numbers, padding, indentation ---------------------------------------

std::int32_t read_long(const char* text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (value < INT32_MIN || value > INT32_MAX) errno = ERANGE;
    if (errno != 0) fatal_errno(k_unit, 255, "read_long", "strtol");
    if (*end != '\0') fatal_message(k_unit, 256, "read_long", "bad number format");
    return static_cast<std::int32_t>(value);
}

std::int32_t put_padding(std::int32_t offset, std::int32_t alignment, std::FILE* stream) {
    if (alignment <= 0) fatal_message(k_unit, 257, "put_padding", "alignment must be positive");
    // offset + alignment - 1 wraps in 32 bits, as the offsets themselves do.
    const auto rounded_up = static_cast<std::int32_t>(static_cast<std::uint32_t>(offset) +
                                                      static_cast<std::uint32_t>(alignment) - 1U);
    const auto end = static_cast<std::int32_t>(static_cast<std::uint32_t>(rounded_up / alignment) *
                                               static_cast<std::uint32_t>(alignment));
    for (std::int32_t position = offset; position < end; ++position)
        put_byte_seek(0, position, stream);
    return end;
}

int print_spaces(std::FILE* stream, int count) { return std::fprintf(stream, "%*s", count, ""); }
