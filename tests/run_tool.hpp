// Runs the built converter as a user would: in a folder of its own, with
// standard output and standard error captured.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

struct run_options {
    std::optional<std::string> stdin_data;   // fed through a pipe (POSIX only)
    std::optional<std::string> stdout_path;  // where standard output goes instead
};

// Runs tolvane with `args` (the program name excluded) in `dir`.
run_result run_tolvane(const std::filesystem::path& dir, const std::vector<std::string>& args,
                       const run_options& options = {});

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& content);

// A fresh folder below the system's temporary folder, removed with its files.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir() { std::filesystem::remove_all(path_); }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    void write(const std::string& name, const bytes& content) const {
        write_file(path_ / name, {content.begin(), content.end()});
    }
    bytes read(const std::string& name) const {
        const std::string text = read_file(path_ / name);
        return {text.begin(), text.end()};
    }
    // The regular files in the folder, sorted by name.
    std::vector<std::string> files() const;

private:
    std::filesystem::path path_;
};

// The banner every run begins with on standard error.
inline const std::string k_banner = "build GENH from decompressed Kestrune dumps\n";
