#include "watcher_state.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "quorvale_mon.h"

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

void reset_watcher_state() {
    memset(station_table, 0, sizeof station_table);
    station_count = 0;
    memset(current_mac, 0, sizeof current_mac);
    memset(current_ip, 0, sizeof current_ip);
    memset(settings_lines, 0, sizeof settings_lines);
}

void set_settings(const std::string& server, const std::string& recipients,
                  const std::string& sender, const std::string& subject) {
    const std::string* values[SETTINGS_LINE_COUNT] = {&server, &recipients, &sender, &subject};
    for (int i = 0; i < SETTINGS_LINE_COUNT; i++) {
        snprintf(settings_lines[i], SETTINGS_LINE_SIZE, "%s", values[i]->c_str());
    }
}

void set_frame(const std::string& mac, const std::string& ip) {
    snprintf(current_mac, sizeof current_mac, "%s", mac.c_str());
    snprintf(current_ip, sizeof current_ip, "%s", ip.c_str());
}
