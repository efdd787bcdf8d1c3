// Sends ARP frames on an interface with pcap_inject.
//
//   arp_send IFACE [--repeat N] FRAME...
//   arp_send IFACE [--repeat N] --file PATH      (one FRAME a line)
//   arp_send IFACE --flood FIRST_MAC COUNT [--repeat N] [FRAME... | --file PATH]
//
// FRAME is SRC_MAC,SENDER_IP followed by optional ",key=value" items:
//   op=request|reply|N   ARP operation (default request)
//   sha=MAC              ARP sender hardware address (default SRC_MAC)
//   len=N                send only the first N bytes of the 42-byte frame
// --repeat sends the whole list N times. Prints "sent N" on success.
//
// --flood sends COUNT stations with consecutive source addresses from
// FIRST_MAC on (sender IP 10.x.y.z, x.y.z the station's index from 0), as fast
// as it can: all COUNT in order, N rounds of them. The FRAMEs given besides are
// sent once each, spread evenly through the flood. Nothing of the flood is
// kept in a file or built in advance beyond one frame per station.
#include <errno.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Frame {
    unsigned char bytes[64];
    int len;
};

bool parse_mac(const std::string& text, unsigned char* out) {
    unsigned v[6];
    char tail;
    if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
               &tail) != 6) {
        return false;
    }
    for (int i = 0; i < 6; i++) {
        if (v[i] > 255) return false;
        out[i] = static_cast<unsigned char>(v[i]);
    }
    return true;
}

