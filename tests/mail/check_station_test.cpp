// The alert sequence: check_station with the stand-in mail library, on real
// files in a directory of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fake_bsmtp.h"
#include "quorvale_mon.h"
#include "watcher_state.h"

namespace {

const std::string kKnownA = "00:11:22:33:44:01";
const std::string kKnownB = "00:11:22:33:44:02";
const std::string kKnownC = "00:11:22:33:44:03";
const std::string kStranger = "AA:BB:CC:DD:EE:0F";

class CheckStationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        cwd_ = std::make_unique<WorkingDirectory>(dir_.path());
        ASSERT_TRUE(cwd_->ok());
        reset_watcher_state();
        fake_mail_library() = FakeMailLibrary{};
        set_settings("mail.example.test", "ops@example.test", "watcher@example.test",
                     "Unknown station");
    }
    void TearDown() override {
        fake_mail_library() = FakeMailLibrary{};
        cwd_.reset();
    }

    // Loads the list of registered stations the way start-up does.
    void load_list(const std::string& content) {
        ASSERT_TRUE(write_file(dir_.file(STATION_LIST_FILE), content));
        StreamCapture quiet;  // the loader reports its count on standard error
        ASSERT_GE(load_station_list(), 0);
    }

    std::string log_path() const { return dir_.file(ALERT_LOG_FILE); }

    std::vector<std::string> dir_entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    std::unique_ptr<WorkingDirectory> cwd_;
};

TEST_F(CheckStationTest, RegisteredStationDoesNothing) {
    load_list(kKnownA + "\r\n" + kKnownB + "\r\n" + kKnownC + "\r\n");
    ASSERT_EQ(station_count, 3);

    // First and last row in use; the alert log does not exist.
    for (const std::string& mac : {kKnownA, kKnownC}) {
        set_frame(mac, "10.0.0.1");
        StreamCapture streams;
        ASSERT_TRUE(streams.ok());
        check_station();
        streams.stop();
        EXPECT_EQ(streams.out(), "") << mac;
        EXPECT_EQ(streams.err(), "") << mac;
    }
    EXPECT_TRUE(fake_mail_library().calls.empty());
    EXPECT_EQ(dir_entries(), std::vector<std::string>{STATION_LIST_FILE});
    EXPECT_EQ(station_count, 3);
}

TEST_F(CheckStationTest, RegisteredStationLeavesAnExistingLogAlone) {
    load_list(kKnownA + "\r\n");
    const std::string old_log = "AA:BB:CC:DD:EE:01 10.0.0.9\r\nunterminated";
    ASSERT_TRUE(write_file(log_path(), old_log));

    set_frame(kKnownA, "10.0.0.1");
    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    check_station();
    streams.stop();

    EXPECT_EQ(streams.out(), "");
    EXPECT_EQ(streams.err(), "");
    EXPECT_TRUE(fake_mail_library().calls.empty());
    EXPECT_EQ(read_file(log_path()), old_log);
}

TEST_F(CheckStationTest, UnregisteredStationRaisesConsoleLineMailAndLogLineInOrder) {
    load_list(kKnownA + "\r\n");
    set_frame(kStranger, "192.168.1.77");

    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    std::string out_during_mail;
    bool log_existed_during_mail = true;
    fake_mail_library().during_call = [&] {
        out_during_mail = streams.out();
        log_existed_during_mail = file_exists(log_path());
    };
    check_station();
    streams.stop();

    EXPECT_EQ(out_during_mail, "Alert :AA:BB:CC:DD:EE:0F 192.168.1.77\n");
    EXPECT_FALSE(log_existed_during_mail);
    EXPECT_EQ(streams.out(), "Alert :AA:BB:CC:DD:EE:0F 192.168.1.77\nsend ok\n");
    EXPECT_EQ(streams.err(), "");
    EXPECT_EQ(read_file(log_path()), "AA:BB:CC:DD:EE:0F 192.168.1.77\r\n");

    const auto& calls = fake_mail_library().calls;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].texts[3], "Unknown station 192.168.1.77");
    EXPECT_EQ(calls[0].texts[4], "AA:BB:CC:DD:EE:0F 192.168.1.77");
    // Alert mode never changes the table.
    EXPECT_EQ(station_count, 1);
    EXPECT_EQ(station_table[1].mac, kKnownA);
}

