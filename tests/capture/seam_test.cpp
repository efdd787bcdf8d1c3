// run_capture against a stand-in capture library, for the failures that a real
// libpcap cannot be made to give, and for the exact parameters of its calls.
// Each case runs run_capture in a forked child with standard input, standard
// error and the call log in files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cp932.h"
#include "fake_pcap.h"
#include "process.h"
#include "quorvale_mon.h"

namespace {

struct Call {
    std::string text;
    long stderr_offset;  // bytes on standard error when the call was made
};

struct ChildResult {
    bool exited = false;
    int exit_status = -1;
    std::string err;
    std::string out;
    std::vector<Call> calls;
};

// Runs run_capture in a child, as main would: its result is the exit status.
ChildResult run_capture_in_child(const std::string& input) {
    TempDir dir;
    ChildResult result;
    if (!write_file(dir.file("in"), input)) return result;
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        int in = open(dir.file("in").c_str(), O_RDONLY);
        int out = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int log = open(dir.file("log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || log < 0) _exit(120);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        fake_pcap_log_to(log);
        int status = run_capture();
        fflush(stdout);
        _exit(status & 0xFF);
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "run_capture did not end within 20 s";
    }
    result.exited = WIFEXITED(status);
    result.exit_status = result.exited ? WEXITSTATUS(status) : -1;
    result.err = read_file(dir.file("err"));
    result.out = read_file(dir.file("out"));
    std::istringstream log(read_file(dir.file("log")));
    for (std::string line; std::getline(log, line);) {
        size_t at = line.rfind(" @");
        result.calls.push_back({line.substr(0, at), std::stol(line.substr(at + 2))});
    }
    return result;
}

std::string listing(const std::vector<FakeAdapter>& adapters) {
    std::string text;
    int n = 0;
    for (const auto& a : adapters) {
        text += std::to_string(++n) + ". ";
        text += a.description ? " (" + *a.description + ")\n" : " (No description available)\n";
    }
    return text + cp932("モニターするインターフェイス番号を入力してください(1-") +
           std::to_string(n) + "):";
}

std::vector<std::string> texts(const std::vector<Call>& calls) {
    std::vector<std::string> t;
    for (const auto& c : calls) t.push_back(c.text);
    return t;
}

const std::vector<FakeAdapter> kThree = {
    {"eth0", std::string("Intel PRO/1000"), true},
    {"eth1", std::nullopt, false},
    {"wlan0", std::string("Wireless"), true},
};

struct SeamCase {
    const char* name;
    FakePcapBehaviour behaviour;
    std::string input;
    std::string message;  // written after the prompt
    int exit_status;
    std::vector<std::string> calls;
};

FakePcapBehaviour with(std::vector<FakeAdapter> adapters) {
    FakePcapBehaviour b;
    b.adapters = std::move(adapters);
    return b;
}

template <typename F>
FakePcapBehaviour with(std::vector<FakeAdapter> adapters, F change) {
    FakePcapBehaviour b = with(std::move(adapters));
    change(b);
    return b;
}

const char* const kFind = "pcap_findalldevs";
const char* const kFree = "pcap_freealldevs head";
const char* const kDatalink = "pcap_datalink handle";
const char* const kSetfilter = "pcap_setfilter handle compiled";
const char* const kLoop = "pcap_loop handle 0 packet_handler null";

std::string open_call(const std::string& device) {
    return "pcap_open_live " + device + " 65536 1 1000 errbuf";
}

std::string compile_call(const char* netmask) {
    return std::string("pcap_compile handle arp 1 ") + netmask;
}

const SeamCase kCases[] = {
    {"OutOfRangeGivesTheListBack",
     with(kThree),
     "4\n",
     "\nInterface number out of range.\n\n",
     255,
     {kFind, kFree}},
    {"NothingReadGivesTheListBack",
     with(kThree),
     "",
     "\nInterface number out of range.\n\n",
     255,
     {kFind, kFree}},
    {"OpenFailureNamesTheDevice",
     with(kThree, [](auto& b) { b.open_fails = true; }),
     "3\n",
     "\nUnable to open the adapter. wlan0 is not supported by WinPcap\n",
     255,
     {kFind, open_call("wlan0"), kFree}},
    {"NotEthernetCompilesNoFilter",
     with(kThree, [](auto& b) { b.datalink = 113; }),
     "1\n",
     "\nThis program works only on Ethernet networks.\n",
     255,
     {kFind, open_call("eth0"), kDatalink, kFree}},
    {"FilterDoesNotCompile",
     with(kThree, [](auto& b) { b.compile_result = -1; }),
     "1\n",
     "\nUnable to compile the packet filter. Check the syntax.\n",
     255,
     {kFind, open_call("eth0"), kDatalink, compile_call("0x00000000"), kFree}},
    {"FilterCannotBeInstalled",
     with(kThree, [](auto& b) { b.setfilter_result = -1; }),
     "1\n",
     "\nError setting the filter.\n",
     255,
     {kFind, open_call("eth0"), kDatalink, compile_call("0x00000000"), kSetfilter, kFree}},
    {"AdapterWithAddressesGetsNetmask0",
     with(kThree),
     "3\n",
     "\nlistening on Wireless...\n",
     0,
     {kFind, open_call("wlan0"), kDatalink, compile_call("0x00000000"), kSetfilter, kFree, kLoop}},
    {"AdapterWithoutAddressesGetsTheOtherNetmask",
     with(kThree),
     " \t2 and more\n",
     "\nlistening on (null)...\n",
     0,
     {kFind, open_call("eth1"), kDatalink, compile_call("0x00ffffff"), kSetfilter, kFree, kLoop}},
    {"LoopResultIsNotLookedAt",
     with(kThree, [](auto& b) { b.loop_result = 0; }),
     "1x\n",
     "\nlistening on Intel PRO/1000...\n",
     0,
     {kFind, open_call("eth0"), kDatalink, compile_call("0x00000000"), kSetfilter, kFree, kLoop}},
    {"SingleAdapterAcceptsOne",
     with({{"eth0", std::nullopt, true}}),
     "1\n",
     "\nlistening on (null)...\n",
     0,
     {kFind, open_call("eth0"), kDatalink, compile_call("0x00000000"), kSetfilter, kFree, kLoop}},
    {"SingleAdapterRefusesTwo",
     with({{"eth0", std::nullopt, true}}),
     "2\n",
     "\nInterface number out of range.\n\n",
     255,
     {kFind, kFree}},
};

// Keeps test names short in the test list.
void PrintTo(const SeamCase& c, std::ostream* os) {
    *os << c.name;
}

class SeamTest : public testing::TestWithParam<SeamCase> {};

TEST_P(SeamTest, WritesTheTextsAndMakesTheCalls) {
    const SeamCase& c = GetParam();
    fake_pcap() = c.behaviour;
    ChildResult r = run_capture_in_child(c.input);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, c.exit_status);
    const std::string dialogue = listing(c.behaviour.adapters);
    EXPECT_EQ(r.err, dialogue + c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(texts(r.calls), c.calls);
    // The list and the prompt come before the adapter is opened; the list is
    // given back (and the loop entered) only once every text is out.
    for (const auto& call : r.calls) {
        long expected = static_cast<long>(dialogue.size());
        if (call.text == kFind) expected = 0;
        if (call.text == kFree || call.text == kLoop) expected = static_cast<long>(r.err.size());
        EXPECT_EQ(call.stderr_offset, expected) << call.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SeamTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<SeamCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SeamFailures, AdapterListCannotBeObtainedExitsWith1) {
    fake_pcap() = FakePcapBehaviour{};
    fake_pcap().findalldevs_fails = true;
    fake_pcap().findalldevs_error = "socket: Address family not supported by protocol";
    ChildResult r = run_capture_in_child("1\n");
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, 1);
    // The library's text, and no list or prompt.
    EXPECT_EQ(r.err,
              "Error in pcap_findalldevs: socket: Address family not supported by protocol\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(texts(r.calls), std::vector<std::string>{kFind});
}

TEST(SeamFailures, EmptyListEndsWithoutPrompt) {
    fake_pcap() = FakePcapBehaviour{};
    ChildResult r = run_capture_in_child("1\n");
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, "\nNo interfaces found! Make sure WinPcap is installed.\n");
    EXPECT_EQ(r.out, "");
    // Nothing to give back.
    EXPECT_EQ(texts(r.calls), std::vector<std::string>{kFind});
}

}  // namespace
