// The settings file: four texts taken by line position, read once at start.
#include <cstring>

#include "platform/text_file.h"
#include "quorvale_mon.h"

int load_settings() {
    text_file file;
    if (!text_open(&file, SETTINGS_FILE, "r")) return -1;

    char line[LINE_BUFFER_SIZE];
    for (int slot = 0; slot < SETTINGS_LINE_COUNT; slot++) {
        // Stays as set unless the read fills the whole buffer, which tells a
        // full read apart even when the line holds a NUL byte.
        line[sizeof line - 1] = '\x01';
        if (text_gets(line, sizeof line, &file) == nullptr) break;
        // A line longer than one read keeps its first part and loses the rest,
        // so that every later line keeps its position.
        bool filled = line[sizeof line - 1] == '\0';
        if (filled && line[sizeof line - 2] != '\n') text_skip_line(&file);
        strip_line_end(line);
        memcpy(settings_lines[slot], line, strlen(line) + 1);
    }
    return text_close(&file);
}
