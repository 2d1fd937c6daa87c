// Runs the built converter as a user would: in a folder of its own, started
// by the system's shell (POSIX) or as a process of its own (Windows), with
// standard output and standard error captured.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
constexpr bool k_windows = true;
#else
#include <sys/wait.h>
constexpr bool k_windows = false;
#endif

using bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// A path from its UTF-8 form, on every system.
inline fs::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

template <typename Text = std::string>
Text read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Text(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder below the system's temporary folder, removed with its files.
// Its name is in a script the ANSI code page may lack (Japanese), so that
// every run shows that names reach the system intact.
struct scratch_dir {
    fs::path path =
        fs::temp_directory_path() / as_path("tolvane-\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0-" +
                                            std::to_string(std::random_device()()));
    scratch_dir() { fs::create_directory(path); }
    // (Windows cannot remove a file still open: what is left stays.)
    ~scratch_dir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    bytes read(const std::string& name) const { return read_file<bytes>(path / name); }
};

// Standard output and standard error go into one log, as with `>log 2>&1`,
// so that every check of it also checks the order of its lines.
struct run_result {
    int status;
    std::string log;
};

// Runs tolvane with `args` (UTF-8) in `dir`, its log captured beside the
// folder, never among its files.  On POSIX its standard input is `piped`
// through a pipe, and a `file_limit` other than 0 bounds the size of the
// files it writes, which fails its writes as a full disk does (EFBIG rather
// than ENOSPC; the signal that comes with it must not end the run); on
// Windows it reads nothing, and writes without a bound.
inline run_result run_tolvane(const fs::path& dir, const std::vector<std::string>& args,
                              [[maybe_unused]] const std::string& piped = "",
                              [[maybe_unused]] std::size_t file_limit = 0) {
    const fs::path log = fs::path(dir) += ".log";
#ifdef _WIN32
    // Started directly rather than through cmd, which cannot enter a folder
    // of 260 characters or more, nor pass on every script under Wine.
    std::wstring line = L"\"" + fs::path(TOLVANE_EXE).wstring() + L"\"";
    for (const std::string& arg : args) line += L" \"" + as_path(arg).wstring() + L"\"";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    start.hStdOutput = start.hStdError = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                     &inherit, CREATE_ALWAYS, 0, nullptr);
    PROCESS_INFORMATION process{};
    DWORD status = 255;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                       &start, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
    }
    for (HANDLE h : {start.hStdInput, start.hStdOutput, process.hProcess, process.hThread})
        CloseHandle(h);
#else
    const auto quoted = [](const fs::path& word) { return '"' + word.string() + '"'; };
    std::string command = "cd " + quoted(dir) + " && printf " + quoted(piped) + " | ";
    if (file_limit != 0) command += "prlimit --fsize=" + std::to_string(file_limit) + " ";
    command += quoted(TOLVANE_EXE);
    for (const std::string& arg : args) command += " " + quoted(arg);
    const int wait = std::system((command + " >" + quoted(log) + " 2>&1").c_str());
    const int status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
#endif
    run_result result{static_cast<int>(status), read_file(log)};
    fs::remove(log);
    return result;
}

// The banner every run begins with on standard error.
inline const std::string k_banner = "build GENH from decompressed Kestrune dumps\n";
