// Helpers for tests that call the watcher's functions inside the test process:
// a working directory of their own and the console streams caught in files.
#pragma once

#include <string>

#include "process.h"

// Makes `dir` the working directory; the old one comes back on destruction.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::string& dir);
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    ~WorkingDirectory();
    bool ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

// Sends standard output and standard error to files while it lives.
class StreamCapture {
  public:
    StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;
    ~StreamCapture();
    bool ok() const { return ok_; }

    // Everything written so far; may be called while capturing.
    std::string out();
    std::string err();
    // Puts the streams back; out() and err() keep working.
    void stop();

  private:
    TempDir dir_;
    int saved_out_ = -1;
    int saved_err_ = -1;
    bool ok_ = false;
};
