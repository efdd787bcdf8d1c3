// The station index must answer exactly as the plain scan over rows 0 to
// station_count that it replaced, whatever the table holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "in_process.h"
#include "quorvale_mon.h"

namespace {

// The search as it was before the index: every row from 0 up to station_count.
bool scan_known(const char* mac) {
    for (int row = 0; row <= station_count; row++) {
        if (strcmp(station_table[row].mac, mac) == 0) return true;
    }
    return false;
}

std::string mac_text(uint64_t v) {
    char text[32];
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(v >> 40 & 0xFF),
             unsigned(v >> 32 & 0xFF), unsigned(v >> 24 & 0xFF), unsigned(v >> 16 & 0xFF),
             unsigned(v >> 8 & 0xFF), unsigned(v & 0xFF));
    return text;
}

class StationIndexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_table();
        cwd_ = std::make_unique<WorkingDirectory>(work_.path());
        ASSERT_TRUE(cwd_->ok());
    }
    void TearDown() override { cwd_.reset(); }

    // As a fresh start leaves it; the index is not told.
    static void reset_table() {
        memset(station_table, 0, sizeof station_table);
        station_count = 0;
    }

    // Loads `lines` as the list file, each line ended with CR LF.
    void load(const std::vector<std::string>& lines) {
        std::string content;
        for (const auto& line : lines) content += line + "\r\n";
        ASSERT_TRUE(write_file(work_.file(STATION_LIST_FILE), content));
        StreamCapture quiet;  // thousands of lines would flood the test log
        load_station_list();
    }

    // Offers `mac` to learning as a frame from that station would.
    void learn(const std::string& mac) {
        ASSERT_EQ(mac.size(), 17u);
        memcpy(current_mac, mac.c_str(), MAC_TEXT_SIZE);
        strcpy(current_ip, "10.0.0.1");
        StreamCapture quiet;  // thousands of lines would flood the test log
        learn_station();
    }

    // Every probe gets the scan's answer; returns how many were known.
    int expect_same_as_scan(const std::vector<std::string>& probes) {
        int known = 0;
        for (const auto& probe : probes) {
            bool want = scan_known(probe.c_str());
            EXPECT_EQ(station_known(probe.c_str()), want) << "probe \"" << probe << "\"";
            known += want;
        }
        return known;
    }

    TempDir work_;
    std::unique_ptr<WorkingDirectory> cwd_;
};

// Texts that all start their search in the same slot as each other.
std::vector<std::string> texts_in_slot(unsigned slot, size_t count, std::mt19937_64& rng) {
    std::vector<std::string> found;
    while (found.size() < count) {
        std::string mac = mac_text(rng() & 0xFFFFFFFFFFFFull);
        if (station_index_home_slot(mac.c_str()) == slot) found.push_back(mac);
    }
    return found;
}

TEST_F(StationIndexTest, RandomTablesAnswerAsTheScan) {
    const unsigned seed = 20240517;
    std::mt19937_64 rng(seed);
    // Few vendor prefixes, so that many texts share their first half.
    const uint64_t vendors[] = {0x001A2B000000ull, 0x3C5A00000000ull, 0xF0DEF1000000ull,
                                0x000000000000ull};
    auto random_mac = [&] {
        return mac_text(vendors[rng() % 4] | (rng() & 0xFFFFFF) | ((rng() % 2) << 24));
    };
    const int sizes[] = {0, 1, 2, 17, 100, 1000, STATION_CAPACITY, STATION_CAPACITY + 300};

    for (int size : sizes) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(size) + " lines");
        reset_table();
        std::vector<std::string> lines;
        for (int i = 0; i < size; i++) {
            unsigned kind = rng() % 20;
            std::string mac = random_mac();
            if (kind == 0 && !lines.empty()) {
                lines.push_back(lines[rng() % lines.size()]);  // duplicate
            } else if (kind == 1) {
                lines.push_back("");  // blank
            } else if (kind == 2) {
                for (auto& c : mac) c = static_cast<char>(tolower(c));
                lines.push_back(mac);
            } else if (kind == 3) {
                lines.push_back(mac + random_mac());  // two stations fused
            } else if (kind == 4) {
                lines.push_back(mac + "X");  // one character too long
            } else if (kind == 5) {
                lines.push_back(mac.substr(0, 16));
            } else if (kind == 6) {
                lines.push_back("router");
            } else {
                lines.push_back(mac);
            }
        }
        load(lines);
        ASSERT_EQ(station_count, std::min(size, STATION_CAPACITY));

        std::vector<std::string> probes = {"", "router", "X"};
        for (const auto& line : lines) {
            probes.push_back(line);
            if (line.size() >= 17) probes.push_back(line.substr(0, 17));
            if (line.size() == 17) {
                std::string changed = line;
                changed[rng() % 17] ^= 0x01;
                probes.push_back(changed);
                probes.push_back(line + " ");
                probes.push_back(line.substr(0, 16));
            }
        }
        for (int i = 0; i < 2000; i++) probes.push_back(random_mac());
        int known = expect_same_as_scan(probes);
        if (size > 0) {
            EXPECT_GT(known, 0);
        }

        // Learning adds to what was loaded and the answers still agree.
        std::vector<std::string> learned;
        for (int i = 0; i < 50; i++) learned.push_back(random_mac());
        for (const auto& mac : learned) learn(mac);
        expect_same_as_scan(learned);
        expect_same_as_scan(probes);
    }
}

