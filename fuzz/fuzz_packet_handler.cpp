// The frame handler on any bytes and any captured length, in learn mode and in
// alert mode, with the real list file, alert log and mail library.
//
// Input: one byte of flags, then frames, each a length byte and that many
// bytes (the last frame takes what is left). Flags:
//   bit 0  alert mode (else learn mode)
//   bit 1  start with a nearly full table
//   bit 2  the list file cannot be opened (a directory stands in its place)
//   bit 3  the alert log cannot be opened
#include <sys/stat.h>

#include <string>

#include "fuzz_support.h"
#include "quorvale_mon.h"

namespace {

constexpr int NEARLY_FULL = STATION_CAPACITY - 2;

bool scan_known(const char* mac) {
    for (int row = 0; row <= station_count; row++) {
        if (strcmp(station_table[row].mac, mac) == 0) return true;
    }
    return false;
}

void reset(unsigned flags) {
    memset(station_table, 0, sizeof station_table);
    station_count = 0;
    memset(settings_lines, 0, sizeof settings_lines);
    remove_path(STATION_LIST_FILE);
    remove_path(ALERT_LOG_FILE);
    if (flags & 4) FUZZ_CHECK(mkdir(STATION_LIST_FILE, 0700) == 0);
    if (flags & 8) FUZZ_CHECK(mkdir(ALERT_LOG_FILE, 0700) == 0);
    run_mode = (flags & 1) ? MODE_ALERT : MODE_LEARN;
    if (flags & 2) {
        // Rows as the loader adds them, in a part of the address space the
        // frames can reach too (first byte 0x02).
        for (int row = 1; row <= NEARLY_FULL; row++) {
            snprintf(station_table[row].mac, MAC_TEXT_SIZE, "02:00:00:00:%02X:%02X", row >> 8,
                     row & 0xFF);
            strcpy(station_table[row].ip, "none");
            station_count = row;
            station_index_add(row);
        }
    }
}

void handle(const uint8_t* bytes, size_t caplen, bool list_usable) {
    // The frame alone in a buffer of its own size, so that any read past the
    // captured length is caught.
    u_char* frame = static_cast<u_char*>(malloc(caplen == 0 ? 1 : caplen));
    FUZZ_CHECK(frame != nullptr);
    if (caplen > 0) memcpy(frame, bytes, caplen);
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(caplen);
    header.len = 60;

    char mac_before[MAC_TEXT_SIZE], ip_before[IP_TEXT_SIZE];
    memcpy(mac_before, current_mac, sizeof mac_before);
    memcpy(ip_before, current_ip, sizeof ip_before);
    const int count_before = station_count;
    const bool whole = caplen >= static_cast<size_t>(MIN_FRAME_LEN);

    // The texts as the general formatted print makes them.
    char mac[32] = "", ip[32] = "";
    bool known_before = false;
    if (whole) {
        snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", frame[6], frame[7], frame[8],
                 frame[9], frame[10], frame[11]);
        snprintf(ip, sizeof ip, "%d.%d.%d.%d", frame[28], frame[29], frame[30], frame[31]);
        known_before = scan_known(mac);
    }

    packet_handler(nullptr, &header, frame);

    if (!whole) {
        // Passed over: nothing changes.
        FUZZ_CHECK(memcmp(mac_before, current_mac, sizeof mac_before) == 0);
        FUZZ_CHECK(memcmp(ip_before, current_ip, sizeof ip_before) == 0);
        FUZZ_CHECK(station_count == count_before);
    } else {
        FUZZ_CHECK(memcmp(current_mac, mac, MAC_TEXT_SIZE) == 0);
        FUZZ_CHECK(strcmp(current_ip, ip) == 0);
        if (run_mode == MODE_ALERT || !list_usable || known_before ||
            count_before == STATION_CAPACITY) {
            FUZZ_CHECK(station_count == count_before);
        } else {
            // A new station in learn mode fills exactly the next row.
            FUZZ_CHECK(station_count == count_before + 1);
            FUZZ_CHECK(strcmp(station_table[station_count].mac, current_mac) == 0);
        }
        FUZZ_CHECK(station_known(current_mac) == scan_known(current_mac));
    }
    FUZZ_CHECK(station_count >= 0 && station_count <= STATION_CAPACITY);
    free(frame);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    enter_private_directory(argc, argv);
    discard_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned flags = data[0];
    reset(flags);
    const bool list_usable = (flags & 4) == 0;
    size_t pos = 1;
    while (pos < size) {
        size_t len = data[pos++];
        if (len > size - pos) len = size - pos;
        handle(data + pos, len, list_usable);
        pos += len;
    }
    // Learning wrote each new station once, with CR LF, in table order.
    if (run_mode == MODE_LEARN && list_usable) {
        std::string expected;
        for (int row = (flags & 2) ? NEARLY_FULL + 1 : 1; row <= station_count; row++) {
            expected += std::string(station_table[row].mac) + "\r\n";
        }
        std::string written;
        if (FILE* f = fopen(STATION_LIST_FILE, "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) written.append(buf, n);
            fclose(f);
        }
        FUZZ_CHECK(written == expected);
    }
    return 0;
}
