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
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
    void write(const std::string& name, const bytes& b) const {
        std::ofstream(path / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
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

// Quoted for the system's shell: cmd on Windows, sh elsewhere.
inline std::string shell_word(const std::string& word) {
#ifdef _WIN32
    return "\"" + word + "\"";
#else
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

// Runs tolvane with `args` in `dir`, its standard input empty or `piped`
// (through a pipe: POSIX only), its standard output captured or sent to
// `stdout_path`.  Captures live beside the folder, never among its files.
inline run_result run_tolvane(const fs::path& dir, const std::vector<std::string>& args,
                              [[maybe_unused]] const std::string& piped = "",
                              const std::string& stdout_path = "") {
    const std::string out = dir.string() + ".out", err = dir.string() + ".err";
    std::string command = shell_word(TOLVANE_EXE);
    for (const std::string& arg : args) command.append(" ").append(shell_word(arg));
    command += " >" + shell_word(stdout_path.empty() ? out : stdout_path) + " 2>" + shell_word(err);
#ifdef _WIN32
    const int status =
        std::system(("cd /d " + shell_word(dir.string()) + " && " + command + " <NUL").c_str());
#else
    const std::string in = piped.empty() ? "</dev/null " : "printf " + shell_word(piped) + " | ";
    const int wait =
        std::system(("cd " + shell_word(dir.string()) + " && " + in + command).c_str());
    const int status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
#endif
    run_result result{status, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
}

// The banner every run begins with on standard error.
inline const std::string k_banner = "build GENH from decompressed Kestrune dumps\n";
