// Console and command-interpreter stand-ins.
#pragma once

// Standard error unbuffered; standard output line-buffered even when it is
// redirected, so that a finished line is never lost when the watcher is
// stopped from outside or crashes.
void setup_console_streams();

// Opens `file` (relative to the working directory) in the operator's text
// editor and waits for it to end: $VISUAL, else $EDITOR, else notepad.exe when
// it is on PATH (Windows' editor under WSL), else vi. The command goes through
// /bin/sh like any system() command. Its outcome is not reported.
void run_editor(const char* file);

// The editor command run_editor would use, written into out; false when it does
// not fit in `size` bytes.
bool editor_command(const char* file, char* out, int size);
