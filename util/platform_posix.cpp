// POSIX: Linux, and the other Unix systems (macOS, the BSDs).
#include "platform.hpp"

#include "util.hpp"

#include <csignal>
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
#include <cstddef>
#include <cstring>
#include <limits>
#include <fcntl.h>
#endif

#ifdef TOLVANE_FAST_INPUT
namespace {

// The cached input's functions, as the stream calls them.  Reads come from
// the cached block, refilled by one pread as plan_fetch says where a read
// starts outside it; seeks only move the position, except to the end, which
// asks the file.
ssize_t cached_read(void* cookie, char* buffer, std::size_t size) {
    auto& c = *static_cast<input_cache*>(cookie);
    if (!c.held.holds(c.position, 1)) {
        const input_fetch f = plan_fetch(c.held, c.position, c.wanted, c.block.size());
        const ssize_t got = ::pread(c.fd, c.block.data() + f.kept, f.window.length - f.kept,
                                    f.window.start + static_cast<std::int64_t>(f.kept));
        if (got < 0) return -1;
        c.held = {f.window.start, f.kept + static_cast<std::size_t>(got)};
    }
    // What the block holds of the read (nothing at the end of the file); the
    // stream asks again for the rest.
    const auto offset = static_cast<std::size_t>(c.position - c.held.start);
    const std::size_t n = c.held.holds(c.position, 1) ? std::min(size, c.held.length - offset) : 0;
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

// The stream of a cached input, which has no file descriptor of its own
// (glibc marks a cookie stream's with -2) and reads through the cache's stdio
// buffer, leads back to its cache.  (The fields are those glibc's public
// struct _IO_FILE declares.)
input_cache* cache_of(std::FILE* stream) {
    if (stream->_fileno != -2 || ::__fbufsize(stream) != sizeof(input_cache::stdio_buffer))
        return nullptr;
    return reinterpret_cast<input_cache*>(stream->_IO_buf_base -
                                          offsetof(input_cache, stdio_buffer));
}

}  // namespace

// glibc's own fseek would throw its buffer away and read afresh from a
// 2048-byte boundary before the offset; this positions the stream as gnulib
// does on glibc: inside the buffer where the bytes are there, else with the
// buffer emptied and the next read, of `wanted` bytes, made at the offset.
bool reposition_read(std::FILE* stream, std::int64_t offset, std::size_t wanted) {
    input_cache* cache = cache_of(stream);
    if (cache == nullptr || stream->_IO_save_base != nullptr) return false;
    cache->wanted = wanted;
    // The buffer holds the bytes up to the stream's file offset.
    const auto buffered = static_cast<std::size_t>(stream->_IO_read_end - stream->_IO_read_base);
    const input_window in_buffer{stream->_offset - static_cast<std::int64_t>(buffered), buffered};
    if (stream->_offset >= 0 && in_buffer.holds(offset, 1)) {
        stream->_IO_read_ptr = stream->_IO_read_base + (offset - in_buffer.start);
    } else {
        ::__fpurge(stream);
        stream->_offset = offset;
        cache->position = offset;
    }
    stream->_flags &= ~_IO_EOF_SEEN;
    return true;
}

std::FILE* open_cached_input(const char* argument, input_cache& cache) {
    const int fd = ::open(argument, O_RDONLY);
    if (fd < 0) return nullptr;
    cache.fd = fd;
    if (::lseek(fd, 0, SEEK_CUR) < 0) return ::fdopen(fd, "rb");  // a pipe stays one
    cache.position = 0;
    cache.held = {};
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

bool reposition_read(std::FILE*, std::int64_t, std::size_t) { return false; }
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

// SIGPIPE would end the run without a word (status 141) when the reader of
// the progress lines stops early, with a file half written; ignored, the
// write fails and the run ends with its report, as it does on Windows.
void prepare_standard_streams(char* buffer, std::size_t size) {
    std::signal(SIGPIPE, SIG_IGN);
    if (::isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, buffer, _IOFBF, size);
}

bool name_leaves_folder(std::string_view name) {
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    return drive || name.find_first_of("/\\") != std::string_view::npos;
}

// Any name that stays in the folder is a file name here.
bool name_is_usable_here(std::string_view) { return true; }

#if __has_include(<stdio_ext.h>)
bool stream_is_reading(std::FILE* stream) { return ::__freading(stream) != 0; }
bool stream_is_writing(std::FILE* stream) { return ::__fwriting(stream) != 0; }
#else
// Without a way to ask, every seek read and seek write positions the stream.
bool stream_is_reading(std::FILE*) { return false; }
bool stream_is_writing(std::FILE*) { return false; }
#endif
