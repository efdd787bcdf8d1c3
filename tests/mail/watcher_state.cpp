#include "watcher_state.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "quorvale_mon.h"

void reset_watcher_state() {
    memset(station_table, 0, sizeof station_table);
    station_count = 0;
    memset(current_mac, 0, sizeof current_mac);
    memset(current_ip, 0, sizeof current_ip);
    memset(settings_lines, 0, sizeof settings_lines);
}

void set_settings(const std::string& server, const std::string& recipients,
                  const std::string& sender, const std::string& subject) {
    const std::string* values[SETTINGS_LINE_COUNT] = {&server, &recipients, &sender, &subject};
    for (int i = 0; i < SETTINGS_LINE_COUNT; i++) {
        snprintf(settings_lines[i], SETTINGS_LINE_SIZE, "%s", values[i]->c_str());
    }
}

void set_frame(const std::string& mac, const std::string& ip) {
    snprintf(current_mac, sizeof current_mac, "%s", mac.c_str());
    snprintf(current_ip, sizeof current_ip, "%s", ip.c_str());
}
