// Entry of the watcher: one option picks the road, then start-up hands over to
// the capture loop.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "console_texts.h"
#include "quorvale_mon.h"

void print_usage() {
    fprintf(stderr, "%s\n", TEXT_USAGE_1);
    fprintf(stderr, "%s\n", TEXT_USAGE_2);
    fprintf(stderr, "%s\n", TEXT_USAGE_3);
    fprintf(stderr, "%s\n", TEXT_USAGE_4);
    fprintf(stderr, "%s\n", TEXT_USAGE_5);
    fprintf(stderr, "%s\n", TEXT_USAGE_6);
    exit(8);
}

int main(int argc, char** argv) {
    setup_console_streams();

    run_mode = MODE_NONE;
    if (argc == 2) {
        if (strcmp(argv[1], "-m") == 0) run_mode = MODE_LEARN;
        if (strcmp(argv[1], "-a") == 0) run_mode = MODE_ALERT;
        if (strcmp(argv[1], "-i") == 0) run_mode = MODE_EDIT_SETTINGS;
        if (strcmp(argv[1], "-l") == 0) run_mode = MODE_EDIT_LIST;
    }

    if (run_mode == MODE_LEARN) fprintf(stderr, "%s\n", TEXT_LEARN_BANNER);
    if (run_mode == MODE_ALERT) fprintf(stderr, "%s\n", TEXT_ALERT_BANNER);
    if (run_mode == MODE_EDIT_SETTINGS) {
        run_editor(SETTINGS_FILE);
        exit(0);
    }
    if (run_mode == MODE_EDIT_LIST) {
        run_editor(STATION_LIST_FILE);
        exit(0);
    }
    if (run_mode == MODE_NONE) print_usage();

    load_settings();
    station_count = 0;
    load_station_list();
    return run_capture();
}
