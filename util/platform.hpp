// What the operating system does differently, in one place.  Each function
// here has a POSIX implementation (platform_posix.cpp) and a Windows one
// (platform_windows.cpp).  They fetch bytes, name files and tell files apart;
// what to read and when is decided above them, the same on every system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The words of the command line, in the form the calls below take names
// given as arguments: on Windows read from the wide command line and kept in
// UTF-8, so that a folder named in any script reaches the system intact (the
// C library's argv has them in the ANSI code page, which may lack their
// characters); elsewhere argv as it is.
std::vector<std::string> program_arguments(int argc, char** argv);

// Opens the file a program argument names for binary reading, as
// fopen(name, "rb") does: nullptr with errno set on failure.
std::FILE* open_input(const char* argument);

// Whether the file behind `stream` can be read at any offset (a file on
// disk; not a pipe or a terminal).
bool can_read_at(std::FILE* stream);

// One read of up to `size` bytes of the file behind `stream`, from `offset`,
// that neither uses nor disturbs the stream's own buffer.  Returns how many
// bytes it read (0 only at the end of the file; fewer than `size` near it, or
// when the system gives less at once), or -1 with errno set as a failed fread
// would leave it.
std::int64_t read_at(std::FILE* stream, std::int64_t offset, void* buffer, std::size_t size);

// Names of files written in the current directory (a sound's file, or the
// temporary name it is written under) are taken on Windows in the ANSI code
// page, as Windows programs take bytes.

// Creates the file `path` for binary writing, as fopen(path, "wb") does, but
// only where no file of that name exists (nor a link, folder or FIFO):
// nullptr with errno EEXIST then, and errno set on any other failure.
std::FILE* create_new_file(const char* path);

// Gives the closed file `from` the name `to` in one step, replacing whatever
// `to` names: a file, or a link or FIFO, which is replaced rather than written
// through.  False, with errno set, where the system refuses.
bool replace_file(const char* from, const char* to);

// Removes the file `path`; false where the system refuses.
bool remove_file(const char* path);

// ftell, but 64 bits wide everywhere (Windows' long is 32 bits): -1 on
// failure, with errno set.
std::int64_t tell_64(std::FILE* stream);

// What identifies a file whatever name or link reaches it: the device and
// inode on POSIX; on Windows the volume serial number and the 128-bit file ID
// (the 64-bit file index is not unique on ReFS, a Dev Drive among them), or
// the index where the volume gives no such ID.
struct file_id {
    std::uint64_t volume = 0;
    std::uint64_t high = 0;  // the upper half of a 128-bit ID; 0 elsewhere
    std::uint64_t low = 0;
    bool known = false;  // false: the system could not be asked
};

// Whether two identities are one file's.  One not known matches nothing.
constexpr bool same_file(const file_id& a, const file_id& b) {
    return a.known && b.known && a.volume == b.volume && a.high == b.high && a.low == b.low;
}

// The identity of the file `stream` has open; false when it cannot be asked.
bool identify_stream(std::FILE* stream, file_id& id);

// Where a name comes from, which on Windows says how its bytes are read:
// program arguments in UTF-8 (see program_arguments), output paths in the
// ANSI code page (see create_new_file).
enum class name_origin { argument, output };

// The identity of the file `name` names (following links); false when
// there is no such file or it cannot be asked.
bool identify_file(const char* name, name_origin origin, file_id& id);

// Standard output and error write their bytes as they are (no CR added
// before LF), and standard output is fully buffered through `buffer` unless
// it is a terminal, which sees each progress line at once.  A standard
// output closed early (a reader that stopped), or a file past the size
// limit, makes writes fail, on POSIX as on Windows, rather than ending the
// process.  On Windows, a program started
// with a double click asks for Enter before it ends (see asks_before_closing),
// so that its last words can be read before its window closes.
void prepare_standard_streams(char* buffer, std::size_t size);

// What a Windows program can learn of how it was started, on every console
// host: the classic console window and a pseudo console (Windows Terminal)
// alike.  Nothing about the window is asked: under a pseudo console the
// system gives a stand-in for it.
struct console_facts {
    bool alone_in_console;  // no other process is attached to the console
    bool input_is_console;  // standard input is that console, not a file or pipe
    bool parent_is_shell;   // started by explorer.exe, the desktop shell
};

// Whether to ask for Enter before ending: only where the window closes as
// the program ends (nobody else is attached to its console), someone can
// answer (input from the console) and that someone is a user who started it
// from the desktop (the rule command-line tools on Windows commonly use).
// Started from cmd or PowerShell, by a script or another program, with a
// hidden console or under Wine from a terminal, it never waits: a prompt
// nobody answers would hang the run for ever.
constexpr bool asks_before_closing(const console_facts& facts) {
    return facts.alone_in_console && facts.input_is_console && facts.parent_is_shell;
}

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
