// Child processes for the tests: run to the end, or start in the background
// and watch their output. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;
    bool exited = false;  // ended through exit (not a signal)
    int exit_status = -1;
    int signal = 0;
    bool timed_out = false;  // killed by us after the time limit
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string cwd;                     // empty: the test's working directory
    std::string stdin_text;              // written to the child's standard input, then closed
    bool close_stdin = true;             // false: keep standard input open (see write_stdin)
    std::vector<std::string> env;        // "NAME=value" entries added to the environment
    std::vector<std::string> unset_env;  // names removed from the environment
};

// Runs argv[0] (searched along PATH when it has no slash) to its end and
// collects both output streams. Kills it with SIGKILL after `timeout`.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A child that keeps running while the test works. The destructor kills it.
class BackgroundProcess {
  public:
    BackgroundProcess() = default;
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess();

    bool start(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    pid_t pid() const { return pid_; }
    bool running();

    // Writes to the child's standard input (only when close_stdin was false).
    bool write_stdin(const std::string& text);
    void close_stdin();

    // Reads output until `text` appears on the named stream (true), the child
    // ends or the time runs out (false). Output read so far stays available.
    bool wait_for_stdout(const std::string& text, std::chrono::milliseconds timeout);
    bool wait_for_stderr(const std::string& text, std::chrono::milliseconds timeout);
    const std::string& out() const { return result_.out; }
    const std::string& err() const { return result_.err; }

    // Sends `sig` (when still running), then waits up to `timeout` for the end;
    // kills with SIGKILL after that. Returns everything collected.
    ProcessResult stop(int sig, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits up to `timeout` for the child to end by itself, then as stop(SIGKILL).
    ProcessResult wait(std::chrono::milliseconds timeout);

  private:
    bool pump(std::chrono::milliseconds timeout);  // one poll round; false when nothing left
    bool wait_for(const std::string& text, bool on_stderr, std::chrono::milliseconds timeout);
    void reap(bool block);

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool reaped_ = false;
    ProcessResult result_;
};

// A fresh empty temporary directory, removed with its contents by the destructor.
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
bool running_as_root();
