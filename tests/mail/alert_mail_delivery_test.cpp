// send_alert_mail through the real mail library to a real SMTP server on
// loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "quorvale_mon.h"
#include "smtp_sink.h"
#include "watcher_state.h"

namespace {

using std::chrono::seconds;

// The Subject header's value, as the message carries it.
std::string subject_of(const std::string& message) {
    std::smatch m;
    static const std::regex subject("(?:^|\r\n)Subject: ([^\r\n]*)\r\n");
    std::string head = message.substr(0, message.find("\r\n\r\n") + 2);
    return std::regex_search(head, m, subject) ? m[1].str() : "<missing>";
}

// The text after the headers, without its final line end.
std::string body_of(const std::string& message) {
    size_t end = message.find("\r\n\r\n");
    if (end == std::string::npos) return "<no body>";
    std::string body = message.substr(end + 4);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    return body;
}

class AlertMailDeliveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_watcher_state();
        set_frame("0A:1B:2C:3D:4E:5F", "192.168.10.20");
    }

    std::string send() {
        StreamCapture streams;
        EXPECT_TRUE(streams.ok());
        EXPECT_EQ(send_alert_mail(), 0);
        streams.stop();
        EXPECT_EQ(streams.err(), "");
        return streams.out();
    }

    static std::string settings_snapshot() {
        return std::string(&settings_lines[0][0], sizeof settings_lines);
    }
};

TEST_F(AlertMailDeliveryTest, EveryAlertArrivesAsItsOwnMail) {
    SmtpSink sink;
    ASSERT_TRUE(sink.start("127.0.0.1")) << sink.error();
    set_settings("127.0.0.1:" + std::to_string(sink.port()), "ops@example.test; sec@example.test",
                 "watcher@example.test", "Unknown station at");
    const std::string before = settings_snapshot();

    EXPECT_EQ(send(), "send ok\n");
    EXPECT_EQ(send(), "send ok\n");

    EXPECT_EQ(settings_snapshot(), before);
    ASSERT_TRUE(sink.wait_for_mails(2, seconds(10)));
    std::vector<ReceivedMail> mails = sink.mails();
    ASSERT_EQ(mails.size(), 2u);
    for (const ReceivedMail& mail : mails) {
        EXPECT_EQ(mail.mail_from, "watcher@example.test");
        EXPECT_EQ(mail.recipients,
                  (std::vector<std::string>{"ops@example.test", "sec@example.test"}));
        EXPECT_EQ(subject_of(mail.message), "Unknown station at 192.168.10.20");
        EXPECT_EQ(body_of(mail.message), "0A:1B:2C:3D:4E:5F 192.168.10.20");
    }
}

TEST_F(AlertMailDeliveryTest, EmptySettingsPrintTheLibrarysErrorText) {
    const std::string before = settings_snapshot();
    std::string out = send();

    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, std::regex("send error ([^\n]+)\n"))) << out;
    EXPECT_LE(m[1].length(), 82);
    EXPECT_EQ(settings_snapshot(), before);
}

TEST_F(AlertMailDeliveryTest, RefusedRecipientPrintsTheServersReply) {
    SmtpSink sink;
    ASSERT_TRUE(sink.start("127.0.0.1")) << sink.error();
    set_settings("127.0.0.1:" + std::to_string(sink.port()), "reject-me@example.test",
                 "watcher@example.test", "Unknown station at");

    std::string out = send();

    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, std::regex("send error ([^\n]*550[^\n]*)\n"))) << out;
    EXPECT_LE(m[1].length(), 82);
    EXPECT_TRUE(sink.mails().empty());
}

}  // namespace
