// A stand-in for the capture library, linked instead of libpcap into one test,
// for the failures libpcap cannot be made to give on a real machine. The test
// sets the behaviour; every call is logged as one line.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct FakeAdapter {
    std::string name;
    std::optional<std::string> description;
    bool has_addresses = true;
};

struct FakePcapBehaviour {
    bool findalldevs_fails = false;
    std::string findalldevs_error;
    std::vector<FakeAdapter> adapters;
    bool open_fails = false;
    int datalink = 1;
    int compile_result = 0;
    int setfilter_result = 0;
    int loop_result = -1;
};

// The behaviour of the next calls.
FakePcapBehaviour& fake_pcap();

// Each call writes one line to `fd` from now on, for example
// "pcap_open_live eth0 65536 1 1000 errbuf @120", where 120 is the offset of
// standard error (a file) at the call. -1 stops the log.
void fake_pcap_log_to(int fd);
