#include "fake_pcap.h"

#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "quorvale_mon.h"

namespace {

FakePcapBehaviour behaviour;
int log_fd = -1;

// The list handed out, and what the handle and filter calls must be given back.
std::vector<pcap_if_t> records;
pcap_addr address_record;
pcap_if_t* handed_out_head = nullptr;
char handle_storage[16];
pcap_t* const kHandle = reinterpret_cast<pcap_t*>(handle_storage);
bpf_program* compiled_program = nullptr;

// Each line ends with " @N", N the bytes on standard error (a file) so far.
void log_line(const std::string& line) {
    if (log_fd < 0) return;
    std::string text = line + " @" + std::to_string(lseek(2, 0, SEEK_CUR)) + "\n";
    ssize_t ignored = write(log_fd, text.data(), text.size());
    (void)ignored;
}

const char* which_handle(pcap_t* p) {
    return p == kHandle ? "handle" : "other-handle";
}

}  // namespace

FakePcapBehaviour& fake_pcap() {
    return behaviour;
}

void fake_pcap_log_to(int fd) {
    log_fd = fd;
}

int pcap_findalldevs(pcap_if_t** alldevs, char* errbuf) {
    log_line("pcap_findalldevs");
    if (behaviour.findalldevs_fails) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", behaviour.findalldevs_error.c_str());
        return -1;
    }
    records.assign(behaviour.adapters.size(), pcap_if_t{});
    for (size_t i = 0; i < records.size(); i++) {
        const FakeAdapter& a = behaviour.adapters[i];
        records[i].next = i + 1 < records.size() ? &records[i + 1] : nullptr;
        records[i].name = const_cast<char*>(a.name.c_str());
        records[i].description =
            a.description ? const_cast<char*>(a.description->c_str()) : nullptr;
        records[i].addresses = a.has_addresses ? &address_record : nullptr;
    }
    handed_out_head = records.empty() ? nullptr : &records[0];
    *alldevs = handed_out_head;
    return 0;
}

void pcap_freealldevs(pcap_if_t* alldevs) {
    log_line(alldevs == handed_out_head && alldevs != nullptr ? "pcap_freealldevs head"
                                                              : "pcap_freealldevs other");
}

pcap_t* pcap_open_live(const char* device, int snaplen, int promisc, int to_ms, char* errbuf) {
    log_line("pcap_open_live " + std::string(device) + " " + std::to_string(snaplen) + " " +
             std::to_string(promisc) + " " + std::to_string(to_ms) +
             (errbuf != nullptr ? " errbuf" : " null"));
    if (behaviour.open_fails) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: No such device exists", device);
        return nullptr;
    }
    return kHandle;
}

int pcap_datalink(pcap_t* p) {
    log_line(std::string("pcap_datalink ") + which_handle(p));
    return behaviour.datalink;
}

int pcap_compile(pcap_t* p, bpf_program* fp, const char* str, int optimize, bpf_u_int32 netmask) {
    char mask[16];
    snprintf(mask, sizeof mask, "0x%08x", netmask);
    log_line(std::string("pcap_compile ") + which_handle(p) + " " + str + " " +
             std::to_string(optimize) + " " + mask);
    compiled_program = fp;
    return behaviour.compile_result;
}

int pcap_setfilter(pcap_t* p, bpf_program* fp) {
    log_line(std::string("pcap_setfilter ") + which_handle(p) +
             (fp == compiled_program ? " compiled" : " other-program"));
    return behaviour.setfilter_result;
}

// Releasing calls are not part of what the tests look at.
void pcap_freecode(bpf_program*) {}
void pcap_close(pcap_t*) {}

int pcap_loop(pcap_t* p, int cnt, pcap_handler callback, u_char* user) {
    log_line(std::string("pcap_loop ") + which_handle(p) + " " + std::to_string(cnt) +
             (callback == packet_handler ? " packet_handler" : " other-callback") +
             (user == nullptr ? " null" : " non-null"));
    return behaviour.loop_result;
}
