// A flooded segment end to end: hundreds of thousands of ARP frames from more
// stations than the table holds, sent as fast as the sender can on one end of
// a veth pair in a throwaway namespace, the built watcher capturing on the
// other. Every station is sent many times, so that frames the kernel drops
// cannot hide a station. The watcher's memory and the kernel's drop counts are
// printed with the results.
#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "segment.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr int kCapacity = 4047;  // rows 1 to 4047
const std::string kFloodFirst = "02:10:00:00:00:00";
constexpr long kFloodStations = 5000;  // more than the table holds
constexpr long kLearnRounds = 60;      // 300,000 frames
constexpr int kPreloaded = 1000;
constexpr long kAlertRounds = 75;  // 303,525 frames with the strangers
constexpr int kStrangers = 100;
constexpr int kFramesPerStranger = 3;

// Station `index` of the flood, as arp_send --flood numbers them.
std::string flood_mac(long index) {
    char text[32];
    snprintf(text, sizeof text, "02:10:00:%02lX:%02lX:%02lX", index >> 16 & 0xFF, index >> 8 & 0xFF,
             index & 0xFF);
    return text;
}
std::string flood_ip(long index) {
    return "10." + std::to_string(index >> 16 & 0xFF) + "." + std::to_string(index >> 8 & 0xFF) +
           "." + std::to_string(index & 0xFF);
}
// Index of a flood MAC text, or -1.
long flood_index(const std::string& mac) {
    if (mac.compare(0, 9, "02:10:00:") != 0 || mac.size() != 17) return -1;
    unsigned a, b, c;
    if (sscanf(mac.c_str() + 9, "%2X:%2X:%2X", &a, &b, &c) != 3) return -1;
    long index = static_cast<long>(a) << 16 | b << 8 | c;
    return flood_mac(index) == mac ? index : -1;
}

std::string stranger_mac(int n) {
    char text[32];
    snprintf(text, sizeof text, "02:66:00:00:00:%02X", n);
    return text;
}
std::string stranger_ip(int n) {
    return "192.168.100." + std::to_string(n);
}

std::vector<std::string> lines_of(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t at = text.find(end, pos);
        if (at == std::string::npos) {
            lines.push_back(text.substr(pos));  // unterminated: kept, so a check sees it
            break;
        }
        lines.push_back(text.substr(pos, at - pos));
        pos = at + end.size();
    }
    return lines;
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

// The kernel's counts for the watcher's capture socket, reached through a
// copy of its descriptor (pidfd_getfd). Reading them resets them; the watcher
// itself never reads them.
class CaptureSocket {
  public:
    ~CaptureSocket() {
        if (fd_ >= 0) close(fd_);
    }
    bool attach(pid_t pid) {
        int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (pidfd < 0) return false;
        std::string dir = "/proc/" + std::to_string(pid) + "/fd";
        DIR* d = opendir(dir.c_str());
        for (dirent* e; d != nullptr && fd_ < 0 && (e = readdir(d)) != nullptr;) {
            if (e->d_name[0] == '.') continue;
            int fd = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, atoi(e->d_name), 0));
            if (fd < 0) continue;
            int domain = 0;
            socklen_t len = sizeof domain;
            if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0 && domain == AF_PACKET) {
                fd_ = fd;
            } else {
                close(fd);
            }
        }
        if (d != nullptr) closedir(d);
        close(pidfd);
        return fd_ >= 0;
    }
    // Frames that passed the filter (dropped ones included) and frames dropped
    // for want of room in the capture buffer, since the last call.
    bool read(unsigned long* packets, unsigned long* drops) {
        tpacket_stats_v3 stats{};
        socklen_t len = sizeof stats;
        if (fd_ < 0 || getsockopt(fd_, SOL_PACKET, PACKET_STATISTICS, &stats, &len) != 0) {
            return false;
        }
        *packets = stats.tp_packets;
        *drops = stats.tp_drops;
        return true;
    }

  private:
    int fd_ = -1;
};

// A "Name:   value kB" line of /proc/PID/status, in kB; -1 when missing.
long status_kb(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) {
            return atol(line.c_str() + name.size() + 1);
        }
    }
    return -1;
}

// User and system clock ticks the process has used; -1 once it is gone.
long cpu_ticks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return -1;
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; i++) {
        if (i == 14) utime = atol(field.c_str());
        if (i == 15) stime = atol(field.c_str());
    }
    return utime + stime;
}

class FloodTest : public SegmentTest {
  protected:
    void start_watcher(BackgroundProcess& watcher, const std::string& option) {
        SegmentTest::start_watcher(watcher, option);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(socket_.attach(watcher.pid())) << "cannot reach the capture socket";
        unsigned long packets, drops;
        ASSERT_TRUE(socket_.read(&packets, &drops));  // from here on only the flood counts
    }

