// Turns each captured ARP frame into the sender's MAC and IP texts and hands
// it to the mode's action.
#include "quorvale_mon.h"

namespace {

constexpr int ETHERNET_SOURCE_OFFSET = 6;
constexpr int ARP_SENDER_IP_OFFSET = 28;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

}  // namespace

// Written out by hand: this runs for every frame of a flooded segment, where
// the general formatted print would cost more than the station search.
void format_mac_text(const u_char* bytes, char* out) {
    for (int i = 0; i < 6; i++) {
        *out++ = HEX_DIGITS[bytes[i] >> 4];
        *out++ = HEX_DIGITS[bytes[i] & 0x0F];
        *out++ = i < 5 ? ':' : '\0';
    }
}

void format_ip_text(const u_char* bytes, char* out) {
    for (int i = 0; i < 4; i++) {
        unsigned value = bytes[i];
        if (value >= 100) *out++ = static_cast<char>('0' + value / 100);
        if (value >= 10) *out++ = static_cast<char>('0' + value / 10 % 10);
        *out++ = static_cast<char>('0' + value % 10);
        *out++ = i < 3 ? '.' : '\0';
    }
}

void packet_handler(u_char* /*user*/, const struct pcap_pkthdr* header, const u_char* frame) {
    // A frame cut short before the sender's address is passed over.
    if (header->caplen < static_cast<bpf_u_int32>(MIN_FRAME_LEN)) return;

    format_mac_text(frame + ETHERNET_SOURCE_OFFSET, current_mac);
    format_ip_text(frame + ARP_SENDER_IP_OFFSET, current_ip);

    if (run_mode == MODE_LEARN) learn_station();
    if (run_mode == MODE_ALERT) check_station();
}
