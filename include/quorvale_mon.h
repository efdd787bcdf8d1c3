// State shared by the whole watcher, and the functions that work on it.
// Everything here lives for the whole run, is zero-filled at start and is
// touched from one thread only.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

enum {
    MODE_NONE = 0,
    MODE_LEARN = 1,
    MODE_ALERT = 2,
    MODE_EDIT_SETTINGS = 3,
    MODE_EDIT_LIST = 4,
};

// "XX:XX:XX:XX:XX:XX" and its NUL.
constexpr int MAC_TEXT_LEN = 17;
constexpr int MAC_TEXT_SIZE = MAC_TEXT_LEN + 1;
// "255.255.255.255" and its NUL.
constexpr int IP_TEXT_SIZE = 16;

// Row 0 is never filled, so rows 1 to STATION_TABLE_ROWS - 1 hold stations.
constexpr int STATION_TABLE_ROWS = 4048;
constexpr int STATION_CAPACITY = STATION_TABLE_ROWS - 1;

constexpr int SETTINGS_LINE_COUNT = 4;
constexpr int SETTINGS_LINE_SIZE = 128;

// One read of a list or settings line: at most 127 characters and the NUL.
constexpr int LINE_BUFFER_SIZE = 128;

// Frames shorter than this end before the ARP sender protocol address.
constexpr int MIN_FRAME_LEN = 32;

constexpr const char* STATION_LIST_FILE = "mac_list.txt";
constexpr const char* ALERT_LOG_FILE = "mac_alert.txt";
constexpr const char* SETTINGS_FILE = "quorvale_mon.ini";

struct station_entry {
    char mac[MAC_TEXT_SIZE];
    char ip[IP_TEXT_SIZE];
};

inline int run_mode;
inline station_entry station_table[STATION_TABLE_ROWS];
inline int32_t station_count;
inline char current_mac[MAC_TEXT_SIZE];
inline char current_ip[IP_TEXT_SIZE];
inline char settings_lines[SETTINGS_LINE_COUNT][SETTINGS_LINE_SIZE];

// Start-up.
[[noreturn]] void print_usage();

// Capture.
int run_capture();
void packet_handler(u_char* user, const struct pcap_pkthdr* header, const u_char* frame);
// Writes the 17 characters and the NUL of a MAC text for the six bytes at `bytes`.
void format_mac_text(const u_char* bytes, char* out);
// Writes the dotted-decimal text and its NUL for the four bytes at `bytes`.
void format_ip_text(const u_char* bytes, char* out);

// Station registry.
int load_station_list();
int learn_station();
void check_station();
// True when `mac` equals the mac of one of rows 0 to station_count.
bool station_known(const char* mac);

// Hash index over the mac texts of rows 1 to station_count (station_index.cpp).
// Called with the number of a row just filled at the end of the table.
void station_index_add(int row);
// Builds the index afresh from the table. Needed only after rows were
// rewritten in place with station_count unchanged; a changed count is noticed.
void station_index_rebuild();
// 1 when `mac` is in rows 0 to station_count, 0 when not, -1 when only a plain
// scan can tell (a text not 17 characters long, a count outside the table).
int station_index_lookup(const char* mac);
// The slot where the search for a 17-character text starts.
unsigned station_index_home_slot(const char* mac);

// Mail alert.
int load_settings();
int send_alert_mail();
