#include "run_tool.hpp"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[noreturn]] void child(const fs::path& dir, const std::vector<std::string>& args,
                        const run_options& options, int stdin_fd, const fs::path& out,
                        const fs::path& err) {
    const std::string out_path = options.stdout_path.value_or(out.string());
    const int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (stdin_fd < 0) stdin_fd = ::open("/dev/null", O_RDONLY);
    if (out_fd < 0 || err_fd < 0 || stdin_fd < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
    ::dup2(stdin_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TOLVANE_EXE));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TOLVANE_EXE, argv.data());
    ::_exit(127);
}

}  // namespace

run_result run_tolvane(const fs::path& dir, const std::vector<std::string>& args,
                       const run_options& options) {
    // Captures live beside the run's folder, so they never show among its files.
    const fs::path out = dir.string() + ".stdout";
    const fs::path err = dir.string() + ".stderr";
    int pipe_fds[2] = {-1, -1};
    if (options.stdin_data && ::pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        if (pipe_fds[1] >= 0) ::close(pipe_fds[1]);
        child(dir, args, options, pipe_fds[0], out, err);
    }
    if (options.stdin_data) {
        ::close(pipe_fds[0]);
        const std::string& data = *options.stdin_data;
        // The converter may end before it reads it all; a broken pipe is fine.
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(pipe_fds[1], data.data() + done, data.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(pipe_fds[1]);
    }
    int wait_status = 0;
    ::waitpid(pid, &wait_status, 0);
    run_result result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                           : 128 + WTERMSIG(wait_status);
    result.out = options.stdout_path ? std::string() : slurp(out);
    result.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return result;
}

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "tolvane-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void scratch_dir::write(const std::string& name, const bytes& content) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

bytes scratch_dir::read(const std::string& name) const {
    const std::string text = slurp(path_ / name);
    return {text.begin(), text.end()};
}

std::vector<std::string> scratch_dir::files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
