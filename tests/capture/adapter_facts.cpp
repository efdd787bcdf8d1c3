// What the capture library says about the adapters, for the capture tests
// to build the watcher's expected dialogue from:
//   adapter_facts             one line per adapter: NAME TAB 1|0 TAB DESCRIPTION
//                             (0: no description; the third field is then empty)
//   adapter_facts --open NAME "datalink N", or "open failed" when the adapter
//                             cannot be opened with the watcher's parameters
#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    char errbuf[PCAP_ERRBUF_SIZE];
    if (argc == 3 && strcmp(argv[1], "--open") == 0) {
        pcap_t* p = pcap_open_live(argv[2], 65536, 1, 1000, errbuf);
        if (p == nullptr) {
            printf("open failed\n");
            return 0;
        }
        printf("datalink %d\n", pcap_datalink(p));
        pcap_close(p);
        return 0;
    }
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, errbuf) == -1) {
        fprintf(stderr, "pcap_findalldevs: %s\n", errbuf);
        return 1;
    }
    for (pcap_if_t* d = all; d != nullptr; d = d->next) {
        printf("%s\t%d\t%s\n", d->name, d->description != nullptr ? 1 : 0,
               d->description != nullptr ? d->description : "");
    }
    pcap_freealldevs(all);
    return 0;
}
