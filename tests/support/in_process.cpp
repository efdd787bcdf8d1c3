#include "in_process.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>

WorkingDirectory::WorkingDirectory(const std::string& dir) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return;
    old_ = cwd;
    ok_ = chdir(dir.c_str()) == 0;
}

WorkingDirectory::~WorkingDirectory() {
    if (ok_ && chdir(old_.c_str()) != 0) perror("chdir back");
}

StreamCapture::StreamCapture() {
    fflush(stdout);
    fflush(stderr);
    int out = open(dir_.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err = open(dir_.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0 || err < 0) {
        if (out >= 0) close(out);
        if (err >= 0) close(err);
        return;
    }
    saved_out_ = dup(1);
    saved_err_ = dup(2);
    ok_ = saved_out_ >= 0 && saved_err_ >= 0 && dup2(out, 1) >= 0 && dup2(err, 2) >= 0;
    close(out);
    close(err);
}

StreamCapture::~StreamCapture() {
    stop();
}

std::string StreamCapture::out() {
    fflush(stdout);
    return read_file(dir_.file("out"));
}

std::string StreamCapture::err() {
    fflush(stderr);
    return read_file(dir_.file("err"));
}

void StreamCapture::stop() {
    fflush(stdout);
    fflush(stderr);
    if (saved_out_ >= 0) {
        dup2(saved_out_, 1);
        close(saved_out_);
        saved_out_ = -1;
    }
    if (saved_err_ >= 0) {
        dup2(saved_err_, 2);
        close(saved_err_);
        saved_err_ = -1;
    }
}
