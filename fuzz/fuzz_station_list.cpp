// The list loader on any file content, against a plain model of how a
// Windows text-mode read splits the file into values.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "quorvale_mon.h"

namespace {

// CR bytes dropped wherever they stand, Ctrl-Z ends the file.
std::string text_mode(const uint8_t* data, size_t size) {
    std::string text;
    for (size_t i = 0; i < size && data[i] != 0x1A; i++) {
        if (data[i] != '\r') text += static_cast<char>(data[i]);
    }
    return text;
}

// The pieces of 127 characters at most that a line read gives, each through
// its LF where it has one; as C texts, so a NUL byte ends the value.
std::vector<std::string> values_of(const std::string& text) {
    std::vector<std::string> values;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t len = 0;
        while (pos + len < text.size() && len < LINE_BUFFER_SIZE - 1) {
            if (text[pos + len++] == '\n') break;
        }
        std::string piece = text.substr(pos, len);
        pos += len;
        std::string value = piece.substr(0, piece.find('\0'));
        if (!value.empty() && value.back() == '\n') value.pop_back();
        values.push_back(value);
    }
    return values;
}

bool scan_known(const char* mac) {
    for (int row = 0; row <= station_count; row++) {
        if (strcmp(station_table[row].mac, mac) == 0) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    enter_private_directory(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_whole_file(STATION_LIST_FILE, data, size);
    memset(station_table, 0, sizeof station_table);
    station_count = 0;

    load_station_list();

    const std::vector<std::string> values = values_of(text_mode(data, size));
    const int expected_count = values.size() < static_cast<size_t>(STATION_CAPACITY)
                                   ? static_cast<int>(values.size())
                                   : STATION_CAPACITY;
    FUZZ_CHECK(station_count == expected_count);

    static const station_entry empty{};
    FUZZ_CHECK(memcmp(&station_table[0], &empty, sizeof empty) == 0);
    for (int row = 1; row <= station_count; row++) {
        const station_entry& entry = station_table[row];
        FUZZ_CHECK(memchr(entry.mac, '\0', MAC_TEXT_SIZE) != nullptr);
        FUZZ_CHECK(strcmp(entry.ip, "none") == 0);
        // A value too long for the field fills its row with an empty text.
        const std::string& value = values[row - 1];
        const std::string expected = value.size() <= MAC_TEXT_LEN ? value : "";
        FUZZ_CHECK(expected == entry.mac);
        FUZZ_CHECK(station_known(entry.mac));
        // The first 17 characters of a longer value are no station.
        if (value.size() > MAC_TEXT_LEN) {
            const std::string head = value.substr(0, MAC_TEXT_LEN);
            FUZZ_CHECK(station_known(head.c_str()) == scan_known(head.c_str()));
        }
    }
    for (int row = station_count + 1; row < STATION_TABLE_ROWS; row++) {
        FUZZ_CHECK(memcmp(&station_table[row], &empty, sizeof empty) == 0);
    }
    return 0;
}
