#include "run_tool.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

// Quoted for the system's shell: cmd on Windows, sh elsewhere.
std::string shell_word(const fs::path& word) {
#ifdef _WIN32
    return "\"" + word.string() + "\"";
#else
    std::string out = "'";
    for (char c : word.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

}  // namespace

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

run_result run_tolvane(const fs::path& dir, const std::vector<std::string>& args,
                       const run_options& options) {
    // Captures live beside the run's folder, so they never show among its files.
    const fs::path out = dir.string() + ".stdout", err = dir.string() + ".stderr",
                   in = dir.string() + ".stdin";
#ifdef _WIN32
    std::string command = "cd /d " + shell_word(dir) + " && " + shell_word(TOLVANE_EXE) + " <NUL";
#else
    std::string command = "cd " + shell_word(dir) + " && ";
    if (options.stdin_data) write_file(in, *options.stdin_data);
    command += options.stdin_data ? "cat " + shell_word(in) + " | " + shell_word(TOLVANE_EXE)
                                  : shell_word(TOLVANE_EXE) + " </dev/null";
#endif
    for (const std::string& arg : args) command.append(" ").append(shell_word(arg));
    command +=
        " >" + shell_word(options.stdout_path.value_or(out.string())) + " 2>" + shell_word(err);
    int status = std::system(command.c_str());
#ifndef _WIN32
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run_result result{status, options.stdout_path ? "" : read_file(out), read_file(err)};
    for (const fs::path& capture : {out, err, in}) fs::remove(capture);
    return result;
}

scratch_dir::scratch_dir() {
    std::random_device random;
    do path_ = fs::temp_directory_path() / ("tolvane-test-" + std::to_string(random()));
    while (!fs::create_directory(path_));
}

std::vector<std::string> scratch_dir::files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