TEST_F(CheckStationTest, FailedMailStillWritesTheLogLine) {
    set_frame(kStranger, "10.1.2.3");
    fake_mail_library().result = 0;
    fake_mail_library().error_text = "connection refused by mail.example.test";

    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    check_station();
    streams.stop();

    EXPECT_EQ(streams.out(),
              "Alert :AA:BB:CC:DD:EE:0F 10.1.2.3\n"
              "send error connection refused by mail.example.test\n");
    EXPECT_EQ(streams.err(), "");
    EXPECT_EQ(read_file(log_path()), "AA:BB:CC:DD:EE:0F 10.1.2.3\r\n");
}

TEST_F(CheckStationTest, TwoFramesInARowRaiseTwoCompleteAlerts) {
    set_frame(kStranger, "10.0.0.8");
    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    std::vector<std::string> log_during_mail;
    fake_mail_library().during_call = [&] {
        log_during_mail.push_back(file_exists(log_path()) ? read_file(log_path()) : "<none>");
    };
    check_station();
    check_station();
    streams.stop();

    EXPECT_EQ(streams.out(),
              "Alert :AA:BB:CC:DD:EE:0F 10.0.0.8\nsend ok\n"
              "Alert :AA:BB:CC:DD:EE:0F 10.0.0.8\nsend ok\n");
    EXPECT_EQ(streams.err(), "");
    // The first log line is written before the second mail goes out.
    EXPECT_EQ(log_during_mail,
              (std::vector<std::string>{"<none>", "AA:BB:CC:DD:EE:0F 10.0.0.8\r\n"}));
    EXPECT_EQ(read_file(log_path()),
              "AA:BB:CC:DD:EE:0F 10.0.0.8\r\nAA:BB:CC:DD:EE:0F 10.0.0.8\r\n");
    ASSERT_EQ(fake_mail_library().calls.size(), 2u);
    EXPECT_EQ(fake_mail_library().calls[0].texts, fake_mail_library().calls[1].texts);
}

TEST_F(CheckStationTest, LogIsCreatedByTheFirstAlertAndAppendedAfter) {
    set_frame(kStranger, "10.0.0.8");
    {
        StreamCapture quiet;
        check_station();
    }
    ASSERT_EQ(read_file(log_path()), "AA:BB:CC:DD:EE:0F 10.0.0.8\r\n");

    // A later run finds the log and adds at its end.
    reset_watcher_state();
    set_frame("AA:BB:CC:DD:EE:10", "10.0.0.9");
    {
        StreamCapture quiet;
        check_station();
    }
    EXPECT_EQ(read_file(log_path()),
              "AA:BB:CC:DD:EE:0F 10.0.0.8\r\nAA:BB:CC:DD:EE:10 10.0.0.9\r\n");
}

TEST_F(CheckStationTest, UnterminatedLastLogLineIsEndedFirst) {
    ASSERT_TRUE(write_file(log_path(), "AA:BB:CC:DD:EE:01 10.0.0.1\r\nAA:BB:CC:DD:EE:02 10.0.0.2"));
    set_frame(kStranger, "10.0.0.3");

    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    check_station();
    streams.stop();

    EXPECT_EQ(read_file(log_path()),
              "AA:BB:CC:DD:EE:01 10.0.0.1\r\nAA:BB:CC:DD:EE:02 10.0.0.2\r\n"
              "AA:BB:CC:DD:EE:0F 10.0.0.3\r\n");
    EXPECT_EQ(streams.err(), "");
}

