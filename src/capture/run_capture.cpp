// Adapter dialogue and capture set-up: the watcher's only interaction.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "console_texts.h"
#include "quorvale_mon.h"

namespace {

constexpr int SNAPSHOT_LENGTH = 65536;
constexpr int PROMISCUOUS = 1;
constexpr int READ_TIMEOUT_MS = 1000;
constexpr const char* FILTER = "arp";
// Netmask for an adapter without addresses; "arp" does not depend on it.
constexpr bpf_u_int32 NETMASK_WITHOUT_ADDRESSES = 0x00FFFFFF;

// Reads one decimal number the way "%d" does (blanks skipped, the number ends
// at the first character that cannot belong to it, the rest stays unread), but
// a number too large for an int saturates instead of wrapping into the range,
// and input that holds no number counts as 0, which the range test refuses.
int read_adapter_number() {
    int c;
    do {
        c = getchar();
    } while (c != EOF && isspace(c));
    bool negative = c == '-';
    if (c == '-' || c == '+') c = getchar();
    long long value = 0;
    bool any_digit = false;
    while (c != EOF && isdigit(c)) {
        any_digit = true;
        if (value <= INT_MAX) value = value * 10 + (c - '0');
        c = getchar();
    }
    if (c != EOF) ungetc(c, stdin);
    if (!any_digit) return 0;
    if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    value = negative ? -value : value;
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

int run_capture() {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_if_t* alldevs = nullptr;

    if (pcap_findalldevs(&alldevs, errbuf) == -1) {
        fprintf(stderr, "Error in pcap_findalldevs: %s\n", errbuf);
        exit(1);
    }

    int count = 0;
    for (pcap_if_t* d = alldevs; d != nullptr; d = d->next) {
        fprintf(stderr, "%d. ", ++count);
        if (d->description != nullptr) {
            fprintf(stderr, " (%s)\n", d->description);
        } else {
            fprintf(stderr, " (No description available)\n");
        }
    }

    if (count == 0) {
        fprintf(stderr, "\nNo interfaces found! Make sure WinPcap is installed.\n");
        return -1;
    }

    fprintf(stderr, TEXT_ADAPTER_PROMPT, count);
    int number = read_adapter_number();

    if (number < 1 || number > count) {
        fprintf(stderr, "%s\n", "\nInterface number out of range.\n");
        pcap_freealldevs(alldevs);
        return -1;
    }

    pcap_if_t* chosen = alldevs;
    for (int i = 1; i < number; i++) chosen = chosen->next;

    pcap_t* handle =
        pcap_open_live(chosen->name, SNAPSHOT_LENGTH, PROMISCUOUS, READ_TIMEOUT_MS, errbuf);
    if (handle == nullptr) {
        fprintf(stderr, "\nUnable to open the adapter. %s is not supported by WinPcap\n",
                chosen->name);
        pcap_freealldevs(alldevs);
        return -1;
    }

    if (pcap_datalink(handle) != DLT_EN10MB) {
        fprintf(stderr, "\nThis program works only on Ethernet networks.\n");
        pcap_freealldevs(alldevs);
        pcap_close(handle);
        return -1;
    }

    bpf_u_int32 netmask = chosen->addresses != nullptr ? 0 : NETMASK_WITHOUT_ADDRESSES;
    struct bpf_program filter;
    if (pcap_compile(handle, &filter, FILTER, 1, netmask) < 0) {
        fprintf(stderr, "\nUnable to compile the packet filter. Check the syntax.\n");
        pcap_freealldevs(alldevs);
        pcap_close(handle);
        return -1;
    }

    // The installed filter is the kernel's copy; ours is freed either way.
    int set = pcap_setfilter(handle, &filter);
    pcap_freecode(&filter);
    if (set < 0) {
        fprintf(stderr, "\nError setting the filter.\n");
        pcap_freealldevs(alldevs);
        pcap_close(handle);
        return -1;
    }

    // An adapter without a description is announced as "(null)".
    const char* description = chosen->description != nullptr ? chosen->description : "(null)";
    fprintf(stderr, "\nlistening on %s...\n", description);

    pcap_freealldevs(alldevs);

    pcap_loop(handle, 0, packet_handler, nullptr);
    pcap_close(handle);
    return 0;
}
