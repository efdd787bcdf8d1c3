// The station table: loaded from the list file at start, searched per frame.
#include <cstdio>
#include <cstring>

#include "platform/text_file.h"
#include "console_texts.h"
#include "quorvale_mon.h"

namespace {

// Fills the next row with `value`. A value longer than a MAC text cannot fit
// the row's mac field; its row is filled and counted but left empty, since
// such a value never equals a MAC text anyway.
void add_loaded_row(const char* value) {
    station_entry& row = station_table[++station_count];
    if (strlen(value) <= static_cast<size_t>(MAC_TEXT_LEN)) {
        strcpy(row.mac, value);
    } else {
        row.mac[0] = '\0';
    }
    strcpy(row.ip, "none");
    station_index_add(station_count);
}

}  // namespace

int load_station_list() {
    text_file file;
    if (!text_open(&file, STATION_LIST_FILE, "r")) return -1;

    char value[LINE_BUFFER_SIZE];
    int not_loaded = 0;
    while (text_gets(value, sizeof value, &file) != nullptr) {
        if (station_count >= STATION_CAPACITY) {
            not_loaded++;
            continue;
        }
        strip_line_end(value);
        add_loaded_row(value);
    }
    text_close(&file);

    if (not_loaded > 0) {
        fprintf(stderr,
                "%s holds more stations than the table's %d rows: the last %d values were "
                "not loaded\n",
                STATION_LIST_FILE, STATION_CAPACITY, not_loaded);
    }
    return fprintf(stderr, TEXT_LIST_COUNT, station_count);
}

bool station_known(const char* mac) {
    // The index answers for MAC texts; anything else gets the plain scan.
    int found = station_index_lookup(mac);
    if (found >= 0) return found == 1;
    for (int row = 0; row <= station_count; row++) {
        if (strcmp(station_table[row].mac, mac) == 0) return true;
    }
    return false;
}