TEST_F(CheckStationTest, LogThatCannotBeOpenedIsReportedAndTriedAgainNextTime) {
    ASSERT_EQ(mkdir(log_path().c_str(), 0755), 0);
    set_frame(kStranger, "10.0.0.4");

    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    check_station();
    const std::string out_first = streams.out();
    const std::string err_first = streams.err();

    ASSERT_EQ(rmdir(log_path().c_str()), 0);
    check_station();
    streams.stop();

    EXPECT_EQ(out_first, "Alert :AA:BB:CC:DD:EE:0F 10.0.0.4\nsend ok\n");
    EXPECT_EQ(err_first, std::string("Cannot open mac_alert.txt (") + strerror(EISDIR) +
                             "): alert AA:BB:CC:DD:EE:0F 10.0.0.4 not logged\n");
    EXPECT_EQ(fake_mail_library().calls.size(), 2u);
    EXPECT_EQ(streams.out(), out_first + out_first);
    EXPECT_EQ(streams.err(), err_first);
    EXPECT_EQ(read_file(log_path()), "AA:BB:CC:DD:EE:0F 10.0.0.4\r\n");
}

TEST_F(CheckStationTest, LogThatCannotBeWrittenIsReported) {
    // A full device: the log opens, the write fails.
    if (!file_exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
    ASSERT_EQ(symlink("/dev/full", log_path().c_str()), 0);
    set_frame(kStranger, "10.0.0.5");

    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    check_station();
    streams.stop();

    EXPECT_EQ(streams.out(), "Alert :AA:BB:CC:DD:EE:0F 10.0.0.5\nsend ok\n");
    EXPECT_EQ(streams.err(), std::string("Cannot write mac_alert.txt (") + strerror(ENOSPC) +
                                 "): alert AA:BB:CC:DD:EE:0F 10.0.0.5 not logged\n");
    EXPECT_EQ(fake_mail_library().calls.size(), 1u);
}

TEST_F(CheckStationTest, EachAlertCarriesTheIpTextOfItsOwnFrame) {
    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    for (const char* ip : {"10.0.0.7", "0.0.0.0", "255.255.255.255"}) {
        set_frame(kStranger, ip);
        check_station();
    }
    streams.stop();

    EXPECT_EQ(streams.out(),
              "Alert :AA:BB:CC:DD:EE:0F 10.0.0.7\nsend ok\n"
              "Alert :AA:BB:CC:DD:EE:0F 0.0.0.0\nsend ok\n"
              "Alert :AA:BB:CC:DD:EE:0F 255.255.255.255\nsend ok\n");
    EXPECT_EQ(read_file(log_path()),
              "AA:BB:CC:DD:EE:0F 10.0.0.7\r\nAA:BB:CC:DD:EE:0F 0.0.0.0\r\n"
              "AA:BB:CC:DD:EE:0F 255.255.255.255\r\n");
    const auto& calls = fake_mail_library().calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].texts[3], "Unknown station 0.0.0.0");
    EXPECT_EQ(calls[1].texts[4], "AA:BB:CC:DD:EE:0F 0.0.0.0");
    EXPECT_EQ(calls[2].texts[3], "Unknown station 255.255.255.255");
}

TEST_F(CheckStationTest, ListEntryThatDiffersInCaseIsNotARegistration) {
    load_list("aa:bb:cc:dd:ee:0f\r\n" + kKnownA + "\r\n");
    set_frame(kStranger, "10.0.0.6");

    StreamCapture streams;
    ASSERT_TRUE(streams.ok());
    check_station();
    streams.stop();

    EXPECT_EQ(streams.out(), "Alert :AA:BB:CC:DD:EE:0F 10.0.0.6\nsend ok\n");
    EXPECT_EQ(read_file(log_path()), "AA:BB:CC:DD:EE:0F 10.0.0.6\r\n");
    EXPECT_EQ(fake_mail_library().calls.size(), 1u);
}

}  // namespace
