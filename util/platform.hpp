// What the operating system does differently, in one place.  Each function
// here has a POSIX implementation (platform_posix.cpp) and a Windows one
// (platform_windows.cpp).  The cached input reads only what each sound needs
// where the C library lets a stream's reads be hooked (glibc's fopencookie,
// with pread) or documents its streams' buffers (Microsoft's msvcrt);
// everywhere else it is an ordinary stdio stream with a large buffer.
#pragma once

#include "input_window.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A block of an input file kept in memory, so that reads at scattered offsets
// cost no system call while they stay inside it.  Where the platform cannot
// hook a stream's reads, `block` is the stream's own stdio buffer instead.
struct input_cache {
    int fd = 0;  // all members zero: the static stream memory takes no room in the file
    std::int64_t position = 0;              // where the stream reads next
    std::size_t wanted = 0;                 // how much the read after the last seek read is for
    input_window held;                      // what `block` holds
    std::array<char, 2048> stdio_buffer{};  // the stream's own, small buffer
    std::array<char, std::size_t{128} * 1024> block{};
};

// The words of the command line, in the form the calls below take names
// given as arguments: on Windows read from the wide command line and kept in
// UTF-8, so that a folder named in any script reaches the system intact (the
// C library's argv has them in the ANSI code page, which may lack their
// characters); elsewhere argv as it is.
std::vector<std::string> program_arguments(int argc, char** argv);

// Opens the file a program argument names for binary reading, as
// fopen(name, "rb") does: nullptr with errno set on failure.
std::FILE* open_input(const char* argument);

// Opens `argument` as open_input does, for reads at scattered offsets through
// `cache`, which must outlive the stream.
std::FILE* open_cached_input(const char* argument, input_cache& cache);

// Creates, or replaces, the file `path` in the current directory for binary
// writing, as fopen(path, "wb") does.  `path` is a sound's name and ".genh":
// on Windows its bytes are taken in the ANSI code page.
std::FILE* create_output(const char* path);

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

// Where a name comes from, which on Windows says how its bytes are read:
// program arguments in UTF-8 (see program_arguments), output paths in the
// ANSI code page (see create_output).
enum class name_origin { argument, output };

// The identity of the file `name` names (following links); false when
// there is no such file or it cannot be asked.
bool identify_file(const char* name, name_origin origin, file_id& id);

// Standard output and error write their bytes as they are (no CR added
// before LF), and standard output is fully buffered through `buffer` unless
// it is a terminal, which sees each progress line at once.  A standard
// output closed early (a reader that stopped) makes writes fail, on POSIX as
// on Windows, rather than ending the process.  On Windows, a program started
// in a console window of its own (from Explorer) asks for Enter before it
// ends, so that its last words can be read.
void prepare_standard_streams(char* buffer, std::size_t size);

// Whether `name`, a sound's name made a file name in the current directory,
// would lead out of it: it holds a separator, '/' or '\\' (both refused on
// every system, so that a bank converts alike everywhere), or starts with a
// drive letter and ':'.  On Windows the name is judged in UTF-16, as the
// system reads it: in a double-byte ANSI code page (Japanese, 932) the second
// byte of a character such as U+30BD may be 0x5C, the byte of '\\'.
bool name_leaves_folder(std::string_view name);

// Whether the system can create a file of this name (without folders) in the
// current directory and find it again by the same name.
bool name_is_usable_here(std::string_view name);

// Makes `stream`, which was last read (see below), read next from `offset`,
// with the `wanted` bytes from there in its buffer where it can, as the
// policy of input_window.hpp says.  False where the platform cannot do that
// for this stream: the caller then positions it as any stream.
bool reposition_read(std::FILE* stream, std::int64_t offset, std::size_t wanted);

// Whether the last operation on `stream` was a read (or it can only be
// read), and whether it was a write (or it can only be written).  C asks
// for a positioning call between a read and a following write on the same
// stream, and the other way round; where this cannot be known, false.
bool stream_is_reading(std::FILE* stream);
bool stream_is_writing(std::FILE* stream);
