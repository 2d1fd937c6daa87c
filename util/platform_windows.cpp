// Windows.  Inputs are ordinary stdio streams; files are told apart by the
// volume and file index that the system gives an open handle.
#include "platform.hpp"

#include "util.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

std::FILE* open_cached_input(const char* path, input_cache& cache) {
    return open_buffered_input(path, cache.block.data(), cache.block.size());
}

std::int64_t tell_64(std::FILE* stream) { return ::_ftelli64(stream); }

bool identify_file(const char* path, file_id& id) {
    // No access is asked for: only the file's identity is read, whoever
    // else has it open.
    const HANDLE file =
        ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known) return false;
    id = {info.dwVolumeSerialNumber,
          static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    return true;
}

// In text mode the C library would write CR LF for every LF: the progress
// lines and reports are the same bytes as on every other system instead.
void prepare_standard_streams(char* buffer, std::size_t size) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    if (::_isatty(::_fileno(stdout)) == 0) std::setvbuf(stdout, buffer, _IOFBF, size);
}

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices in every folder,
// whatever follows a dot: NUL.genh writes into the void.
bool is_device_name(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL"})
        if (same_letters(stem, device)) return true;
    return stem.size() == 4 &&
           (same_letters(stem.substr(0, 3), "COM") || same_letters(stem.substr(0, 3), "LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

// Besides devices: ':' opens an alternate data stream (a:b.genh writes into
// a), the characters below are refused by the system, and a trailing dot or
// blank is dropped from names, so the file would not have the sound's name.
bool name_is_usable_here(std::string_view name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            return false;
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return false;
    return !is_device_name(name);
}
