#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void set_nonblocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0 && !reaped_) stop(SIGKILL, std::chrono::seconds(5));
    close_fd(in_fd_);
    close_fd(out_fd_);
    close_fd(err_fd_);
}

bool BackgroundProcess::start(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) return false;
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return false;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) return false;

    // Everything the child needs is prepared before fork.
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const auto& u : options.unset_env) drop = drop || u == name;
        for (const auto& add : options.env) drop = drop || add.substr(0, add.find('=')) == name;
        if (!drop) env_strings.push_back(entry);
    }
    for (const auto& add : options.env) env_strings.push_back(add);
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        // Own process group, so that a stop reaches helpers it starts.
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        environ = envp.data();
        execvp(argp[0], argp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    pid_ = pid;
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    set_nonblocking(out_fd_);
    set_nonblocking(err_fd_);
    result_ = ProcessResult{};
    result_.started = true;
    reaped_ = false;
    if (!options.stdin_text.empty()) write_stdin(options.stdin_text);
    if (options.close_stdin) close_stdin();
    return true;
}

bool BackgroundProcess::write_stdin(const std::string& text) {
    if (in_fd_ < 0) return false;
    // A child that never reads must not hang the test: our side stays
    // blocking, and test inputs are far below the pipe's capacity.
    signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(in_fd_, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void BackgroundProcess::close_stdin() {
    close_fd(in_fd_);
}

bool BackgroundProcess::pump(std::chrono::milliseconds timeout) {
    struct pollfd fds[2];
    int n = 0;
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (n == 0) return false;
    int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(timeout.count()));
    if (ready <= 0) return true;
    for (int i = 0; i < n; i++) {
        if (fds[i].revents == 0) continue;
        int& fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
        std::string& sink = fds[i].fd == out_fd_ ? result_.out : result_.err;
        char buf[65536];
        for (;;) {
            ssize_t got = read(fd, buf, sizeof buf);
            if (got > 0) {
                sink.append(buf, static_cast<size_t>(got));
                continue;
            }
            if (got == 0) close_fd(fd);
            break;
        }
    }
    return true;
}

bool BackgroundProcess::wait_for(const std::string& text, bool on_stderr,
                                 std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::string& s = on_stderr ? result_.err : result_.out;
        if (s.find(text) != std::string::npos) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (!pump(std::min(left, std::chrono::milliseconds(100)))) return false;
    }
}

bool BackgroundProcess::wait_for_stdout(const std::string& text,
                                        std::chrono::milliseconds timeout) {
    return wait_for(text, false, timeout);
}

bool BackgroundProcess::wait_for_stderr(const std::string& text,
                                        std::chrono::milliseconds timeout) {
    return wait_for(text, true, timeout);
}

void BackgroundProcess::reap(bool block) {
    if (pid_ <= 0 || reaped_) return;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != pid_) return;
    reaped_ = true;
    if (WIFEXITED(status)) {
        result_.exited = true;
        result_.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result_.signal = WTERMSIG(status);
    }
}

bool BackgroundProcess::running() {
    reap(false);
    return pid_ > 0 && !reaped_;
}

ProcessResult BackgroundProcess::wait(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (running() && Clock::now() < deadline) pump(std::chrono::milliseconds(20));
    if (running()) {
        result_.timed_out = true;
        return stop(SIGKILL, std::chrono::seconds(5));
    }
    // Collect what is left in the pipes; grandchildren holding them are bounded too.
    auto drain_deadline = Clock::now() + std::chrono::seconds(2);
    while ((out_fd_ >= 0 || err_fd_ >= 0) && Clock::now() < drain_deadline) {
        pump(std::chrono::milliseconds(50));
    }
    close_fd(out_fd_);
    close_fd(err_fd_);
    close_fd(in_fd_);
    return result_;
}

ProcessResult BackgroundProcess::stop(int sig, std::chrono::milliseconds timeout) {
    if (running()) {
        kill(pid_, sig);
        auto deadline = Clock::now() + timeout;
        while (running() && Clock::now() < deadline) pump(std::chrono::milliseconds(20));
        if (running()) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            reap(true);
        }
    }
    bool timed_out = result_.timed_out;
    ProcessResult r = wait(std::chrono::milliseconds(0));
    r.timed_out = timed_out;
    return r;
}

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options,
                          std::chrono::milliseconds timeout) {
    BackgroundProcess p;
    if (!p.start(argv, options)) return ProcessResult{};
    return p.wait(timeout);
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvale-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made != nullptr) path_ = made;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool running_as_root() {
    return geteuid() == 0;
}