TEST_F(StationIndexTest, TextsStartingInOneSlotAreAllFound) {
    std::mt19937_64 rng(7);
    std::vector<std::string> crowd = texts_in_slot(1234, 40, rng);
    std::vector<std::string> outsider = texts_in_slot(1234, 1, rng);
    // The next slots are taken by texts of their own, so runs meet.
    std::vector<std::string> neighbours = texts_in_slot(1235, 5, rng);
    std::vector<std::string> rows(crowd.begin(), crowd.begin() + 20);
    rows.insert(rows.end(), neighbours.begin(), neighbours.end());
    rows.insert(rows.end(), crowd.begin() + 20, crowd.end());
    load(rows);
    ASSERT_EQ(station_count, 45);

    for (const auto& mac : rows) EXPECT_TRUE(station_known(mac.c_str())) << mac;
    EXPECT_FALSE(station_known(outsider[0].c_str()));
    EXPECT_EQ(expect_same_as_scan(rows), 45);
}

TEST_F(StationIndexTest, SearchWrapsFromTheLastSlotToTheFirst) {
    std::mt19937_64 rng(11);
    std::vector<std::string> last = texts_in_slot(8191, 6, rng);
    std::vector<std::string> first = texts_in_slot(0, 3, rng);
    std::vector<std::string> rows = last;
    rows.insert(rows.end(), first.begin(), first.end());
    load(rows);

    for (const auto& mac : rows) EXPECT_TRUE(station_known(mac.c_str())) << mac;
    EXPECT_FALSE(station_known(texts_in_slot(8191, 1, rng)[0].c_str()));
    EXPECT_FALSE(station_known(texts_in_slot(0, 1, rng)[0].c_str()));
}

TEST_F(StationIndexTest, DuplicateRowsFillTheWholeTable) {
    const std::string mac = "00:11:22:33:44:55";
    load(std::vector<std::string>(STATION_CAPACITY, mac));
    ASSERT_EQ(station_count, STATION_CAPACITY);

    EXPECT_TRUE(station_known(mac.c_str()));
    EXPECT_FALSE(station_known("00:11:22:33:44:56"));
    learn("00:11:22:33:44:56");  // the table is full: nothing is learned
    EXPECT_EQ(station_count, STATION_CAPACITY);
    EXPECT_FALSE(station_known("00:11:22:33:44:56"));
}

TEST_F(StationIndexTest, BlankShortAndOverLongRowsMatchOnlyAsTheScanSays) {
    load({"", "AA:BB:CC:DD:EE:FFAA:BB:CC:DD:EE:FF", std::string(200, 'A'), "aa:bb:cc:dd:ee:ff",
          "AA:BB:CC:DD:EE:F", "01:02:03:04:05:06"});
    // Row 0's empty text is always matched by the empty text.
    EXPECT_TRUE(station_known(""));
    EXPECT_FALSE(station_known("AA:BB:CC:DD:EE:FF"));
    EXPECT_TRUE(station_known("aa:bb:cc:dd:ee:ff"));
    EXPECT_TRUE(station_known("AA:BB:CC:DD:EE:F"));
    EXPECT_FALSE(station_known("AA:BB:CC:DD:EE:FFAA:BB:CC:DD:EE:FF"));
    EXPECT_FALSE(station_known(std::string(17, 'A').c_str()));
    EXPECT_TRUE(station_known("01:02:03:04:05:06"));

    // A mac field filled to its last byte runs on into ip, for the scan as for
    // the index: its text is longer than any MAC text.
    station_entry& row = station_table[++station_count];
    memcpy(row.mac, "01:02:03:04:05:07Z", MAC_TEXT_SIZE);
    strcpy(row.ip, "none");
    expect_same_as_scan({"01:02:03:04:05:07", "01:02:03:04:05:07Z", "01:02:03:04:05:07Znone"});
    EXPECT_FALSE(station_known("01:02:03:04:05:07"));
}

