// Learn mode end to end: the built watcher capturing real ARP frames on one end
// of a veth pair in a throwaway namespace, frames sent on the other end.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "segment.h"

namespace {

using std::chrono::seconds;

const std::string kLoaded1 = "02:00:00:00:00:01";
const std::string kLoaded2 = "02:00:00:00:00:02";
const std::string kA = "00:1B:2C:0D:0E:0F";
const std::string kB = "AA:BB:CC:DD:EE:FF";
const std::string kC = "02:00:5E:00:0A:03";
const std::string kD = "02:00:5E:00:0A:04";
const std::string kE = "02:00:5E:00:0A:05";

// "MACアドレス(%d)を読み込みました" and an empty line, in code page 932.
std::string count_line(int count) {
    return "MAC\x83\x41\x83\x68\x83\x8c\x83\x58(" + std::to_string(count) +
           ")\x82\xf0\x93\xc7\x82\xdd\x8d\x9e\x82\xdd\x82\xdc\x82\xb5\x82\xbd\n\n";
}
const std::string kCountStart = "MAC\x83\x41\x83\x68\x83\x8c\x83\x58(";

class LearnEndToEndTest : public SegmentTest {
  protected:
    std::string list_path() const { return dir_.file("mac_list.txt"); }

    void start_watcher(BackgroundProcess& watcher) { SegmentTest::start_watcher(watcher, "-m"); }

    // Waits until standard output holds `expected` (the list line of a
    // station is written before its console line), then ends the watcher as
    // the operator does. Whatever it printed must all have come through.
    ProcessResult stop_after(BackgroundProcess& watcher, const std::string& expected, int sig) {
        bool seen = watcher.wait_for_stdout(expected, seconds(30));
        ProcessResult r = watcher.stop(sig, seconds(10));
        EXPECT_TRUE(seen) << "standard output:\n" << r.out << "standard error:\n" << r.err;
        EXPECT_EQ(r.signal, sig);
        EXPECT_EQ(r.out, expected);
        return r;
    }
};

TEST_F(LearnEndToEndTest, LearnsNewStationsAndTheNextRunGoesOnFromThem) {
    const std::string loaded = kLoaded1 + "\r\n" + kLoaded2 + "\r\n";
    ASSERT_TRUE(write_file(list_path(), loaded));

    {
        BackgroundProcess watcher;
        ASSERT_NO_FATAL_FAILURE(start_watcher(watcher));
        send_frames({kLoaded1 + ",10.9.0.1", kA + ",10.0.0.1", kB + ",255.255.255.255",
                     kA + ",10.0.0.77,op=reply", kLoaded2 + ",10.9.0.2,op=reply", kC + ",0.0.0.0"});
        ProcessResult r = stop_after(watcher,
                                     "(003)" + kA + " 10.0.0.1\n" + "(004)" + kB +
                                         " 255.255.255.255\n" + "(005)" + kC + " 0.0.0.0\n",
                                     SIGTERM);
        // The count comes after the banner and before the adapter list.
        size_t count_at = r.err.find(count_line(2));
        ASSERT_NE(count_at, std::string::npos) << r.err;
        EXPECT_LT(count_at, r.err.find("1. "));
        EXPECT_EQ(r.err.find(kCountStart, count_at + 1), std::string::npos);
    }
    const std::string first_run = loaded + kA + "\r\n" + kB + "\r\n" + kC + "\r\n";
    EXPECT_EQ(read_file(list_path()), first_run);

    // The next start loads all five and learns only the two it has not seen.
    BackgroundProcess watcher;
    ASSERT_NO_FATAL_FAILURE(start_watcher(watcher));
    send_frames({kA + ",10.0.0.2", kB + ",10.0.0.3,op=reply", kD + ",192.168.10.4",
                 kLoaded1 + ",10.9.0.1", kC + ",10.0.0.5", kE + ",172.16.0.5,op=reply"});
    ProcessResult r = stop_after(
        watcher, "(006)" + kD + " 192.168.10.4\n" + "(007)" + kE + " 172.16.0.5\n", SIGINT);
    EXPECT_NE(r.err.find(count_line(5)), std::string::npos) << r.err;
    EXPECT_EQ(read_file(list_path()), first_run + kD + "\r\n" + kE + "\r\n");
}

TEST_F(LearnEndToEndTest, ShortFramesArePassedOverAndTheSourceAddressCounts) {
    // Without a list file: no count line, and numbering starts at 1.
    BackgroundProcess watcher;
    ASSERT_NO_FATAL_FAILURE(start_watcher(watcher));
    // kA's cut frames would have made it (001); kB's sender hardware address
    // is kC's, which stays new.
    send_frames({kA + ",10.0.0.1,len=20", kA + ",10.0.0.1,len=31", kB + ",10.0.0.2,sha=" + kC,
                 kC + ",10.0.0.3", kA + ",10.0.0.1"});
    ProcessResult r = stop_after(
        watcher,
        "(001)" + kB + " 10.0.0.2\n" + "(002)" + kC + " 10.0.0.3\n" + "(003)" + kA + " 10.0.0.1\n",
        SIGTERM);
    EXPECT_EQ(r.err.find(kCountStart), std::string::npos) << r.err;
    EXPECT_EQ(read_file(list_path()), kB + "\r\n" + kC + "\r\n" + kA + "\r\n");
}

}  // namespace
