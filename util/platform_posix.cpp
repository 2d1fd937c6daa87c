// POSIX: Linux, and the other Unix systems (macOS, the BSDs).
#include "platform.hpp"

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// Dumps past 2 GiB are read at 64-bit offsets on 32-bit systems too.
static_assert(sizeof(off_t) >= 8, "build with 64-bit file offsets (_FILE_OFFSET_BITS=64)");

namespace {

file_id id_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), 0, static_cast<std::uint64_t>(st.st_ino), true};
}

}  // namespace

// Names are bytes to the system, whatever their encoding.
std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* open_input(const char* argument) { return std::fopen(argument, "rb"); }

// Asked the way the reads will be made: a pipe refuses a positioned read.
bool can_read_at(std::FILE* stream) {
    char none = 0;
    return ::pread(::fileno(stream), &none, 0, 0) >= 0;
}

std::int64_t read_at(std::FILE* stream, std::int64_t offset, void* buffer, std::size_t size) {
    ssize_t got = 0;
    do {
        got = ::pread(::fileno(stream), buffer, size, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);  // a signal came before any byte: ask again
    return got;
}

// "x": the file is made by this call, or the call fails (C11, POSIX).
std::FILE* create_new_file(const char* path) { return std::fopen(path, "wbx"); }

// rename replaces the directory entry itself, whatever it is.
bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool remove_file(const char* path) { return std::remove(path) == 0; }

std::int64_t tell_64(std::FILE* stream) { return ::ftello(stream); }

bool identify_stream(std::FILE* stream, file_id& id) {
    struct stat st {};
    if (::fstat(::fileno(stream), &st) != 0) return false;
    id = id_of(st);
    return true;
}

bool identify_file(const char* name, name_origin, file_id& id) {
    struct stat st {};
    if (::stat(name, &st) != 0) return false;
    id = id_of(st);
    return true;
}

// SIGPIPE would end the run without a word (status 141) when the reader of
// the progress lines stops early, and SIGXFSZ (status 153) when a file grows
// past the user's file size limit, each with the file being written left
// behind; ignored, the write fails and the run ends with its report, removing
// that file, as it does on Windows.
void prepare_standard_streams(char* buffer, std::size_t size) {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    if (::isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, buffer, _IOFBF, size);
}

bool name_leaves_folder(std::string_view name) {
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    return drive || name.find_first_of("/\\") != std::string_view::npos;
}

// Any name that stays in the folder is a file name here.
bool name_is_usable_here(std::string_view) { return true; }
