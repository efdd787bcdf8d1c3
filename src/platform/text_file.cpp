#include "text_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr char CTRL_Z = 0x1A;
// Longest text one text_printf call writes; the program's lines are far shorter.
constexpr int FORMAT_BUFFER_SIZE = 1024;

bool is_directory(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

bool write_all(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Next byte of the file with CR bytes dropped, or -1 at the end of the file
// (a Ctrl-Z byte included, and every byte after it) or on a read error.
int next_char(text_file* f) {
    for (;;) {
        if (f->at_end) return -1;
        if (f->read_pos == f->read_len) {
            ssize_t n = read(f->fd, f->read_buf, sizeof f->read_buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                f->at_end = true;
                return -1;
            }
            f->read_pos = 0;
            f->read_len = static_cast<int>(n);
        }
        char c = f->read_buf[f->read_pos++];
        if (c == '\r') continue;
        if (c == CTRL_Z) {
            f->at_end = true;
            return -1;
        }
        return static_cast<unsigned char>(c);
    }
}

// Readies a file for appending: Ctrl-Z bytes at its very end (an old editor's
// end-of-file mark) are cut, since a reader would stop at them and never see
// the appended lines; then tells whether the last line lacks its line end.
bool prepare_append(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    off_t size = st.st_size;
    char last = 0;
    while (size > 0 && pread(fd, &last, 1, size - 1) == 1 && last == CTRL_Z) size--;
    if (size < st.st_size && ftruncate(fd, size) != 0) return false;
    if (size == 0) return false;
    if (pread(fd, &last, 1, size - 1) != 1) return false;
    return last != '\n';
}

}  // namespace

bool text_open(text_file* f, const char* name, const char* mode) {
    f->fd = -1;
    f->appending = mode[0] == 'a';
    f->last_line_checked = false;
    f->at_end = false;
    f->read_pos = 0;
    f->read_len = 0;
    int fd;
    if (f->appending) {
        // Read access only serves the look at the last byte; a file we may
        // only write to is still appended to.
        fd = open(name, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EACCES) {
            fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
            f->last_line_checked = true;
        }
    } else {
        fd = open(name, O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return false;
    if (is_directory(fd)) {
        close(fd);
        return false;
    }
    f->fd = fd;
    return true;
}

char* text_gets(char* buf, int size, text_file* f) {
    if (size <= 0) return nullptr;
    int len = 0;
    while (len < size - 1) {
        int c = next_char(f);
        if (c < 0) break;
        buf[len++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buf[len] = '\0';
    return len > 0 ? buf : nullptr;
}

void text_skip_line(text_file* f) {
    for (int c = next_char(f); c >= 0 && c != '\n'; c = next_char(f)) {
    }
}

bool text_printf(text_file* f, const char* format, ...) {
    char text[FORMAT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (len < 0 || len >= FORMAT_BUFFER_SIZE) return false;

    // Room for a CR before every LF, and for ending the previous last line.
    char out[2 * FORMAT_BUFFER_SIZE + 2];
    int out_len = 0;
    if (f->appending && !f->last_line_checked) {
        f->last_line_checked = true;
        if (prepare_append(f->fd)) {
            out[out_len++] = '\r';
            out[out_len++] = '\n';
        }
    }
    for (int i = 0; i < len; i++) {
        if (text[i] == '\n') out[out_len++] = '\r';
        out[out_len++] = text[i];
    }
    return write_all(f->fd, out, static_cast<size_t>(out_len));
}

int text_close(text_file* f) {
    int fd = f->fd;
    f->fd = -1;
    return close(fd) == 0 ? 0 : -1;
}

void strip_line_end(char* text) {
    size_t len = strlen(text);
    if (len > 0 && text[len - 1] == '\n') text[len - 1] = '\0';
}