bool parse_ip(const std::string& text, unsigned char* out) {
    unsigned v[4];
    char tail;
    if (sscanf(text.c_str(), "%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4) return false;
    for (int i = 0; i < 4; i++) {
        if (v[i] > 255) return false;
        out[i] = static_cast<unsigned char>(v[i]);
    }
    return true;
}

bool build_frame(const std::string& frame_text, Frame* f) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t comma = frame_text.find(',', start);
        items.push_back(frame_text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (items.size() < 2) return false;

    unsigned char* b = f->bytes;
    memset(b, 0, sizeof f->bytes);
    f->len = 42;
    unsigned char src[6];
    if (!parse_mac(items[0], src)) return false;
    memset(b, 0xFF, 6);          // broadcast destination
    memcpy(b + 6, src, 6);       // Ethernet source
    b[12] = 0x08, b[13] = 0x06;  // ARP
    b[14] = 0x00, b[15] = 0x01;  // hardware type Ethernet
    b[16] = 0x08, b[17] = 0x00;  // protocol IPv4
    b[18] = 6, b[19] = 4;        // address lengths
    b[20] = 0x00, b[21] = 0x01;  // request
    memcpy(b + 22, src, 6);      // sender hardware address
    if (!parse_ip(items[1], b + 28)) return false;

    for (size_t i = 2; i < items.size(); i++) {
        const std::string& item = items[i];
        size_t eq = item.find('=');
        if (eq == std::string::npos) return false;
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        if (key == "op") {
            int op = value == "request" ? 1 : value == "reply" ? 2 : atoi(value.c_str());
            b[20] = static_cast<unsigned char>(op >> 8);
            b[21] = static_cast<unsigned char>(op);
        } else if (key == "sha") {
            if (!parse_mac(value, b + 22)) return false;
        } else if (key == "len") {
            f->len = atoi(value.c_str());
            if (f->len < 14 || f->len > 42) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Station `index` of a flood: FIRST_MAC + index, sender IP 10.x.y.z.
Frame flood_frame(const unsigned char* first, long index) {
    uint64_t mac = 0;
    for (int i = 0; i < 6; i++) mac = mac << 8 | first[i];
    mac += static_cast<uint64_t>(index);
    char frame_text[64];
    snprintf(frame_text, sizeof frame_text, "%02X:%02X:%02X:%02X:%02X:%02X,10.%ld.%ld.%ld",
             unsigned(mac >> 40 & 0xFF), unsigned(mac >> 32 & 0xFF), unsigned(mac >> 24 & 0xFF),
             unsigned(mac >> 16 & 0xFF), unsigned(mac >> 8 & 0xFF), unsigned(mac & 0xFF),
             index >> 16 & 0xFF, index >> 8 & 0xFF, index & 0xFF);
    Frame f;
    build_frame(frame_text, &f);
    return f;
}

// Sends the flood through a raw packet socket in batches of sendmmsg, which
// outruns one pcap_inject per frame. Returns the frames sent, or -1.
long send_flood(const char* iface, const unsigned char* first, long count, long repeat,
                const std::vector<Frame>& extras) {
    int fd = socket(AF_PACKET, SOCK_RAW, 0);  // protocol 0: sends, receives nothing
    if (fd < 0) {
        perror("socket");
        return -1;
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(if_nametoindex(iface));
    if (address.sll_ifindex == 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        perror(iface);
        close(fd);
        return -1;
    }
    std::vector<Frame> stations(static_cast<size_t>(count));
    for (long k = 0; k < count; k++) stations[static_cast<size_t>(k)] = flood_frame(first, k);

    // The order of frames: the flood, extra e after flood frame
    // (e + 1) * total / (extras + 1).
    const long total = count * repeat;
    const long extra_count = static_cast<long>(extras.size());
    long next_flood = 0, next_extra = 0;
    auto next_frame = [&]() -> const Frame* {
        if (next_extra < extra_count &&
            (next_flood == total || next_flood == (next_extra + 1) * total / (extra_count + 1))) {
            return &extras[static_cast<size_t>(next_extra++)];
        }
        if (next_flood < total) return &stations[static_cast<size_t>(next_flood++ % count)];
        return nullptr;
    };

    constexpr int BATCH = 64;
    mmsghdr messages[BATCH];
    iovec parts[BATCH];
    long sent = 0;
    for (;;) {
        int n = 0;
        for (const Frame* f; n < BATCH && (f = next_frame()) != nullptr; n++) {
            parts[n].iov_base = const_cast<unsigned char*>(f->bytes);
            parts[n].iov_len = static_cast<size_t>(f->len);
            messages[n] = mmsghdr{};
            messages[n].msg_hdr.msg_iov = &parts[n];
            messages[n].msg_hdr.msg_iovlen = 1;
        }
        if (n == 0) break;
        for (int done = 0; done < n;) {
            int r = sendmmsg(fd, messages + done, static_cast<unsigned>(n - done), 0);
            if (r < 0 && (errno == EINTR || errno == ENOBUFS || errno == EAGAIN)) {
                usleep(100);
                continue;
            }
            if (r < 0) {
                perror("sendmmsg");
                close(fd);
                return -1;
            }
            done += r;
        }
        sent += n;
    }
    close(fd);
    return sent;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr,
                "usage: arp_send IFACE [--repeat N] (--file PATH | FRAME...)\n"
                "       arp_send IFACE --flood FIRST_MAC COUNT [--repeat N] [--file PATH | "
                "FRAME...]\n");
        return 2;
    }
    const char* iface = argv[1];
    long repeat = 1;
    bool flood = false;
    unsigned char flood_first[6] = {};
    long flood_count = 0;
    std::vector<std::string> frame_texts;
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc) {
            repeat = atol(argv[++i]);
        } else if (arg == "--flood" && i + 2 < argc) {
            flood = true;
            flood_count = atol(argv[i + 2]);
            if (!parse_mac(argv[i + 1], flood_first) || flood_count < 1 || flood_count > 0xFFFFFF) {
                fprintf(stderr, "bad flood: %s %s\n", argv[i + 1], argv[i + 2]);
                return 2;
            }
            i += 2;
        } else if (arg == "--file" && i + 1 < argc) {
            std::ifstream in(argv[++i]);
            if (!in) {
                fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            for (std::string line; std::getline(in, line);) {
                if (!line.empty()) frame_texts.push_back(line);
            }
        } else {
            frame_texts.push_back(arg);
        }
    }

    std::vector<Frame> frames(frame_texts.size());
    for (size_t i = 0; i < frame_texts.size(); i++) {
        if (!build_frame(frame_texts[i], &frames[i])) {
            fprintf(stderr, "bad frame: %s\n", frame_texts[i].c_str());
            return 2;
        }
    }

    if (flood) {
        long sent = send_flood(iface, flood_first, flood_count, repeat, frames);
        if (sent < 0) return 1;
        printf("sent %ld\n", sent);
        return 0;
    }

    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_live(iface, 128, 0, 100, errbuf);
    if (p == nullptr) {
        fprintf(stderr, "pcap_open_live %s: %s\n", iface, errbuf);
        return 1;
    }
    long sent = 0;
    for (long r = 0; r < repeat; r++) {
        for (const Frame& f : frames) {
            if (pcap_inject(p, f.bytes, static_cast<size_t>(f.len)) != f.len) {
                fprintf(stderr, "pcap_inject: %s\n", pcap_geterr(p));
                pcap_close(p);
                return 1;
            }
            sent++;
        }
    }
    pcap_close(p);
    printf("sent %ld\n", sent);
    return 0;
}
