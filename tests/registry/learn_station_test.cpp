// Learn mode: new stations numbered, shown and appended to mac_list.txt.
#include "registry_fixture.h"

namespace {

class LearnStationTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        run_mode = MODE_LEARN;
    }

    // One ARP frame of the station heard, as the capture loop hands it over.
    Captured hear(const Mac& mac, const Ip& ip, u_short op = ARP_REQUEST) {
        return capture([&] { deliver(arp_frame(mac, ip, op)); });
    }

    std::string list() const { return read_file(list_path()); }
};

const Mac kA = {0x00, 0x1B, 0x2C, 0x0D, 0x0E, 0x0F};
const Mac kB = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const Mac kC = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x01};
const Mac kD = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x02};
const std::string A = mac_text(kA), B = mac_text(kB), C = mac_text(kC), D = mac_text(kD);

// Distinct MAC texts, one CR LF line each, as learning writes them.
std::string mac_lines(int count) {
    std::string file;
    for (int i = 1; i <= count; i++) {
        file += mac_text(
                    {0x02, 0x00, 0x00, 0x00, static_cast<u_char>(i >> 8), static_cast<u_char>(i)}) +
                "\r\n";
    }
    return file;
}

TEST_F(LearnStationTest, FirstStationCreatesTheListFile) {
    ASSERT_FALSE(file_exists(list_path()));
    Captured r = hear(kA, {10, 0, 0, 1});
    EXPECT_EQ(r.out, "(001)00:1B:2C:0D:0E:0F 10.0.0.1\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list(), "00:1B:2C:0D:0E:0F\r\n");
    ASSERT_EQ(station_count, 1);
    EXPECT_STREQ(station_table[1].mac, A.c_str());
    EXPECT_STREQ(station_table[1].ip, "");  // the IP text is shown, not kept

    // Heard again, under another address and as a reply: nothing.
    r = hear(kA, {192, 168, 0, 99}, ARP_REPLY);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    r = hear(kB, {255, 255, 255, 255});
    EXPECT_EQ(r.out, "(002)AA:BB:CC:DD:EE:FF 255.255.255.255\n");
    EXPECT_EQ(list(), "00:1B:2C:0D:0E:0F\r\nAA:BB:CC:DD:EE:FF\r\n");
    EXPECT_EQ(station_count, 2);

    // The next start loads what was learned.
    Captured loaded = reload();
    EXPECT_EQ(loaded.err, count_line(2));
    EXPECT_STREQ(station_table[1].mac, A.c_str());
    EXPECT_STREQ(station_table[2].mac, B.c_str());
}

TEST_F(LearnStationTest, NumberingContinuesAfterLoadedStations) {
    const struct {
        int loaded;
        const char* line;
    } cases[] = {
        {41, "(042)02:00:5E:00:00:01 10.1.2.3\n"},
        {999, "(1000)02:00:5E:00:00:01 10.1.2.3\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loaded);
        const std::string before = mac_lines(c.loaded);
        ASSERT_TRUE(write_file(list_path(), before));
        ASSERT_EQ(reload().err, count_line(c.loaded));
        Captured r = hear(kC, {10, 1, 2, 3});
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(list(), before + C + "\r\n");
        EXPECT_EQ(station_count, c.loaded + 1);
        EXPECT_STREQ(station_table[c.loaded + 1].mac, C.c_str());
    }
}

TEST_F(LearnStationTest, KnownStationPrintsAndWritesNothing) {
    const std::string before = A + "\n" + B + "\n";  // as a Unix editor saves it
    ASSERT_TRUE(write_file(list_path(), before));
    reload();
    for (const Ip& ip : {Ip{10, 0, 0, 1}, Ip{0, 0, 0, 0}, Ip{172, 16, 0, 5}}) {
        Captured r = hear(kB, ip);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(list(), before);
    EXPECT_EQ(station_count, 2);
    EXPECT_TRUE(station_table[3].mac[0] == '\0');

    // A line ended with LF alone gets no extra line end before the new one.
    EXPECT_EQ(hear(kC, {10, 0, 0, 3}).out, "(003)" + C + " 10.0.0.3\n");
    EXPECT_EQ(list(), before + C + "\r\n");
}

// Without this, the next line would be glued onto the last one and the next
// start would load neither station.
TEST_F(LearnStationTest, UnterminatedLastLineIsEndedBeforeAppending) {
    ASSERT_TRUE(write_file(list_path(), A + "\r\n" + B));
    reload();
    EXPECT_EQ(hear(kC, {10, 0, 0, 3}).out, "(003)" + C + " 10.0.0.3\n");
    EXPECT_EQ(hear(kD, {10, 0, 0, 4}).out, "(004)" + D + " 10.0.0.4\n");
    EXPECT_EQ(list(), A + "\r\n" + B + "\r\n" + C + "\r\n" + D + "\r\n");

    Captured loaded = reload();
    EXPECT_EQ(loaded.err, count_line(4));
    EXPECT_STREQ(station_table[2].mac, B.c_str());
    EXPECT_STREQ(station_table[3].mac, C.c_str());
    EXPECT_STREQ(station_table[4].mac, D.c_str());
}

// An old editor's Ctrl-Z at the end would hide every line appended after it
// from the next start.
TEST_F(LearnStationTest, TrailingCtrlZIsCutBeforeAppending) {
    struct Case {
        std::string list;
        std::string after;
        int reloaded;
    };
    const Case cases[] = {
        {A + "\r\n\x1A", A + "\r\n" + C + "\r\n", 2},
        {A + "\r\n\x1A\x1A", A + "\r\n" + C + "\r\n", 2},
        {A + "\x1A", A + "\r\n" + C + "\r\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.list));
        std::remove(list_path().c_str());
        ASSERT_TRUE(write_file(list_path(), c.list));
        reload();
        EXPECT_EQ(hear(kC, {10, 0, 0, 3}).out, "(002)" + C + " 10.0.0.3\n");
        EXPECT_EQ(list(), c.after);
        EXPECT_EQ(reload().err, count_line(c.reloaded));
    }
}

TEST_F(LearnStationTest, ListFileThatCannotBeOpenedLearnsNothing) {
    // Root ignores permission bits; a directory cannot be opened for appending.
    ASSERT_EQ(mkdir(list_path().c_str(), 0755), 0);
    memcpy(current_mac, A.c_str(), MAC_TEXT_SIZE);
    strcpy(current_ip, "10.0.0.1");
    Captured direct = capture([] { return learn_station(); });
    EXPECT_EQ(direct.result, -1);
    EXPECT_EQ(direct.out, "");
    EXPECT_EQ(direct.err, "");

    for (const Mac& m : {kA, kB, kA}) {
        Captured r = hear(m, {10, 0, 0, 1});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(station_count, 0);
    EXPECT_TRUE(station_table[1].mac[0] == '\0');

    // Still new to the program: learned once the file can be opened.
    ASSERT_EQ(rmdir(list_path().c_str()), 0);
    EXPECT_EQ(hear(kB, {10, 0, 0, 2}).out, "(001)" + B + " 10.0.0.2\n");
    EXPECT_EQ(list(), B + "\r\n");
}

TEST_F(LearnStationTest, KnownStationRecreatesDeletedListEmpty) {
    ASSERT_TRUE(write_file(list_path(), A + "\r\n"));
    reload();
    ASSERT_EQ(unlink(list_path().c_str()), 0);
    Captured r = hear(kA, {10, 0, 0, 1});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(file_exists(list_path()));
    EXPECT_EQ(list(), "");
    EXPECT_EQ(station_count, 1);

    EXPECT_EQ(hear(kB, {10, 0, 0, 2}).out, "(002)" + B + " 10.0.0.2\n");
    EXPECT_EQ(list(), B + "\r\n");
}

TEST_F(LearnStationTest, MatchingIsCaseSensitive) {
    ASSERT_TRUE(write_file(list_path(), "00:1b:2c:0d:0e:0f\r\n"));
    reload();
    EXPECT_EQ(hear(kA, {10, 0, 0, 1}).out, "(002)00:1B:2C:0D:0E:0F 10.0.0.1\n");
    EXPECT_EQ(list(), "00:1b:2c:0d:0e:0f\r\n00:1B:2C:0D:0E:0F\r\n");
    EXPECT_EQ(station_count, 2);
}

// The full-table notice is given once per run, so each run is a fresh child.
TEST_F(LearnStationTest, FullTableLearnsNothingMoreAndSaysSoOnce) {
    const std::string before = mac_lines(4046) + A + "\r\n";  // 4047 rows with A
    ASSERT_TRUE(write_file(list_path(), mac_lines(4046)));
    ASSERT_EQ(reload().err, count_line(4046));
    EXPECT_EXIT(
        {
            ChildChecks check;
            Captured last = hear(kA, {10, 0, 0, 1});
            check.equal("row 4047 stdout", last.out, "(4047)" + A + " 10.0.0.1\n");
            check.equal("row 4047 stderr", last.err, std::string());
            Captured first_refused = hear(kB, {10, 0, 0, 2});
            Captured second_refused = hear(kC, {10, 0, 0, 3});
            Captured again = hear(kB, {10, 0, 0, 2});
            Captured known = hear(kA, {10, 0, 0, 9});
            check.equal("refused stdout",
                        first_refused.out + second_refused.out + again.out + known.out,
                        std::string());
            check.equal("first refusal stderr", first_refused.err,
                        std::string("The station table is full (4047 stations): ") + B +
                            " and every later new station are not learned\n");
            check.equal("later stderr", second_refused.err + again.err + known.err, std::string());
            check.equal("station_count", station_count, 4047);
            check.equal("list file", list(), before);
            check.finish();
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LearnStationTest, FailedWriteLearnsNothingUntilWritingWorks) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "/dev/full is needed to make writes fail";
    ASSERT_TRUE(write_file(list_path(), D + "\r\n"));
    reload();
    ASSERT_EQ(unlink(list_path().c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", list_path().c_str()), 0);
    EXPECT_EXIT(
        {
            ChildChecks check;
            Captured first = hear(kA, {10, 0, 0, 1});
            Captured second = hear(kB, {10, 0, 0, 2});
            Captured known = hear(kD, {10, 0, 0, 4});
            check.equal("stdout while failing", first.out + second.out + known.out, std::string());
            check.equal("first failure stderr", first.err,
                        std::string("Cannot write mac_list.txt (") + strerror(ENOSPC) + "): " + A +
                            " is not learned yet\n");
            check.equal("later stderr", second.err + known.err, std::string());
            check.equal("station_count while failing", station_count, 1);

            unlink(list_path().c_str());
            Captured b = hear(kB, {10, 0, 0, 2});
            Captured a = hear(kA, {10, 0, 0, 1});
            check.equal("stdout once writable", b.out + a.out,
                        "(002)" + B + " 10.0.0.2\n(003)" + A + " 10.0.0.1\n");
            check.equal("stderr once writable", b.err + a.err, std::string());
            check.equal("list file", list(), B + "\r\n" + A + "\r\n");
            check.finish();
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
