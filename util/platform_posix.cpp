// POSIX: Linux, and the other Unix systems (macOS, the BSDs).
#include "platform.hpp"

#include "util.hpp"

#include <sys/stat.h>
#include <unistd.h>

#if __has_include(<stdio_ext.h>)  // glibc, musl
#include <stdio_ext.h>
#endif

// glibc lets a stream's reads be hooked; the portable twin of the cached
// input can be chosen on it too, so that path is tested on Linux.
#if defined(__GLIBC__) && !defined(TOLVANE_PORTABLE_INPUT)
#define TOLVANE_FAST_INPUT 1
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#endif

#ifdef TOLVANE_FAST_INPUT
namespace {

// The cached input's functions, as the stream calls them.  Reads come from
// the cached block, refilled by one pread where a read falls outside it;
// seeks only move the position, except to the end, which asks the file.
ssize_t cached_read(void* cookie, char* buffer, std::size_t size) {
    auto& c = *static_cast<input_cache*>(cookie);
    if (c.position < c.block_start ||
        c.position >= c.block_start + static_cast<std::int64_t>(c.block_length)) {
        const ssize_t got = ::pread(c.fd, c.block.data(), c.block.size(), c.position);
        if (got < 0) return -1;
        c.block_start = c.position;
        c.block_length = static_cast<std::size_t>(got);
    }
    const auto offset = static_cast<std::size_t>(c.position - c.block_start);
    const std::size_t n = std::min(size, c.block_length - offset);
    std::memcpy(buffer, c.block.data() + offset, n);
    c.position += static_cast<std::int64_t>(n);
    return static_cast<ssize_t>(n);
}

int cached_seek(void* cookie, off64_t* offset, int whence) {
    auto& c = *static_cast<input_cache*>(cookie);
    std::int64_t base = whence == SEEK_SET ? 0 : c.position;
    if (whence == SEEK_END && (base = ::lseek(c.fd, 0, SEEK_END)) < 0) return -1;
    if (*offset < -base) {
        errno = EINVAL;  // as the kernel says of a position before the start
        return -1;
    }
    if (*offset > std::numeric_limits<std::int64_t>::max() - base) {
        errno = EOVERFLOW;
        return -1;
    }
    c.position = base + *offset;
    *offset = c.position;
    return 0;
}

int cached_close(void* cookie) { return ::close(static_cast<input_cache*>(cookie)->fd); }

}  // namespace

std::FILE* open_cached_input(const char* argument, input_cache& cache) {
    const int fd = ::open(argument, O_RDONLY);
    if (fd < 0) return nullptr;
    cache.fd = fd;
    if (::lseek(fd, 0, SEEK_CUR) < 0) return ::fdopen(fd, "rb");  // a pipe stays one
    cache.position = cache.block_start = 0;
    cache.block_length = 0;
    cookie_io_functions_t io{};
    io.read = cached_read;
    io.seek = cached_seek;
    io.close = cached_close;
    std::FILE* stream = ::fopencookie(&cache, "rb", io);
    if (stream == nullptr) {
        ::close(fd);
        return nullptr;
    }
    std::setvbuf(stream, cache.stdio_buffer.data(), _IOFBF, cache.stdio_buffer.size());
    return stream;
}
#else
std::FILE* open_cached_input(const char* argument, input_cache& cache) {
    return open_buffered_input(argument, cache.block.data(), cache.block.size());
}
#endif

// Names are bytes to the system, whatever their encoding.
std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* open_input(const char* argument) { return std::fopen(argument, "rb"); }

std::FILE* create_output(const char* path) { return std::fopen(path, "wb"); }

std::int64_t tell_64(std::FILE* stream) { return ::ftello(stream); }

bool identify_file(const char* name, name_origin, file_id& id) {
    struct stat st {};
    if (::stat(name, &st) != 0) return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

void prepare_standard_streams(char* buffer, std::size_t size) {
    if (::isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, buffer, _IOFBF, size);
}

// Any name without '/' (which the converter refuses everywhere) is a file
// name here.
bool name_is_usable_here(std::string_view) { return true; }

#if __has_include(<stdio_ext.h>)
bool stream_is_reading(std::FILE* stream) { return ::__freading(stream) != 0; }
bool stream_is_writing(std::FILE* stream) { return ::__fwriting(stream) != 0; }
#else
// Without a way to ask, every seek read and seek write positions the stream.
bool stream_is_reading(std::FILE*) { return false; }
bool stream_is_writing(std::FILE*) { return false; }
#endif
