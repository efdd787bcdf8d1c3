// Learn mode: every station not yet in the table is numbered, shown and
// appended to the list file.
#include <errno.h>

#include <cstdio>
#include <cstring>

#include "platform/text_file.h"
#include "quorvale_mon.h"

namespace {

// Each trouble is told once until it clears, so a flood cannot drown the console.
bool table_full_reported;
bool write_failure_reported;

}  // namespace

int learn_station() {
    text_file list;
    if (!text_open(&list, STATION_LIST_FILE, "a")) return -1;

    if (station_known(current_mac)) {
        text_close(&list);
        return 0;
    }

    if (station_count >= STATION_CAPACITY) {
        if (!table_full_reported) {
            table_full_reported = true;
            fprintf(stderr,
                    "The station table is full (%d stations): %s and every later new station "
                    "are not learned\n",
                    STATION_CAPACITY, current_mac);
        }
        text_close(&list);
        return 0;
    }

    // Written to the file before it enters the table: a station that cannot be
    // recorded stays new and is learned from a later frame, instead of being
    // shown as learned and missing at the next start.
    if (!text_printf(&list, "%s\n", current_mac)) {
        if (!write_failure_reported) {
            write_failure_reported = true;
            fprintf(stderr, "Cannot write %s (%s): %s is not learned yet\n", STATION_LIST_FILE,
                    strerror(errno), current_mac);
        }
        text_close(&list);
        return 0;
    }
    write_failure_reported = false;

    station_count++;
    memcpy(station_table[station_count].mac, current_mac, MAC_TEXT_SIZE);
    station_index_add(station_count);
    printf("(%03d)%s %s\n", station_count, current_mac, current_ip);
    text_close(&list);
    return 0;
}
