// Windows text-mode files on Linux, so that the watcher's files stay
// byte-compatible with the same files written and read on Windows:
// - writing turns each LF into CR LF;
// - reading drops every CR byte wherever it stands, and a Ctrl-Z byte (0x1A)
//   ends the file;
// - mode "r" needs an existing file; mode "a" creates a missing file, never
//   truncates and writes at the end.
// Two more rules for "a", so that every appended line is read back: before the
// first write, Ctrl-Z bytes at the very end of the file are cut, and a last
// line that lacks its line end is ended with CR LF.
//
// A text_file lives wherever its caller puts it; nothing is allocated.
#pragma once

#include <cstddef>

struct text_file {
    int fd;
    bool appending;
    bool last_line_checked;
    bool at_end;
    int read_pos;
    int read_len;
    char read_buf[512];
};

// mode is "r" or "a". Returns false, with nothing left open, when the file
// cannot be opened (a directory cannot).
bool text_open(text_file* f, const char* name, const char* mode);

// fgets-style: reads characters into buf up to and including the first LF, but
// never more than size - 1, and ends the text with a NUL. Returns nullptr when
// nothing could be read (end of file, Ctrl-Z, or a read error).
char* text_gets(char* buf, int size, text_file* f);

// Reads and drops the rest of the current line, its LF included.
void text_skip_line(text_file* f);

// Formats like printf and appends the result, LF as CR LF, in one write so
// that concurrent appenders never interleave within a line. Returns false when
// the text did not fit in the format buffer or the write failed.
bool text_printf(text_file* f, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Returns 0 when the close succeeded, -1 otherwise.
int text_close(text_file* f);

// Removes the LF that ends a text read by text_gets, where there is one.
void strip_line_end(char* text);
