// Real capture set-up with the built program inside a throwaway network
// namespace: the adapter dialogue through standard input, every road out of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cp932.h"
#include "netns.h"
#include "process.h"

namespace {

using namespace std::chrono_literals;

const std::string kProgram = QUORVALE_MON_PATH;
const std::string kOutOfRange = "\nInterface number out of range.\n\n";

struct Adapter {
    std::string name;
    std::optional<std::string> description;
};

class CaptureTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string reason = NetNamespace::unavailable_reason();
        if (!reason.empty()) GTEST_SKIP() << "capture tests need a network namespace: " << reason;
        ns_ = std::make_unique<NetNamespace>();
        ASSERT_TRUE(ns_->ok()) << ns_->error();
        std::string pid = std::to_string(getpid());
        veth_a_ = "qa" + pid;
        veth_b_ = "qb" + pid;
        ASSERT_TRUE(ns_->add_veth(veth_a_, veth_b_));
        ASSERT_FALSE(cwd_.path().empty());
        load_adapters();
    }

    void load_adapters() {
        ProcessResult r = run_process(ns_->wrap({kFactsTool}), {}, 20s);
        ASSERT_TRUE(r.exited && r.exit_status == 0) << r.err;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            size_t t1 = line.find('\t');
            size_t t2 = line.find('\t', t1 + 1);
            ASSERT_NE(t2, std::string::npos) << line;
            Adapter a{line.substr(0, t1), std::nullopt};
            if (line.substr(t1 + 1, t2 - t1 - 1) == "1") a.description = line.substr(t2 + 1);
            adapters_.push_back(a);
        }
        // The same list, in the same order, as the shared adapter lister sees it.
        std::vector<std::string> names;
        for (const auto& a : adapters_) names.push_back(a.name);
        ASSERT_EQ(names, ns_->adapter_names());
        ASSERT_GE(count(), 3);
    }

    int count() const { return static_cast<int>(adapters_.size()); }

    int number_of(const std::string& name) const {
        for (int i = 0; i < count(); i++) {
            if (adapters_[static_cast<size_t>(i)].name == name) return i + 1;
        }
        return 0;
    }

    // Everything the watcher writes up to and including the prompt.
    std::string dialogue(const char* option = "-m") const {
        std::string text = cp932(option[1] == 'm' ? "MAC address 収集スタート.. \n"
                                                  : " 不正MACアドレス　検査 スタート.. \n");
        text += "\n";
        for (int i = 0; i < count(); i++) {
            const Adapter& a = adapters_[static_cast<size_t>(i)];
            text += std::to_string(i + 1) + ". ";
            text += a.description ? " (" + *a.description + ")\n" : " (No description available)\n";
        }
        text += cp932("モニターするインターフェイス番号を入力してください(1-") +
                std::to_string(count()) + "):";
        return text;
    }

    std::vector<std::string> watcher(const char* option = "-m") const {
        return ns_->wrap({kProgram, option});
    }

    ProcessOptions options(const std::string& input, bool close_stdin = true) const {
        ProcessOptions o;
        o.cwd = cwd_.path();
        o.stdin_text = input;
        o.close_stdin = close_stdin;
        return o;
    }

    std::string read_in_namespace(const std::string& path) {
        ProcessResult r = run_process(ns_->wrap({"cat", path}), {}, 10s);
        return r.exited && r.exit_status == 0 ? r.out : "";
    }

    // Interface indexes of the packet sockets open in the namespace.
    std::vector<std::string> capture_ifindexes() {
        std::istringstream in(read_in_namespace("/proc/net/packet"));
        std::vector<std::string> found;
        std::string line;
        std::getline(in, line);  // heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string sk, refcnt, type, proto, iface;
            if (fields >> sk >> refcnt >> type >> proto >> iface) found.push_back(iface);
        }
        return found;
    }

    std::string ifindex(const std::string& ifname) {
        std::string text = read_in_namespace("/sys/class/net/" + ifname + "/ifindex");
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    const std::string kFactsTool = ADAPTER_FACTS_PATH;
    std::unique_ptr<NetNamespace> ns_;
    std::string veth_a_;
    std::string veth_b_;
    std::vector<Adapter> adapters_;
    TempDir cwd_;
};

TEST_F(CaptureTest, VethsAreListedWithoutDescription) {
    std::string list = dialogue();
    for (const auto& name : {veth_a_, veth_b_}) {
        int n = number_of(name);
        ASSERT_GT(n, 0) << name << " is not in the adapter list";
        EXPECT_NE(list.find("\n" + std::to_string(n) + ".  (No description available)\n"),
                  std::string::npos);
    }
}

TEST_F(CaptureTest, NumbersOutOfRangeEndWith255) {
    const std::string inputs[] = {
        "0\n",
        "-1\n",
        std::to_string(count() + 1) + "\n",
        "abc\n",
        "x1\n",
        "\n",
        "   \n\n",
        "",
        // 2^32 + 1 must not wrap round into the range.
        "4294967297\n",
    };
    for (const auto& input : inputs) {
        ProcessResult r = run_process(watcher(), options(input), 30s);
        ASSERT_TRUE(r.exited) << testing::PrintToString(input) << " signal " << r.signal;
        EXPECT_EQ(r.exit_status, 255) << testing::PrintToString(input);
        EXPECT_EQ(r.err, dialogue() + kOutOfRange) << testing::PrintToString(input);
        EXPECT_EQ(r.out, "") << testing::PrintToString(input);
    }
}

