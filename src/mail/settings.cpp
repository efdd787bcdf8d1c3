// The settings file: four texts taken by line position, read once at start.
#include <cstring>

#include "platform/text_file.h"
#include "quorvale_mon.h"

int load_settings() {
    text_file file;
    if (!text_open(&file, SETTINGS_FILE, "r")) return -1;

    char line[LINE_BUFFER_SIZE];
    for (int slot = 0; slot < SETTINGS_LINE_COUNT; slot++) {
        if (text_gets(line, sizeof line, &file) == nullptr) break;
        size_t len = strlen(line);
        // A line longer than one read keeps its first part and loses the rest,
        // so that every later line keeps its position.
        if (len == sizeof line - 1 && line[len - 1] != '\n') text_skip_line(&file);
        strip_line_end(line);
        memcpy(settings_lines[slot], line, strlen(line) + 1);
    }
    return text_close(&file);
}
