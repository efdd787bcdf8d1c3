#include "console.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char stdout_buffer[BUFSIZ];

// A directory passes the execute test too, but the shell cannot run it.
bool is_program(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}

bool on_path(const char* program) {
    const char* path = getenv("PATH");
    if (path == nullptr) return false;
    char candidate[PATH_MAX];
    // Every entry counts, an empty last one (a trailing colon) included.
    for (;;) {
        const char* end = strchr(path, ':');
        size_t dir_len = end ? static_cast<size_t>(end - path) : strlen(path);
        // An empty PATH entry means the working directory.
        int n = dir_len == 0 ? snprintf(candidate, sizeof candidate, "./%s", program)
                             : snprintf(candidate, sizeof candidate, "%.*s/%s",
                                        static_cast<int>(dir_len), path, program);
        if (n > 0 && n < static_cast<int>(sizeof candidate) && is_program(candidate)) return true;
        if (end == nullptr) break;
        path = end + 1;
    }
    return false;
}

const char* choose_editor() {
    const char* editor = getenv("VISUAL");
    if (editor != nullptr && *editor != '\0') return editor;
    editor = getenv("EDITOR");
    if (editor != nullptr && *editor != '\0') return editor;
    if (on_path("notepad.exe")) return "notepad.exe";
    return "vi";
}

}  // namespace

void setup_console_streams() {
    setvbuf(stderr, nullptr, _IONBF, 0);
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
}

bool editor_command(const char* file, char* out, int size) {
    int n = snprintf(out, static_cast<size_t>(size), "%s %s", choose_editor(), file);
    return n > 0 && n < size;
}

void run_editor(const char* file) {
    char command[4096];
    if (!editor_command(file, command, sizeof command)) return;
    int ignored = system(command);
    (void)ignored;
}