TEST_F(CaptureTest, AlertModeRunsTheSameDialogue) {
    ProcessResult r = run_process(watcher("-a"), options(""), 30s);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, dialogue("-a") + kOutOfRange);
    EXPECT_EQ(r.out, "");
}

TEST_F(CaptureTest, TheCountChoosesTheLastRecord) {
    const std::string last = adapters_.back().name;
    ProcessResult facts = run_process(ns_->wrap({kFactsTool, "--open", last}), {}, 20s);
    ASSERT_TRUE(facts.exited && facts.exit_status == 0) << facts.err;

    BackgroundProcess p;
    ASSERT_TRUE(p.start(watcher(), options(std::to_string(count()) + "\n")));
    if (facts.out == "open failed\n") {
        ProcessResult r = p.wait(30s);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.err, dialogue() + "\nUnable to open the adapter. " + last +
                             " is not supported by WinPcap\n");
    } else if (facts.out != "datalink 1\n") {
        ProcessResult r = p.wait(30s);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.err, dialogue() + "\nThis program works only on Ethernet networks.\n");
    } else {
        std::string description = adapters_.back().description.value_or("(null)");
        EXPECT_TRUE(p.wait_for_stderr("\nlistening on " + description + "...\n", 30s)) << p.err();
        EXPECT_EQ(p.err(), dialogue() + "\nlistening on " + description + "...\n");
    }
}

TEST_F(CaptureTest, AnyPseudoDeviceIsNotEthernet) {
    int any = number_of("any");
    ASSERT_GT(any, 0) << "the capture library lists no \"any\" device";
    ProcessResult r = run_process(watcher(), options(std::to_string(any) + "\n"), 30s);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, dialogue() + "\nThis program works only on Ethernet networks.\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CaptureTest, NumberWithSpacesAndTrailingTextSelectsThatAdapter) {
    const std::string n = std::to_string(number_of(veth_a_));
    const std::string expected = dialogue() + "\nlistening on (null)...\n";
    const std::string want_ifindex = ifindex(veth_a_);
    ASSERT_FALSE(want_ifindex.empty());
    for (const auto& input : {n + "\n", "   " + n + "\n", " \t" + n + " junk\n", n + "abc"}) {
        BackgroundProcess p;
        ASSERT_TRUE(p.start(watcher(), options(input)));
        ASSERT_TRUE(p.wait_for_stderr("listening on (null)...\n", 30s))
            << testing::PrintToString(input) << p.err();
        EXPECT_EQ(p.err(), expected) << testing::PrintToString(input);
        // The one capture socket in the namespace is bound to the chosen veth.
        EXPECT_EQ(capture_ifindexes(), std::vector<std::string>{want_ifindex})
            << testing::PrintToString(input);
        ProcessResult r = p.stop(SIGTERM, 10s);
        EXPECT_EQ(r.signal, SIGTERM);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CaptureTest, AdapterDeletedBeforeTheNumberCannotBeOpened) {
    BackgroundProcess p;
    ASSERT_TRUE(p.start(watcher(), options("", false)));
    ASSERT_TRUE(p.wait_for_stderr(dialogue(), 30s)) << p.err();
    const int n = number_of(veth_a_);
    ASSERT_TRUE(ns_->delete_link(veth_a_));
    ASSERT_TRUE(p.write_stdin(std::to_string(n) + "\n"));
    p.close_stdin();
    ProcessResult r = p.wait(30s);
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, dialogue() + "\nUnable to open the adapter. " + veth_a_ +
                         " is not supported by WinPcap\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CaptureTest, CaptureLoopEndsWithStatus0WhenTheInterfaceIsDeleted) {
    BackgroundProcess p;
    ASSERT_TRUE(p.start(watcher(), options(std::to_string(number_of(veth_b_)) + "\n")));
    const std::string expected = dialogue() + "\nlistening on (null)...\n";
    ASSERT_TRUE(p.wait_for_stderr(expected, 30s)) << p.err();
    ASSERT_TRUE(p.running());
    ASSERT_TRUE(ns_->delete_link(veth_b_));
    ProcessResult r = p.wait(30s);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    EXPECT_EQ(r.exit_status, 0);
    // Nothing after the "listening on" line, on either stream.
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.out, "");
}

TEST_F(CaptureTest, LearnedLineReachesARedirectedStdoutWhileRunning) {
    BackgroundProcess p;
    ASSERT_TRUE(p.start(watcher(), options(std::to_string(number_of(veth_a_)) + "\n")));
    ASSERT_TRUE(p.wait_for_stderr("\nlistening on (null)...\n", 30s)) << p.err();
    ProcessResult sent = run_process(
        ns_->wrap({tool_path("arp_send"), veth_b_, "02:00:00:00:00:01,10.0.0.1"}), {}, 20s);
    ASSERT_TRUE(sent.exited && sent.exit_status == 0) << sent.err;
    // Standard output is a pipe here: a fully buffered stream would hold the
    // line until exit, and the watcher does not exit by itself.
    EXPECT_TRUE(p.wait_for_stdout("\n", 20s)) << "stdout: " << p.out();
    EXPECT_TRUE(p.running());
    EXPECT_EQ(p.out(), "(001)02:00:00:00:00:01 10.0.0.1\n");
    ProcessResult r = p.stop(SIGKILL, 10s);
    EXPECT_EQ(r.out, "(001)02:00:00:00:00:01 10.0.0.1\n");
}

}  // namespace