    // Floods and returns the frames sent. The watcher's output is read all the
    // while, so that it never waits on a full pipe.
    long flood(BackgroundProcess& watcher, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {tool_path("arp_send"), send_if_};
        argv.insert(argv.end(), args.begin(), args.end());
        BackgroundProcess sender;
        EXPECT_TRUE(sender.start(ns_->wrap(argv)));
        auto deadline = Clock::now() + seconds(180);
        while (sender.running() && Clock::now() < deadline) {
            watcher.wait_for_stdout("\x01", milliseconds(50));
            if (!watcher.running()) std::this_thread::sleep_for(milliseconds(50));
        }
        ProcessResult r = sender.wait(seconds(5));
        EXPECT_TRUE(r.exited && r.exit_status == 0) << r.out << r.err;
        long sent = -1;
        EXPECT_EQ(sscanf(r.out.c_str(), "sent %ld", &sent), 1) << r.out;
        return sent;
    }

    // Waits until the watcher has handled everything the kernel kept for it:
    // no processor time used for a while. False if it ended or never settled.
    bool wait_until_idle(BackgroundProcess& watcher) {
        auto deadline = Clock::now() + seconds(120);
        long last = -2;
        int quiet = 0;
        while (Clock::now() < deadline && quiet < 4) {
            watcher.wait_for_stdout("\x01", milliseconds(250));
            if (!watcher.running()) return false;
            long now = cpu_ticks(watcher.pid());
            quiet = now == last ? quiet + 1 : 0;
            last = now;
        }
        return quiet >= 4;
    }

    long link_counter(const std::string& ifname, const std::string& counter) {
        ProcessResult r =
            run_process(ns_->wrap({"cat", "/sys/class/net/" + ifname + "/statistics/" + counter}),
                        {}, seconds(10));
        return r.exited && r.exit_status == 0 ? atol(r.out.c_str()) : -1;
    }

    // The figures of one flood, printed and recorded with the test's results.
    void report(BackgroundProcess& watcher, long sent, unsigned long* kernel_drops) {
        unsigned long packets = 0, drops = 0;
        EXPECT_TRUE(socket_.read(&packets, &drops));
        long veth_drops =
            link_counter(send_if_, "tx_dropped") + link_counter(watch_if_, "rx_dropped");
        long rss = status_kb(watcher.pid(), "VmRSS"), hwm = status_kb(watcher.pid(), "VmHWM");
        printf(
            "[ flood    ] sent %ld frames; capture socket: %lu passed the filter, %lu dropped "
            "(buffer full); veth drops %ld; watcher VmRSS %ld kB, VmHWM %ld kB\n",
            sent, packets, drops, veth_drops, rss, hwm);
        RecordProperty("frames_sent", std::to_string(sent));
        RecordProperty("capture_packets", std::to_string(packets));
        RecordProperty("capture_drops", std::to_string(drops));
        RecordProperty("veth_drops", std::to_string(veth_drops));
        RecordProperty("vm_rss_kb", std::to_string(rss));
        RecordProperty("vm_hwm_kb", std::to_string(hwm));
        EXPECT_LE(packets, static_cast<unsigned long>(sent));
        EXPECT_GE(veth_drops, 0);
        *kernel_drops = drops + static_cast<unsigned long>(veth_drops > 0 ? veth_drops : 0);
    }

    CaptureSocket socket_;
};

TEST_F(FloodTest, LearnModeFillsTheTableExactlyOnce) {
    std::string preloaded;
    for (int i = 0; i < kPreloaded; i++) preloaded += flood_mac(i) + "\r\n";
    ASSERT_TRUE(write_file(dir_.file("mac_list.txt"), preloaded));

    BackgroundProcess watcher;
    ASSERT_NO_FATAL_FAILURE(start_watcher(watcher, "-m"));
    long sent = flood(watcher, {"--flood", kFloodFirst, std::to_string(kFloodStations), "--repeat",
                                std::to_string(kLearnRounds)});
    EXPECT_EQ(sent, kFloodStations * kLearnRounds);
    ASSERT_TRUE(wait_until_idle(watcher)) << "the watcher ended or never settled:\n"
                                          << watcher.err();
    unsigned long kernel_drops = 0;
    report(watcher, sent, &kernel_drops);
    ProcessResult r = watcher.stop(SIGTERM);
    ASSERT_EQ(r.signal, SIGTERM) << "exit " << r.exit_status << "\n" << r.err;

    EXPECT_EQ(count_of(r.err, "table is full"), 1u) << r.err;

    // The list: what was there, then every learned station, each once, CR LF.
    const std::string list = read_file(dir_.file("mac_list.txt"));
    ASSERT_EQ(list.compare(0, preloaded.size(), preloaded), 0);
    std::vector<std::string> rows = lines_of(list, "\r\n");
    ASSERT_EQ(rows.size(), static_cast<size_t>(kCapacity));
    ASSERT_EQ(list.size(), static_cast<size_t>(kCapacity) * 19);
    std::set<std::string> unique(rows.begin(), rows.end());
    EXPECT_EQ(unique.size(), rows.size());
    const std::regex mac_text("[0-9A-F]{2}(:[0-9A-F]{2}){5}");
    for (const auto& row : rows) ASSERT_TRUE(std::regex_match(row, mac_text)) << row;

    // The console: one line per learned station, numbered on from the list,
    // each the station's MAC text and the IP text of its frames.
    ASSERT_FALSE(r.out.empty());
    ASSERT_EQ(r.out.back(), '\n');
    std::vector<std::string> out = lines_of(r.out, "\n");
    ASSERT_EQ(out.size(), static_cast<size_t>(kCapacity - kPreloaded));
    const std::regex learned_line(R"(\((\d{3,})\)(\S{17}) (\S+))");
    for (size_t i = 0; i < out.size(); i++) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(out[i], m, learned_line)) << out[i];
        EXPECT_EQ(std::stol(m[1]), kPreloaded + 1 + static_cast<long>(i)) << out[i];
        long index = flood_index(m[2]);
        ASSERT_GE(index, kPreloaded) << out[i];
        EXPECT_EQ(m[3].str(), flood_ip(index)) << out[i];
        EXPECT_EQ(rows[kPreloaded + i], m[2].str()) << "list and console disagree at " << i;
    }
}

