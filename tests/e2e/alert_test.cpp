// Alert mode end to end: the built watcher with its real mail library in a
// throwaway namespace, real ARP frames on a veth pair, a real SMTP server on
// the namespace's loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "segment.h"
#include "smtp_sink.h"

namespace {

using std::chrono::seconds;

const std::string kKnown1 = "02:00:00:00:00:01";
const std::string kKnown2 = "02:00:00:00:00:02";
const std::string kStranger1 = "02:00:5E:00:0A:01";
const std::string kStranger2 = "02:00:5E:00:0A:02";

// The value of header `name` (unfolded), or "<missing>".
std::string header_value(const std::string& message, const std::string& name) {
    size_t end = message.find("\r\n\r\n");
    std::string head = "\r\n" + message.substr(0, end);
    std::string key = "\r\n" + name + ":";
    size_t at = head.find(key);
    if (at == std::string::npos) return "<missing>";
    size_t start = at + key.size();
    std::string value;
    for (size_t pos = start;;) {
        size_t eol = head.find("\r\n", pos);
        value += head.substr(pos, eol - pos);
        if (eol == std::string::npos) break;
        // A folded header goes on on lines that begin with a blank.
        if (eol + 2 >= head.size() || (head[eol + 2] != ' ' && head[eol + 2] != '\t')) break;
        pos = eol + 2;
    }
    size_t first = value.find_first_not_of(" \t");
    return first == std::string::npos ? "" : value.substr(first);
}

// The text after the header block, without its final line end.
std::string message_body(const std::string& message) {
    size_t end = message.find("\r\n\r\n");
    if (end == std::string::npos) return "<no body>";
    std::string body = message.substr(end + 4);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    return body;
}

class AlertEndToEndTest : public SegmentTest {
  protected:
    void SetUp() override {
        SegmentTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(write_file(dir_.file("mac_list.txt"), kKnown1 + "\r\n" + kKnown2 + "\r\n"));
    }

    void write_settings(const std::string& server) {
        // Written on Windows by the operator: CR LF line ends.
        ASSERT_TRUE(write_file(dir_.file("quorvale_mon.ini"),
                               server + "\r\nops@example.test; sec@example.test\r\n"
                                        "watcher@example.test\r\nUnregistered station\r\n"));
    }

    void start_watcher() { SegmentTest::start_watcher(watcher_, "-a"); }

    // Waits for `expected_out` on standard output and then for the alert log
    // to hold `expected_log` (its line comes last in an alert), then ends the
    // watcher.
    ProcessResult stop_after(const std::string& expected_out, const std::string& expected_log) {
        bool seen = watcher_.wait_for_stdout(expected_out, seconds(60));
        auto deadline = std::chrono::steady_clock::now() + seconds(10);
        while (seen && read_file(dir_.file("mac_alert.txt")) != expected_log &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ProcessResult r = watcher_.stop(SIGTERM, seconds(10));
        EXPECT_TRUE(seen) << "standard output so far:\n" << r.out << "standard error:\n" << r.err;
        EXPECT_EQ(r.signal, SIGTERM);
        return r;
    }

    // Ends before the segment's namespace goes.
    BackgroundProcess watcher_;
};

TEST_F(AlertEndToEndTest, UnregisteredStationsAreReportedMailedAndLogged) {
    SmtpSink sink;
    ASSERT_TRUE(sink.start("127.0.0.1", ns_.get())) << sink.error();
    write_settings("127.0.0.1:" + std::to_string(sink.port()));
    start_watcher();

    // Registered frames sit between the others, so the last alert shows that
    // they have all been handled.
    send_frames({kKnown1 + ",10.9.0.1", kStranger1 + ",10.9.0.50", kKnown2 + ",10.9.0.2",
                 kStranger2 + ",0.0.0.0", kKnown1 + ",10.9.0.1,op=reply",
                 kStranger1 + ",10.9.0.51,op=reply"});

    const std::string expected_out = "Alert :" + kStranger1 + " 10.9.0.50\nsend ok\n" +
                                     "Alert :" + kStranger2 + " 0.0.0.0\nsend ok\n" +
                                     "Alert :" + kStranger1 + " 10.9.0.51\nsend ok\n";
    const std::string expected_log =
        kStranger1 + " 10.9.0.50\r\n" + kStranger2 + " 0.0.0.0\r\n" + kStranger1 + " 10.9.0.51\r\n";
    ProcessResult r = stop_after(expected_out, expected_log);
    EXPECT_EQ(r.out, expected_out);
    EXPECT_EQ(r.err.find("not logged"), std::string::npos) << r.err;

    struct Expected {
        std::string mac, ip;
    };
    const Expected expected_mails[] = {
        {kStranger1, "10.9.0.50"}, {kStranger2, "0.0.0.0"}, {kStranger1, "10.9.0.51"}};
    ASSERT_TRUE(sink.wait_for_mails(3, seconds(30)));
    std::vector<ReceivedMail> mails = sink.mails();
    ASSERT_EQ(mails.size(), 3u);
    for (size_t i = 0; i < mails.size(); i++) {
        SCOPED_TRACE("mail " + std::to_string(i + 1));
        EXPECT_EQ(mails[i].mail_from, "watcher@example.test");
        EXPECT_EQ(mails[i].recipients,
                  (std::vector<std::string>{"ops@example.test", "sec@example.test"}));
        EXPECT_EQ(header_value(mails[i].message, "Subject"),
                  "Unregistered station " + expected_mails[i].ip);
        EXPECT_EQ(message_body(mails[i].message),
                  expected_mails[i].mac + " " + expected_mails[i].ip);
    }

    EXPECT_EQ(read_file(dir_.file("mac_alert.txt")), expected_log);
    // Alert mode never writes the list.
    EXPECT_EQ(read_file(dir_.file("mac_list.txt")), kKnown1 + "\r\n" + kKnown2 + "\r\n");
}

TEST_F(AlertEndToEndTest, UnreachableMailServerStillLogsTheAlert) {
    // Nothing listens anywhere in the fresh namespace: the connection is refused.
    write_settings("127.0.0.1:2525");
    ASSERT_TRUE(write_file(dir_.file("mac_alert.txt"), kStranger2 + " 10.9.0.7\r\n"));
    start_watcher();

    send_frames({kKnown2 + ",10.9.0.2", kStranger1 + ",10.9.0.60"});

    const std::string alert_line = "Alert :" + kStranger1 + " 10.9.0.60\n";
    const std::string expected_log = kStranger2 + " 10.9.0.7\r\n" + kStranger1 + " 10.9.0.60\r\n";
    ProcessResult r = stop_after(alert_line + "send error ", expected_log);
    std::smatch m;
    const std::regex shape("Alert :" + kStranger1 + " 10\\.9\\.0\\.60\nsend error ([^\n]+)\n");
    ASSERT_TRUE(std::regex_match(r.out, m, shape)) << r.out;
    EXPECT_LE(m[1].length(), 82);

    EXPECT_EQ(read_file(dir_.file("mac_alert.txt")), expected_log);
}

}  // namespace
