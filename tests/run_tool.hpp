// Runs the built converter as a user would: in a folder of its own, through
// the system's shell, with standard output and standard error captured.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
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

inline void write_file(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
}

// A fresh folder below the system's temporary folder, removed with its files.
struct scratch_dir {
    fs::path path;
    scratch_dir() {
        std::random_device random;
        do path = fs::temp_directory_path() / ("tolvane-test-" + std::to_string(random()));
        while (!fs::create_directory(path));
    }
    ~scratch_dir() { fs::remove_all(path); }
    void write(const std::string& name, const bytes& b) const {
        write_file(path / name, {b.begin(), b.end()});
    }
    bytes read(const std::string& name) const {
        const std::string text = read_file(path / name);
        return {text.begin(), text.end()};
    }
};

struct run_result {
    int status = -1;
    std::string out, err;
};

struct run_options {
    std::optional<std::string> stdin_data;   // fed through a pipe (POSIX only)
    std::optional<std::string> stdout_path;  // where standard output goes instead
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

// Runs tolvane with `args` (the program name excluded) in `dir`; captures
// live beside the folder, so they never show among its files.
inline run_result run_tolvane(const fs::path& dir, const std::vector<std::string>& args,
                              const run_options& options = {}) {
    const std::string base = dir.string(), out = base + ".stdout", err = base + ".stderr",
                      in = base + ".stdin";
    std::string command = shell_word(TOLVANE_EXE);
    if (options.stdin_data) write_file(in, *options.stdin_data);
    for (const std::string& arg : args) command.append(" ").append(shell_word(arg));
    command.append(" >").append(shell_word(options.stdout_path.value_or(out)));
#ifdef _WIN32
    command = "cd /d " + shell_word(base) + " && " + command + " <NUL 2>" + shell_word(err);
    const int status = std::system(command.c_str());
#else
    command = "cd " + shell_word(base) + " && " +
              (options.stdin_data ? "cat " + shell_word(in) + " | " : "") + command +
              (options.stdin_data ? "" : " </dev/null") + " 2>" + shell_word(err);
    const int wait_status = std::system(command.c_str());
    const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
#endif
    run_result result{status, options.stdout_path ? "" : read_file(out), read_file(err)};
    for (const std::string& capture : {out, err, in}) fs::remove(capture);
    return result;
}

// The banner every run begins with on standard error.
inline const std::string k_banner = "build GENH from decompressed Kestrune dumps\n";
