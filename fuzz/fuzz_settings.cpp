// The settings loader on any file content: each of the four texts is the line
// at its position, cut to 127 characters, whatever the lines before it hold.
#include <string>

#include "fuzz_support.h"
#include "quorvale_mon.h"

namespace {

// The file's lines as a Windows text-mode read gives them: CR bytes dropped,
// Ctrl-Z ends the file, LF ends a line.
// Empty when the file has no such line.
std::string line_at(const uint8_t* data, size_t size, int wanted) {
    std::string text;
    for (size_t i = 0; i < size && data[i] != 0x1A; i++) {
        if (data[i] != '\r') text += static_cast<char>(data[i]);
    }
    size_t pos = 0;
    for (int line = 0; line < wanted; line++) {
        size_t lf = text.find('\n', pos);
        if (lf == std::string::npos) return "";
        pos = lf + 1;
    }
    std::string line = text.substr(pos, text.find('\n', pos) - pos);
    line = line.substr(0, SETTINGS_LINE_SIZE - 1);
    return line.substr(0, line.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    enter_private_directory(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_whole_file(SETTINGS_FILE, data, size);
    memset(settings_lines, 0, sizeof settings_lines);

    load_settings();

    for (int slot = 0; slot < SETTINGS_LINE_COUNT; slot++) {
        FUZZ_CHECK(memchr(settings_lines[slot], '\0', SETTINGS_LINE_SIZE) != nullptr);
        const std::string expected = line_at(data, size, slot);
        FUZZ_CHECK(expected == settings_lines[slot]);
    }
    return 0;
}
