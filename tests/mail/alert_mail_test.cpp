// send_alert_mail with the stand-in mail library: the seven texts it hands
// over and the outcome line it prints.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "bsmtp.h"
#include "fake_bsmtp.h"
#include "quorvale_mon.h"
#include "watcher_state.h"

namespace {

const char* const kMac = "0A:1B:2C:3D:4E:5F";

// Fills the stack below the caller with non-zero bytes, so that a buffer the
// next call leaves uninitialised holds garbage rather than chance zeros.
__attribute__((noinline)) void paint_stack() {
    volatile char area[16384];
    for (size_t i = 0; i < sizeof area; i++) area[i] = 'G';
}

class AlertMailTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_watcher_state();
        fake_mail_library() = FakeMailLibrary{};
        set_settings("mail.example.test:2525", "ops@example.test, sec@example.test",
                     "watcher@example.test", "Unknown station at");
        set_frame(kMac, "192.168.10.20");
    }
    void TearDown() override { fake_mail_library() = FakeMailLibrary{}; }

    // Runs send_alert_mail and returns what it printed on standard output;
    // standard error must stay empty.
    std::string send() {
        StreamCapture streams;
        EXPECT_TRUE(streams.ok());
        paint_stack();
        int result = send_alert_mail();
        streams.stop();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(streams.err(), "");
        return streams.out();
    }

    static std::string settings_snapshot() {
        return std::string(&settings_lines[0][0], sizeof settings_lines);
    }
};

TEST_F(AlertMailTest, HandsOverTheSevenTexts) {
    EXPECT_EQ(send(), "send ok\n");

    const auto& calls = fake_mail_library().calls;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].texts[0], "mail.example.test:2525");
    EXPECT_EQ(calls[0].texts[1], "ops@example.test, sec@example.test");
    EXPECT_EQ(calls[0].texts[2], "watcher@example.test");
    EXPECT_EQ(calls[0].texts[3], "Unknown station at 192.168.10.20");
    EXPECT_EQ(calls[0].texts[4], "0A:1B:2C:3D:4E:5F 192.168.10.20");
    EXPECT_EQ(calls[0].texts[5], "");
    EXPECT_TRUE(calls[0].error_text_cleared);
}

class AlertMailResultTest : public AlertMailTest, public ::testing::WithParamInterface<int> {};

TEST_P(AlertMailResultTest, AnyNonzeroResultCountsAsSent) {
    fake_mail_library().result = GetParam();
    // A text left in the buffer must not matter when the mail went out.
    fake_mail_library().error_text = "not to be printed";
    EXPECT_EQ(send(), "send ok\n");
    EXPECT_EQ(fake_mail_library().calls.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Results, AlertMailResultTest,
                         ::testing::Values(1, 2, -1, INT_MAX, INT_MIN));

TEST_F(AlertMailTest, FailurePrintsTheLibrarysErrorText) {
    fake_mail_library().result = 0;
    fake_mail_library().error_text = "550 recipient rejected";
    EXPECT_EQ(send(), "send error 550 recipient rejected\n");
}

TEST_F(AlertMailTest, LongestErrorTextIsPrintedWhole) {
    const std::string text(BSMTP_ERROR_TEXT_SIZE - 1, 'e');
    fake_mail_library().result = 0;
    fake_mail_library().error_text = text;
    EXPECT_EQ(send(), "send error " + text + "\n");
}

TEST_F(AlertMailTest, FailureWithoutTextPrintsAnEmptyErrorText) {
    fake_mail_library().result = 0;
    fake_mail_library().write_error = false;
    EXPECT_EQ(send(), "send error \n");

    ASSERT_EQ(fake_mail_library().calls.size(), 1u);
    EXPECT_TRUE(fake_mail_library().calls[0].error_text_cleared);
}

TEST_F(AlertMailTest, SettingsSurviveALibraryThatScribblesOnItsArguments) {
    const std::string before = settings_snapshot();
    fake_mail_library().scribble = true;
    for (int result : {1, 0, 7}) {
        fake_mail_library().result = result;
        send();
    }
    EXPECT_EQ(settings_snapshot(), before);
    EXPECT_STREQ(settings_lines[3], "Unknown station at");

    // Every call got the untouched texts, never the scribbled ones.
    const auto& calls = fake_mail_library().calls;
    ASSERT_EQ(calls.size(), 3u);
    for (const MailCall& call : calls) {
        EXPECT_EQ(call.texts[0], "mail.example.test:2525");
        EXPECT_EQ(call.texts[3], "Unknown station at 192.168.10.20");
        EXPECT_EQ(call.texts[4], "0A:1B:2C:3D:4E:5F 192.168.10.20");
    }
}

TEST_F(AlertMailTest, EmptySettingsStillMakeTheCall) {
    reset_watcher_state();
    set_frame(kMac, "10.0.0.5");
    fake_mail_library().result = 0;
    fake_mail_library().error_text = "no mail server";

    EXPECT_EQ(send(), "send error no mail server\n");

    const auto& calls = fake_mail_library().calls;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].texts[0], "");
    EXPECT_EQ(calls[0].texts[1], "");
    EXPECT_EQ(calls[0].texts[2], "");
    EXPECT_EQ(calls[0].texts[3], " 10.0.0.5");
    EXPECT_EQ(calls[0].texts[4], "0A:1B:2C:3D:4E:5F 10.0.0.5");
    EXPECT_EQ(calls[0].texts[5], "");
}

TEST_F(AlertMailTest, TwoAlertsForTheSameStationMakeTwoEqualCalls) {
    fake_mail_library().scribble = true;
    EXPECT_EQ(send(), "send ok\n");
    EXPECT_EQ(send(), "send ok\n");

    const auto& calls = fake_mail_library().calls;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].texts, calls[1].texts);
    EXPECT_EQ(calls[1].texts[3], "Unknown station at 192.168.10.20");
}

struct SubjectCase {
    size_t line_len;
    const char* ip;
    size_t kept;  // characters of the fourth line that stay in the subject
};

void PrintTo(const SubjectCase& c, std::ostream* os) {
    *os << "line" << c.line_len << "_ip" << c.ip;
}

class AlertMailSubjectTest : public AlertMailTest,
                             public ::testing::WithParamInterface<SubjectCase> {};

TEST_P(AlertMailSubjectTest, FourthTextStaysWithin127CharactersWithTheIpWhole) {
    const SubjectCase& c = GetParam();
    // A recognisable line: its cut point shows in the text.
    std::string line;
    for (size_t i = 0; i < c.line_len; i++) line += static_cast<char>('A' + i % 26);
    set_settings("srv", "to", "from", line);
    set_frame(kMac, c.ip);

    EXPECT_EQ(send(), "send ok\n");
    ASSERT_EQ(fake_mail_library().calls.size(), 1u);
    const std::string& subject = fake_mail_library().calls[0].texts[3];
    EXPECT_EQ(subject, line.substr(0, c.kept) + " " + c.ip);
    EXPECT_LE(subject.size(), 127u);
    EXPECT_EQ(settings_lines[3], line);
}

INSTANTIATE_TEST_SUITE_P(Lengths, AlertMailSubjectTest,
                         ::testing::Values(SubjectCase{111, "255.255.255.255", 111},
                                           SubjectCase{112, "255.255.255.255", 111},
                                           SubjectCase{127, "255.255.255.255", 111},
                                           SubjectCase{119, "1.2.3.4", 119},
                                           SubjectCase{120, "1.2.3.4", 119},
                                           SubjectCase{127, "1.2.3.4", 119},
                                           SubjectCase{127, "10.20.30.40", 115}));

}  // namespace
