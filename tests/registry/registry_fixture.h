// Shared set-up of the registry tests: fresh process-wide state and a fresh
// working directory for every test, frames handed to packet_handler the way
// the capture loop hands them, and the console output of a call captured.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "console_texts.h"
#include "in_process.h"
#include "quorvale_mon.h"

using Mac = std::array<u_char, 6>;
using Ip = std::array<u_char, 4>;

constexpr u_short ARP_REQUEST = 1;
constexpr u_short ARP_REPLY = 2;

// A 42-byte Ethernet II + ARP (Ethernet/IPv4) frame as a station sends it.
inline std::vector<u_char> arp_frame(const Mac& source, const Ip& sender_ip,
                                     u_short op = ARP_REQUEST, const Mac* sender_hw = nullptr,
                                     const Ip& target_ip = {0, 0, 0, 0}) {
    std::vector<u_char> f(42, 0);
    memset(f.data(), 0xFF, 6);
    memcpy(&f[6], source.data(), 6);
    f[12] = 0x08, f[13] = 0x06;
    f[14] = 0x00, f[15] = 0x01;
    f[16] = 0x08, f[17] = 0x00;
    f[18] = 6, f[19] = 4;
    f[20] = static_cast<u_char>(op >> 8), f[21] = static_cast<u_char>(op);
    memcpy(&f[22], (sender_hw ? *sender_hw : source).data(), 6);
    memcpy(&f[28], sender_ip.data(), 4);
    memcpy(&f[38], target_ip.data(), 4);
    return f;
}

// Hands the first `caplen` bytes of `frame` to packet_handler. The bytes end
// right at an inaccessible page, so reading past the captured length faults.
inline void deliver(const std::vector<u_char>& frame, size_t caplen) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* area =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    u_char* base = static_cast<u_char*>(area);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    u_char* bytes = base + page - caplen;
    memcpy(bytes, frame.data(), caplen);
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(caplen);
    header.len = static_cast<bpf_u_int32>(frame.size());
    packet_handler(nullptr, &header, bytes);
    munmap(area, 2 * page);
}

inline void deliver(const std::vector<u_char>& frame) {
    deliver(frame, frame.size());
}

inline std::string mac_text(const Mac& m) {
    char text[32];
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4],
             m[5]);
    return text;
}

// The count line of the list loader, as the program prints it.
inline std::string count_line(int count) {
    char text[128];
    snprintf(text, sizeof text, TEXT_LIST_COUNT, count);
    return text;
}

struct Captured {
    int result = 0;
    std::string out;
    std::string err;
};

// Runs `call` with standard output and standard error caught and returns what
// it wrote on each, with its result (0 for a void call).
template <typename F>
Captured capture_output(F&& call) {
    StreamCapture streams;
    Captured c;
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
    } else {
        c.result = call();
    }
    streams.stop();
    c.out = streams.out();
    c.err = streams.err();
    return c;
}

// For checks run in a forked child (EXPECT_EXIT), where gtest assertions do
// not reach the parent: collects mismatches as text.
class ChildChecks {
  public:
    template <typename A, typename B>
    void equal(const char* what, const A& got, const B& want) {
        if (!(got == want)) {
            failures_ += std::string(what) + ": got " + ::testing::PrintToString(got) + ", want " +
                         ::testing::PrintToString(want) + "\n";
        }
    }
    // Ends the child: status 0 when every check held, else 1 with the
    // mismatches on standard error for the parent's report.
    [[noreturn]] void finish() {
        fflush(stdout);
        if (!failures_.empty()) {
            fputs(failures_.c_str(), stderr);
            fflush(stderr);
            _exit(1);
        }
        _exit(0);
    }

  private:
    std::string failures_;
};

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        memset(station_table, 0, sizeof station_table);
        station_count = 0;
        run_mode = MODE_NONE;
        memset(current_mac, 0, sizeof current_mac);
        memset(current_ip, 0, sizeof current_ip);
        ASSERT_FALSE(work_.path().empty());
        cwd_ = std::make_unique<WorkingDirectory>(work_.path());
        ASSERT_TRUE(cwd_->ok());
    }

    void TearDown() override { cwd_.reset(); }

    std::string list_path() const { return work_.file(STATION_LIST_FILE); }

    template <typename F>
    Captured capture(F&& call) {
        return capture_output(std::forward<F>(call));
    }

    // Empties the table as a fresh start does, then loads the list file.
    Captured reload() {
        memset(station_table, 0, sizeof station_table);
        station_count = 0;
        return capture([] { return load_station_list(); });
    }

    TempDir work_;  // the program's working directory
    std::unique_ptr<WorkingDirectory> cwd_;
};
