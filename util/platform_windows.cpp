// Windows.  Every file is opened by its UTF-16 name, in the \\?\ form where
// it is long; files are told apart by the volume and file ID that the
// system gives an open handle.
#include "platform.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <tlhelp32.h>

namespace {

// `text` in UTF-16, its bytes read in `code_page`.
std::wstring widen(std::string_view text, UINT code_page) {
    const auto size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(
                          ::MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0)),
                      L'\0');
    ::MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(),
                          static_cast<int>(wide.size()));
    return wide;
}

std::string utf8(std::wstring_view text) {
    const auto size = static_cast<int>(text.size());
    std::string narrow(static_cast<std::size_t>(::WideCharToMultiByte(
                           CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)),
                       '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(),
                          static_cast<int>(narrow.size()), nullptr, nullptr);
    return narrow;
}

// The name as the system is to be given it.  A path of MAX_PATH characters
// or more reaches the file only in the \\?\ form of its full path, which
// skips the system's own clean-up of names (the name rules ran before).
std::wstring system_name(const char* name, name_origin origin) {
    std::wstring wide = widen(name, origin == name_origin::argument ? CP_UTF8 : CP_ACP);
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed < MAX_PATH) return wide;  // (0: no full path, and the name stays as it is)
    std::wstring full(needed, L'\0');
    full.resize(::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr));
    if (full.rfind(LR"(\\?\)", 0) == 0 || full.rfind(LR"(\\.\)", 0) == 0) return full;
    if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);  // \\server\share
    return LR"(\\?\)" + full;
}

wchar_t upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool same_letters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// The snapshot's entry of process `id`.
bool find_process(HANDLE snapshot, DWORD id, PROCESSENTRY32W& entry) {
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more != 0;
         more = ::Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == id) return true;
    return false;
}

// When process `id` was created, in the system's 100 ns ticks; 0 where it
// cannot be asked.
std::uint64_t creation_time(DWORD id) {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool known = ::GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    ::CloseHandle(process);
    return known ? static_cast<std::uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime
                 : 0;
}

// Whether the process that started this one is explorer.exe.  The system
// keeps only the parent's identifier, which it may have given to a newer
// process once the parent ended: the one found counts only if it was
// created before this one.  Whatever cannot be asked makes the answer no.
bool parent_is_shell() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W self{}, parent{};
    const bool found = find_process(snapshot, ::GetCurrentProcessId(), self) &&
                       find_process(snapshot, self.th32ParentProcessID, parent);
    ::CloseHandle(snapshot);
    if (!found || !same_letters(parent.szExeFile, L"explorer.exe")) return false;
    const std::uint64_t parent_born = creation_time(parent.th32ProcessID);
    return parent_born != 0 && parent_born < creation_time(::GetCurrentProcessId());
}

// How this process was started.  Alone in its console: the console was made
// for it, and its window closes as it ends (from cmd or PowerShell it shares
// theirs, which stays).  Input from the console: GetConsoleMode succeeds on
// console handles only, and from a file or pipe nobody can answer.  Started
// by the shell: a console of its own with input from it is also what a
// script or program gives with CREATE_NEW_CONSOLE or CREATE_NO_WINDOW, and
// what Wine gives a program run from a terminal (with no parent at all);
// only explorer.exe means a user's double click.
console_facts facts_of_start() {
    std::array<DWORD, 2> processes{};
    DWORD mode = 0;
    return {::GetConsoleProcessList(processes.data(), 2) == 1,
            ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0, parent_is_shell()};
}

void wait_for_enter() {
    std::fflush(stdout);
    std::fputs("Press Enter to close this window.\n", stderr);
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {}
}

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, and COM and LPT followed by a digit
// 1-9 or a superscript 1, 2 or 3, name devices in every folder, in any
// letters, whatever follows a dot and with blanks before it: NUL.genh
// writes into the void.
bool is_device_name(std::wstring_view name) {
    std::wstring_view stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (same_letters(stem, device)) return true;
    if (stem.size() != 4 ||
        !(same_letters(stem.substr(0, 3), L"COM") || same_letters(stem.substr(0, 3), L"LPT")))
        return false;
    const wchar_t number = stem[3];
    return (number >= L'1' && number <= L'9') || number == L'\u00B9' || number == L'\u00B2' ||
           number == L'\u00B3';
}

// The system's handle of the file a stream has open, which the C library
// hands out as a number.
HANDLE handle_of(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(  // NOLINT(performance-no-int-to-ptr)
        ::_get_osfhandle(::_fileno(stream)));
}

