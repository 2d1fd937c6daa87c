// What the operating system does differently, in one place.  Each function
// here has a POSIX implementation (platform_posix.cpp) and a Windows one
// (platform_windows.cpp).  The cached input is fast where the C library lets
// a stream's reads be hooked (fopencookie, with pread); everywhere else it is
// its portable twin, an ordinary stdio stream with a large buffer.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

// A block of an input file kept in memory, so that reads at scattered offsets
// cost no system call while they stay inside it.  Where the platform cannot
// hook a stream's reads, `block` is an ordinary stdio buffer instead.
struct input_cache {
    int fd = 0;  // all members zero: the static stream memory takes no room in the file
    std::int64_t position = 0;     // where the stream reads next
    std::int64_t block_start = 0;  // the file offset of block[0]
    std::size_t block_length = 0;
    std::array<char, std::size_t{64} * 1024> block{};
    std::array<char, 256> stdio_buffer{};  // the stream's own, small buffer
};

// Opens `path` for binary reading, as fopen(path, "rb") does, and returns
// nullptr with errno set where fopen would.  `cache` must outlive the
// stream.
std::FILE* open_cached_input(const char* path, input_cache& cache);

// ftell, but 64 bits wide everywhere (Windows' long is 32 bits): -1 on
// failure, with errno set.
std::int64_t tell_64(std::FILE* stream);

// What identifies a file whatever name or link reaches it: the device and
// inode on POSIX, the volume serial number and file index on Windows.
struct file_id {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const file_id&) const = default;
};

// The identity of the file `path` names (following links); false when
// there is no such file or it cannot be asked.
bool identify_file(const char* path, file_id& id);

// Standard output and error write their bytes as they are (no CR added
// before LF), and standard output is fully buffered through `buffer` unless
// it is a terminal, which sees each progress line at once.
void prepare_standard_streams(char* buffer, std::size_t size);

// Whether the system can create a file of this name (without folders) in the
// current directory and find it again by the same name.
bool name_is_usable_here(std::string_view name);
