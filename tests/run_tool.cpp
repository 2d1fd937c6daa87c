#include "run_tool.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
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
    const std::string out = dir.string() + ".stdout", err = dir.string() + ".stderr",
                      in = dir.string() + ".stdin";
    std::string command = "cd " + quoted(dir.string()) + " && ";
    if (options.stdin_data) {
        write_file(in, *options.stdin_data);
        command += "cat " + quoted(in) + " | ";
    }
    command += quoted(TOLVANE_EXE);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += options.stdin_data ? "" : " </dev/null";
    command += " >" + quoted(options.stdout_path.value_or(out)) + " 2>" + quoted(err);
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) throw std::runtime_error("cannot run " + command);
    run_result result{WEXITSTATUS(status), options.stdout_path ? "" : read_file(out),
                      read_file(err)};
    for (const std::string& capture : {out, err, in}) fs::remove(capture);
    return result;
}

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "tolvane-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

std::vector<std::string> scratch_dir::files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
