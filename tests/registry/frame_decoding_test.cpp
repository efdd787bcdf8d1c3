// Frames in, MAC text and IP text out.
#include <random>

#include "registry_fixture.h"

namespace {

using FrameDecodingTest = RegistryTest;

struct FrameCase {
    const char* name;
    std::vector<u_char> frame;
    size_t caplen;
    const char* mac;
    const char* ip;
};

const Mac kOtherHw = {0x02, 0x00, 0x00, 0x00, 0x00, 0x99};

// Run in order: each frame overwrites the texts of the one before, so a
// shorter text after a longer one shows both are rewritten in full.
TEST_F(FrameDecodingTest, DecodesEthernetSourceAndSenderProtocolAddress) {
    std::vector<u_char> odd = arp_frame({0x02, 0xAB, 0x00, 0x00, 0x00, 0x07}, {172, 16, 9, 200}, 7);
    odd[14] = 0x12, odd[15] = 0x34;  // hardware type, protocol type and lengths are not looked at
    odd[16] = 0x56, odd[17] = 0x78;
    odd[18] = 0, odd[19] = 0;
    const std::vector<FrameCase> cases = {
        {"leading zeros and upper case",
         arp_frame({0x00, 0x1B, 0x2C, 0x0D, 0x0E, 0x0F}, {10, 0, 0, 1}), 42, "00:1B:2C:0D:0E:0F",
         "10.0.0.1"},
        {"longest IP text", arp_frame({0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, {255, 255, 255, 255}),
         42, "AA:BB:CC:DD:EE:FF", "255.255.255.255"},
        {"ARP probe",
         arp_frame({0x02, 0x00, 0x5E, 0x10, 0x00, 0x01}, {0, 0, 0, 0}, ARP_REQUEST, nullptr,
                   {192, 168, 1, 7}),
         42, "02:00:5E:10:00:01", "0.0.0.0"},
        {"sender hardware address differs from the source",
         arp_frame({0x02, 0x00, 0x00, 0x00, 0x00, 0x01}, {192, 168, 1, 10}, ARP_REQUEST, &kOtherHw),
         42, "02:00:00:00:00:01", "192.168.1.10"},
        {"request",
         arp_frame({0x00, 0x50, 0x56, 0xC0, 0x00, 0x08}, {192, 168, 100, 1}, ARP_REQUEST), 42,
         "00:50:56:C0:00:08", "192.168.100.1"},
        {"reply of the same station",
         arp_frame({0x00, 0x50, 0x56, 0xC0, 0x00, 0x08}, {192, 168, 100, 1}, ARP_REPLY), 42,
         "00:50:56:C0:00:08", "192.168.100.1"},
        {"other operation and header fields", odd, 42, "02:AB:00:00:00:07", "172.16.9.200"},
        {"padded to the Ethernet minimum",
         [] {
             auto f = arp_frame({0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {1, 2, 3, 4});
             f.resize(60, 0);
             return f;
         }(),
         60, "00:00:00:00:00:00", "1.2.3.4"},
        {"32 bytes: just the sender protocol address",
         arp_frame({0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54}, {100, 99, 10, 9}), 32, "FE:DC:BA:98:76:54",
         "100.99.10.9"},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.name);
        deliver(c.frame, c.caplen);
        EXPECT_STREQ(current_mac, c.mac);
        EXPECT_STREQ(current_ip, c.ip);
    }
    EXPECT_EQ(station_count, 0);
    EXPECT_FALSE(file_exists(list_path()));
}

TEST_F(FrameDecodingTest, FrameShorterThan32BytesIsPassedOver) {
    deliver(arp_frame({0x00, 0x1B, 0x2C, 0x0D, 0x0E, 0x0F}, {10, 0, 0, 1}));
    ASSERT_STREQ(current_mac, "00:1B:2C:0D:0E:0F");

    const auto frame = arp_frame({0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, {255, 255, 255, 255});
    for (size_t caplen : {31, 20, 14, 0}) {
        SCOPED_TRACE(caplen);
        deliver(frame, caplen);
        EXPECT_STREQ(current_mac, "00:1B:2C:0D:0E:0F");
        EXPECT_STREQ(current_ip, "10.0.0.1");
    }

    // Nothing is done for it either: in learn mode it is not learned.
    run_mode = MODE_LEARN;
    Captured c = capture([&] { deliver(frame, 31); });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(station_count, 0);
    EXPECT_FALSE(file_exists(list_path()));
    EXPECT_STREQ(current_mac, "00:1B:2C:0D:0E:0F");

    // The same frame captured whole is learned.
    c = capture([&] { deliver(frame); });
    EXPECT_EQ(c.out, "(001)AA:BB:CC:DD:EE:FF 255.255.255.255\n");
}

// Both texts of the frame are rewritten before the mode's action runs.
TEST_F(FrameDecodingTest, ModeActionSeesTheFramesTexts) {
    run_mode = MODE_LEARN;
    Captured c = capture([] {
        deliver(arp_frame({0x00, 0x1B, 0x2C, 0x0D, 0x0E, 0x0F}, {255, 255, 255, 255}));
        deliver(arp_frame({0x00, 0x1B, 0x2C, 0x0D, 0x0E, 0x10}, {0, 0, 0, 0}));
    });
    EXPECT_EQ(c.out,
              "(001)00:1B:2C:0D:0E:0F 255.255.255.255\n"
              "(002)00:1B:2C:0D:0E:10 0.0.0.0\n");
}

// Output buffers are over-sized and pre-filled, so a write past the text's
// NUL shows up as a changed sentinel byte.
void expect_mac_text(const u_char* bytes) {
    char want[32];
    int len = snprintf(want, sizeof want, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1],
                       bytes[2], bytes[3], bytes[4], bytes[5]);
    char got[32];
    memset(got, 0x5A, sizeof got);
    format_mac_text(bytes, got);
    ASSERT_EQ(memcmp(got, want, static_cast<size_t>(len) + 1), 0) << want << " vs " << got;
    for (size_t i = static_cast<size_t>(len) + 1; i < sizeof got; i++) ASSERT_EQ(got[i], 0x5A);
}

void expect_ip_text(const u_char* bytes) {
    char want[32];
    int len = snprintf(want, sizeof want, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    char got[32];
    memset(got, 0x5A, sizeof got);
    format_ip_text(bytes, got);
    ASSERT_EQ(memcmp(got, want, static_cast<size_t>(len) + 1), 0) << want << " vs " << got;
    for (size_t i = static_cast<size_t>(len) + 1; i < sizeof got; i++) ASSERT_EQ(got[i], 0x5A);
}

TEST(TextFormatting, MacTextMatchesFormattedPrint) {
    const u_char backgrounds[] = {0x00, 0xFF, 0x0A, 0xA0};
    for (u_char background : backgrounds) {
        for (int pos = 0; pos < 6; pos++) {
            for (int value = 0; value < 256; value++) {
                u_char bytes[6];
                memset(bytes, background, sizeof bytes);
                bytes[pos] = static_cast<u_char>(value);
                ASSERT_NO_FATAL_FAILURE(expect_mac_text(bytes));
            }
        }
    }
    std::mt19937 rng(20240611);
    for (int i = 0; i < 100000; i++) {
        u_char bytes[6];
        for (u_char& b : bytes) b = static_cast<u_char>(rng());
        ASSERT_NO_FATAL_FAILURE(expect_mac_text(bytes));
    }
}

TEST(TextFormatting, IpTextMatchesFormattedPrint) {
    const u_char backgrounds[] = {0, 255, 9, 10, 99, 100};
    for (u_char background : backgrounds) {
        for (int pos = 0; pos < 4; pos++) {
            for (int value = 0; value < 256; value++) {
                u_char bytes[4];
                memset(bytes, background, sizeof bytes);
                bytes[pos] = static_cast<u_char>(value);
                ASSERT_NO_FATAL_FAILURE(expect_ip_text(bytes));
            }
        }
    }
    std::mt19937 rng(20240611);
    for (int i = 0; i < 100000; i++) {
        u_char bytes[4];
        for (u_char& b : bytes) b = static_cast<u_char>(rng());
        ASSERT_NO_FATAL_FAILURE(expect_ip_text(bytes));
    }
}

}  // namespace
