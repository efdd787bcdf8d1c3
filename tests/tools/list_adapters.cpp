// Prints the capture library's adapter list, one device name a line, in the
// order the watcher numbers it.
#include <pcap/pcap.h>

#include <cstdio>

int main() {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, errbuf) == -1) {
        fprintf(stderr, "pcap_findalldevs: %s\n", errbuf);
        return 1;
    }
    for (pcap_if_t* d = all; d != nullptr; d = d->next) printf("%s\n", d->name);
    pcap_freealldevs(all);
    return 0;
}