TEST_F(StationIndexTest, FullTableFindsEveryRowAndNothingElse) {
    std::mt19937_64 rng(3);
    std::set<std::string> unique;
    while (unique.size() < 2 * STATION_CAPACITY) unique.insert(mac_text(rng() & 0xFFFFFFFFFFFFull));
    std::vector<std::string> all(unique.begin(), unique.end());
    std::shuffle(all.begin(), all.end(), rng);
    std::vector<std::string> rows(all.begin(), all.begin() + STATION_CAPACITY);
    std::vector<std::string> others(all.begin() + STATION_CAPACITY, all.end());
    load(rows);
    ASSERT_EQ(station_count, STATION_CAPACITY);

    for (const auto& mac : rows) ASSERT_TRUE(station_known(mac.c_str())) << mac;
    for (const auto& mac : others) ASSERT_FALSE(station_known(mac.c_str())) << mac;
}

TEST_F(StationIndexTest, LearnedStationsAreFoundAtOnce) {
    std::mt19937_64 rng(5);
    std::vector<std::string> loaded, learned;
    for (int i = 0; i < 50; i++) loaded.push_back(mac_text(rng() & 0xFFFFFFFFFFFFull));
    load(loaded);
    for (int i = 0; i < 200; i++) {
        std::string mac = mac_text(rng() & 0xFFFFFFFFFFFFull);
        EXPECT_FALSE(station_known(mac.c_str()));
        learn(mac);
        EXPECT_TRUE(station_known(mac.c_str()));
        learned.push_back(mac);
    }
    EXPECT_EQ(station_count, 250);
    EXPECT_EQ(expect_same_as_scan(loaded), 50);
    EXPECT_EQ(expect_same_as_scan(learned), 200);
}

TEST_F(StationIndexTest, FollowsTheTableWhenItIsEmptiedAndRefilled) {
    const std::vector<std::string> first = {"00:00:00:00:00:01", "00:00:00:00:00:02",
                                            "00:00:00:00:00:03"};
    const std::vector<std::string> second = {"00:00:00:00:00:04", "00:00:00:00:00:05",
                                             "00:00:00:00:00:06"};
    load(first);
    EXPECT_TRUE(station_known(first[1].c_str()));

    // Emptied as a test or a fresh start does, then loaded again with as many rows.
    reset_table();
    EXPECT_FALSE(station_known(first[1].c_str()));
    load(second);
    EXPECT_EQ(expect_same_as_scan(first), 0);
    EXPECT_EQ(expect_same_as_scan(second), 3);

    // Emptied and refilled by the loader without a search in between.
    reset_table();
    load(first);
    EXPECT_EQ(expect_same_as_scan(first), 3);
    EXPECT_EQ(expect_same_as_scan(second), 0);

    // Rows written straight into the table with a new count are noticed.
    strcpy(station_table[4].mac, "00:00:00:00:00:07");
    station_count = 4;
    EXPECT_TRUE(station_known("00:00:00:00:00:07"));

    // A row rewritten in place, count unchanged: its old text is gone at once,
    // its new one is found after a rebuild.
    strcpy(station_table[2].mac, "00:00:00:00:00:08");
    EXPECT_FALSE(station_known(first[1].c_str()));
    station_index_rebuild();
    EXPECT_TRUE(station_known("00:00:00:00:00:08"));
    EXPECT_EQ(expect_same_as_scan({first[0], first[1], first[2], "00:00:00:00:00:08"}), 3);
}

TEST_F(StationIndexTest, RowZeroAndCountsOutsideTheTableAsTheScan) {
    load({"00:00:00:00:00:01"});
    strcpy(station_table[0].mac, "00:00:00:00:00:09");  // never done by the program
    EXPECT_TRUE(station_known("00:00:00:00:00:09"));

    station_count = -1;  // the scan then looks at no row at all
    EXPECT_FALSE(station_known("00:00:00:00:00:09"));
    EXPECT_FALSE(station_known(""));
    station_count = 1;
    EXPECT_TRUE(station_known("00:00:00:00:00:01"));
}

}  // namespace