TEST_F(FloodTest, AlertModeReportsEveryStrangerAndNothingElse) {
    std::string registered;
    for (int i = 0; i < kCapacity; i++) registered += flood_mac(i) + "\r\n";
    ASSERT_TRUE(write_file(dir_.file("mac_list.txt"), registered));
    // Nothing listens on the namespace's loopback: every mail fails at once.
    ASSERT_TRUE(write_file(dir_.file("quorvale_mon.ini"),
                           "127.0.0.1:2525\r\nops@example.test\r\nwatcher@example.test\r\n"
                           "Unregistered station\r\n"));
    std::string strangers;
    for (int round = 0; round < kFramesPerStranger; round++) {
        for (int n = 0; n < kStrangers; n++) {
            strangers += stranger_mac(n) + "," + stranger_ip(n) + "\n";
        }
    }
    ASSERT_TRUE(write_file(dir_.file("strangers.txt"), strangers));
    const long stranger_frames = kStrangers * kFramesPerStranger;

    BackgroundProcess watcher;
    ASSERT_NO_FATAL_FAILURE(start_watcher(watcher, "-a"));
    long sent =
        flood(watcher, {"--flood", kFloodFirst, std::to_string(kCapacity), "--repeat",
                        std::to_string(kAlertRounds), "--file", dir_.file("strangers.txt")});
    EXPECT_EQ(sent, kCapacity * kAlertRounds + stranger_frames);
    ASSERT_TRUE(wait_until_idle(watcher)) << "the watcher ended or never settled:\n"
                                          << watcher.err();
    unsigned long kernel_drops = 0;
    report(watcher, sent, &kernel_drops);
    ProcessResult r = watcher.stop(SIGTERM);
    ASSERT_EQ(r.signal, SIGTERM) << "exit " << r.exit_status << "\n" << r.err;

    // Only strangers, each alert complete: console line, mail outcome, log line.
    std::vector<std::string> out = lines_of(r.out, "\n");
    ASSERT_TRUE(r.out.empty() || r.out.back() == '\n');
    ASSERT_EQ(out.size() % 2, 0u) << r.out;
    const std::regex alert_line(R"(Alert :(\S{17}) (\S+))");
    std::vector<std::string> alerts;
    std::map<std::string, int> per_stranger;
    for (size_t i = 0; i < out.size(); i += 2) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(out[i], m, alert_line)) << out[i];
        int n = -1;
        for (int s = 0; s < kStrangers; s++) {
            if (stranger_mac(s) == m[1].str()) n = s;
        }
        ASSERT_GE(n, 0) << "alert for a registered station: " << out[i];
        EXPECT_EQ(m[2].str(), stranger_ip(n));
        EXPECT_EQ(out[i + 1].compare(0, 11, "send error "), 0) << out[i + 1];
        EXPECT_GT(out[i + 1].size(), 11u) << "a failed mail says why";
        alerts.push_back(m[1].str() + " " + m[2].str());
        per_stranger[m[1].str()]++;
    }
    std::string log;
    for (const auto& alert : alerts) log += alert + "\r\n";
    EXPECT_EQ(read_file(dir_.file("mac_alert.txt")), log);

    // Each stranger frame the kernel handed over raised its alert.
    printf("[ flood    ] %zu alerts for %ld stranger frames\n", alerts.size(), stranger_frames);
    EXPECT_LE(alerts.size(), static_cast<size_t>(stranger_frames));
    EXPECT_GE(static_cast<long>(alerts.size()) + static_cast<long>(kernel_drops), stranger_frames);
    for (const auto& [mac, count] : per_stranger) EXPECT_LE(count, kFramesPerStranger) << mac;
    if (kernel_drops == 0) {
        EXPECT_EQ(per_stranger.size(), static_cast<size_t>(kStrangers));
    }
}

}  // namespace