// The 128-bit file ID where the volume keeps one (NTFS gives its 64-bit
// index in the lower half), else the serial number and 64-bit index.
bool identify_handle(HANDLE file, file_id& id) {
    FILE_ID_INFO info{};
    if (::GetFileInformationByHandleEx(file, FileIdInfo, &info, sizeof info) != 0) {
        std::array<std::uint64_t, 2> halves{};  // the ID's bytes, little-endian
        std::memcpy(halves.data(), info.FileId.Identifier, sizeof halves);
        id = {info.VolumeSerialNumber, halves[1], halves[0], true};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION old{};
    if (::GetFileInformationByHandle(file, &old) == 0) return false;
    id = {old.dwVolumeSerialNumber, 0,
          static_cast<std::uint64_t>(old.nFileIndexHigh) << 32 | old.nFileIndexLow, true};
    return true;
}

// The system's reasons as errno, for the report's text: the words the C
// library gives for these reasons when its own calls meet them.
int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:  // (a range another process locked)
    case ERROR_CURRENT_DIRECTORY: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES: return ENOMEM;
    case ERROR_CRC:  // the device or the network failed the transfer
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_SEM_TIMEOUT: return EIO;
    default: return EINVAL;
    }
}

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) arguments.push_back(utf8(words[i]));
    ::LocalFree(static_cast<HLOCAL>(words));
    return arguments;
}

std::FILE* open_input(const char* argument) {
    return ::_wfopen(system_name(argument, name_origin::argument).c_str(), L"rb");
}

bool can_read_at(std::FILE* stream) { return ::GetFileType(handle_of(stream)) == FILE_TYPE_DISK; }

// One ReadFile at the offset an OVERLAPPED gives, on the stream's handle,
// as pread reads.  (It moves the handle's position too, which nothing
// relies on: stdio only seeks these streams, to places it names in full.)
// At or past the end of the file it fails with ERROR_HANDLE_EOF: 0 bytes.
std::int64_t read_at(std::FILE* stream, std::int64_t offset, void* buffer, std::size_t size) {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const auto asked = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
    if (::ReadFile(handle_of(stream), buffer, asked, &got, &at) != 0) return got;
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    errno = errno_of(error);
    return -1;
}

// msvcrt's fopen knows no "x": the exclusive creation is _wopen's _O_EXCL.
std::FILE* create_new_file(const char* path) {
    const std::wstring name = system_name(path, name_origin::output);
    const int fd =
        ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd == -1) return nullptr;
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) {  // (no memory for a stream: the file made is ours to remove)
        const int saved = errno;
        ::_close(fd);
        ::_wremove(name.c_str());
        errno = saved;
    }
    return stream;
}

// MoveFileExW replaces a name in one step: the C library's rename refuses
// an existing one.
bool replace_file(const char* from, const char* to) {
    if (::MoveFileExW(system_name(from, name_origin::output).c_str(),
                      system_name(to, name_origin::output).c_str(), MOVEFILE_REPLACE_EXISTING) != 0)
        return true;
    errno = errno_of(::GetLastError());
    return false;
}

bool remove_file(const char* path) {
    return ::_wremove(system_name(path, name_origin::output).c_str()) == 0;
}

std::int64_t tell_64(std::FILE* stream) { return ::_ftelli64(stream); }

bool identify_stream(std::FILE* stream, file_id& id) {
    return identify_handle(handle_of(stream), id);
}

bool identify_file(const char* name, name_origin origin, file_id& id) {
    // No access is asked for: only the file's identity is read, whoever
    // else has it open.
    const HANDLE file = ::CreateFileW(system_name(name, origin).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = identify_handle(file, id);
    ::CloseHandle(file);
    return known;
}

// In text mode the C library would write CR LF for every LF: the progress
// lines and reports are the same bytes as on every other system instead.
// Its standard error is buffered when it is not a console, which would put
// the banner and reports after lines printed later: unbuffered, as C asks
// of it and as other systems have it.
void prepare_standard_streams(char* buffer, std::size_t size) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    if (::_isatty(::_fileno(stdout)) == 0) std::setvbuf(stdout, buffer, _IOFBF, size);
    if (asks_before_closing(facts_of_start())) std::atexit(wait_for_enter);
}

bool name_leaves_folder(std::string_view name) {
    const std::wstring wide = widen(name, CP_ACP);
    const bool drive =
        wide.size() >= 2 && wide[1] == L':' &&
        ((wide[0] >= L'A' && wide[0] <= L'Z') || (wide[0] >= L'a' && wide[0] <= L'z'));
    return drive || wide.find_first_of(L"/\\") != std::wstring::npos;
}

// Besides devices: ':' opens an alternate data stream (a:b.genh writes into
// a), and the system refuses the characters below (and control characters,
// which no system is given).  Windows drops dots and blanks only from the end
// of the whole name, which is ".genh".
bool name_is_usable_here(std::string_view name) {
    const std::wstring wide = widen(name, CP_ACP);
    for (const wchar_t c : wide)
        if (std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos) return false;
    return !is_device_name(wide);
}
