// Set-up shared by the fuzz targets: a private working directory for the files
// the watcher reads and writes, the console lines of learning and alerting
// sent to /dev/null, and checks that end the run as a finding.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A failed check is a finding: libFuzzer saves the input that caused it.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            abort();                                                                       \
        }                                                                                  \
    } while (0)

// Makes a fresh directory under $TMPDIR (or /tmp) the working directory. The
// paths libFuzzer was given (corpus folders, inputs, where findings go) are
// made absolute first, so that they still name the same places afterwards;
// findings go to the folder the run started in unless -artifact_prefix says
// otherwise. The script that runs the fuzzers removes $TMPDIR afterwards.
inline void enter_private_directory(int* argc, char*** argv) {
    static std::vector<std::string> args;
    static std::vector<char*> pointers;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) abort();
    auto absolute = [&](const std::string& path) {
        return path.empty() || path[0] == '/' ? path : std::string(cwd) + "/" + path;
    };
    const char* const path_flags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict="};
    bool artifact_prefix = false;
    for (int i = 0; i < *argc; i++) {
        std::string arg = (*argv)[i];
        if (i > 0 && arg[0] != '-') arg = absolute(arg);
        for (const char* flag : path_flags) {
            const size_t len = strlen(flag);
            if (arg.compare(0, len, flag) == 0) arg = flag + absolute(arg.substr(len));
        }
        artifact_prefix = artifact_prefix || arg.compare(0, 17, "-artifact_prefix=") == 0;
        args.push_back(arg);
    }
    if (!artifact_prefix) args.push_back(std::string("-artifact_prefix=") + cwd + "/");
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(args.size());
    *argv = pointers.data();

    const char* base = getenv("TMPDIR");
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/quorvale_fuzz.XXXXXX", base != nullptr ? base : "/tmp");
    if (mkdtemp(path) == nullptr || chdir(path) != 0) {
        perror("fuzz: private working directory");
        abort();
    }
}

// Standard output only: libFuzzer and the sanitizers report on standard error.
inline void discard_standard_output() {
    fflush(stdout);
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0 || dup2(null_fd, 1) < 0) abort();
    close(null_fd);
}

inline void remove_path(const char* name) {
    if (unlink(name) != 0 && (errno == EISDIR || errno == EPERM)) rmdir(name);
}

inline void write_whole_file(const char* name, const uint8_t* data, size_t size) {
    remove_path(name);
    FILE* f = fopen(name, "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(fclose(f) == 0);
}
