// Runs the built converter as a user would: in a folder of its own, through
// the system's shell, with standard output and standard error captured.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#endif

using bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A fresh folder below the system's temporary folder, removed with its files.
struct scratch_dir {
    fs::path path =
        fs::temp_directory_path() / ("tolvane-" + std::to_string(std::random_device()()));
    scratch_dir() { fs::create_directory(path); }
    ~scratch_dir() {
        std::error_code ignored;  // (Windows cannot remove a file still open)
        fs::remove_all(path, ignored);
    }
    bytes read(const std::string& name) const {
        const std::string text = read_file(path / name);
        return {text.begin(), text.end()};
    }
};

struct run_result {
    int status;
    std::string out, err;
};

// Runs tolvane with `args` in `dir`, its standard input empty or `piped`
// (through a pipe: POSIX only), its standard output captured or sent to
// `stdout_path`.  Captures live beside the folder, never among its files.
// Double quotes suit both shells, cmd and sh, for the plain words used here.
inline run_result run_tolvane(const fs::path& dir, const std::vector<std::string>& args,
                              [[maybe_unused]] const std::string& piped = "",
                              const std::string& stdout_path = "") {
    const auto quoted = [](const std::string& word) { return '"' + word + '"'; };
    const std::string out = dir.string() + ".out", err = dir.string() + ".err";
    std::string command = quoted(TOLVANE_EXE);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " >" + quoted(stdout_path.empty() ? out : stdout_path) + " 2>" + quoted(err);
#ifdef _WIN32
    const int status =
        std::system(("cd /d " + quoted(dir.string()) + " && " + command + " <NUL").c_str());
#else
    const std::string in = piped.empty() ? "</dev/null " : "printf " + quoted(piped) + " | ";
    const int wait = std::system(("cd " + quoted(dir.string()) + " && " + in + command).c_str());
    const int status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
#endif
    run_result result{status, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
}

// The banner every run begins with on standard error.
inline const std::string k_banner = "build GENH from decompressed Kestrune dumps\n";
