// Loading mac_list.txt into the station table at start.
#include "registry_fixture.h"

namespace {

using StationListTest = RegistryTest;

bool row_is_empty(int row) {
    static const station_entry empty{};
    return memcmp(&station_table[row], &empty, sizeof empty) == 0;
}

struct ListCase {
    const char* name;
    std::string file;
    std::vector<std::string> values;  // rows 1..n, in order
};

const std::string kMac1 = "00:1B:2C:0D:0E:0F";
const std::string kMac2 = "AA:BB:CC:DD:EE:FF";
const std::string kMac3 = "01:02:03:04:05:06";

TEST_F(StationListTest, LoadsEveryValueAsOneRow) {
    const std::vector<ListCase> cases = {
        {"CR LF line ends",
         kMac1 + "\r\n" + kMac2 + "\r\n" + kMac3 + "\r\n",
         {kMac1, kMac2, kMac3}},
        {"LF line ends", kMac1 + "\n" + kMac2 + "\n" + kMac3 + "\n", {kMac1, kMac2, kMac3}},
        {"last line without line end", kMac1 + "\r\n" + kMac2, {kMac1, kMac2}},
        {"blank line fills a row", kMac1 + "\r\n\r\n" + kMac2 + "\r\n", {kMac1, "", kMac2}},
        {"only a line end", "\r\n", {""}},
        {"duplicate lines are not merged", kMac1 + "\r\n" + kMac1 + "\r\n", {kMac1, kMac1}},
        {"lower case and other text kept as is",
         "aa:bb:cc:dd:ee:ff\r\nrouter\r\n",
         {"aa:bb:cc:dd:ee:ff", "router"}},
        {"bytes pass unchanged", "\x82\xa0\x83\x41\xff\r\n", {"\x82\xa0\x83\x41\xff"}},
        {"lone CR mid-line is dropped", "00:1B:2C\r:0D:0E:0F\r\n" + kMac2 + "\r\n", {kMac1, kMac2}},
        {"Ctrl-Z ends the file",
         kMac1 + "\r\n" + kMac2 + "\x1A\r\n" + kMac3 + "\r\n",
         {kMac1, kMac2}},
        {"Ctrl-Z first", "\x1A" + kMac1 + "\r\n", {}},
        {"empty file", "", {}},
        {"17 characters fit", kMac1 + "\r\n", {kMac1}},
        // Longer values fill and count a row but leave its mac empty.
        {"18 characters", kMac1 + "X\r\n" + kMac2 + "\r\n", {"", kMac2}},
        {"300-character line read in pieces",
         std::string(300, 'A') + "\r\n" + kMac2 + "\r\n",
         {"", "", "", kMac2}},
        {"second piece of a long line is a value of its own",
         std::string(127, 'x') + kMac1 + "\r\n",
         {"", kMac1}},
        {"127-character line: its line end is read on its own",
         std::string(127, 'y') + "\r\n" + kMac2 + "\r\n",
         {"", "", kMac2}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(write_file(list_path(), c.file));
        Captured r = reload();
        const int n = static_cast<int>(c.values.size());
        EXPECT_EQ(r.err, count_line(n));
        EXPECT_EQ(r.result, static_cast<int>(count_line(n).size()));
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(station_count, n);
        for (int row = 1; row <= n; row++) {
            EXPECT_STREQ(station_table[row].mac, c.values[row - 1].c_str()) << "row " << row;
            EXPECT_STREQ(station_table[row].ip, "none") << "row " << row;
        }
        EXPECT_TRUE(row_is_empty(0));
        EXPECT_TRUE(row_is_empty(n + 1));
    }
}

TEST_F(StationListTest, CountLineIsTheJapaneseTextInCodePage932) {
    ASSERT_TRUE(write_file(list_path(), kMac1 + "\r\n" + kMac2 + "\r\n"));
    Captured r = reload();
    const std::string want =
        "MAC\x83\x41\x83\x68\x83\x8c\x83\x58(2)"
        "\x82\xf0\x93\xc7\x82\xdd\x8d\x9e\x82\xdd\x82\xdc\x82\xb5\x82\xbd\n\n";
    EXPECT_EQ(r.err, want);
    EXPECT_EQ(r.result, static_cast<int>(want.size()));
}

TEST_F(StationListTest, MissingOrUnopenableFileIsSilent) {
    Captured r = reload();
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(station_count, 0);
    for (int row = 0; row < STATION_TABLE_ROWS; row++) ASSERT_TRUE(row_is_empty(row)) << row;

    ASSERT_EQ(mkdir(list_path().c_str(), 0755), 0);
    r = reload();
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(station_count, 0);
}

// An over-long value must not spill into the row's ip or the next row.
TEST_F(StationListTest, OverLongValueStaysInsideItsRow) {
    ASSERT_TRUE(write_file(
        list_path(), kMac1 + "-and-a-lot-more-text-" + std::string(60, 'Z') + "\r\n" + kMac2));
    Captured r = reload();
    EXPECT_EQ(r.err, count_line(2));
    ASSERT_EQ(station_count, 2);

    station_entry want_first{};
    strcpy(want_first.ip, "none");
    EXPECT_EQ(memcmp(&station_table[1], &want_first, sizeof want_first), 0);
    station_entry want_second{};
    strcpy(want_second.mac, kMac2.c_str());
    strcpy(want_second.ip, "none");
    EXPECT_EQ(memcmp(&station_table[2], &want_second, sizeof want_second), 0);
    EXPECT_TRUE(row_is_empty(3));
    // Its row registers no station, not even the MAC text it starts with.
    EXPECT_FALSE(station_known(kMac1.c_str()));
    EXPECT_TRUE(station_known(kMac2.c_str()));
}

std::string numbered_values(int count) {
    std::string file;
    char line[32];
    for (int i = 1; i <= count; i++) {
        snprintf(line, sizeof line, "V%04d\r\n", i);
        file += line;
    }
    return file;
}

TEST_F(StationListTest, ValuesBeyondTheLastRowAreNotLoaded) {
    ASSERT_TRUE(write_file(list_path(), numbered_values(4050)));
    Captured r = reload();
    EXPECT_EQ(r.err,
              "mac_list.txt holds more stations than the table's 4047 rows: the last 3 values "
              "were not loaded\n" +
                  count_line(4047));
    EXPECT_EQ(r.result, static_cast<int>(count_line(4047).size()));
    ASSERT_EQ(station_count, STATION_CAPACITY);
    EXPECT_STREQ(station_table[1].mac, "V0001");
    EXPECT_STREQ(station_table[4047].mac, "V4047");
    EXPECT_STREQ(station_table[4047].ip, "none");
    EXPECT_TRUE(row_is_empty(0));
    EXPECT_FALSE(station_known("V4048"));
}

TEST_F(StationListTest, ExactlyFullTableLoadsWithoutComplaint) {
    ASSERT_TRUE(write_file(list_path(), numbered_values(4047)));
    Captured r = reload();
    EXPECT_EQ(r.err, count_line(4047));
    EXPECT_EQ(station_count, 4047);
    EXPECT_STREQ(station_table[4047].mac, "V4047");
}

}  // namespace
