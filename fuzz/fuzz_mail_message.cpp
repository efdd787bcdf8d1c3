// The mail library's BSendMail on any six texts: every check, conversion and
// the message it builds, up to the hand-over to libcurl. Delivery is replaced
// at link time by the stand-in below, which inspects the envelope and the
// message instead of sending them, so nothing goes to the network.
//
// Input: the six texts (server, recipients, sender, subject, body,
// attachments) separated by NUL bytes; missing ones are empty. Attachments are
// looked up in the private working directory, which holds two small files;
// inputs naming a path with a '/' are passed over, so that no other file on
// the machine is read.
#include <set>
#include <string>
#include <vector>

#include "bsmtp.h"
#include "delivery.h"
#include "fuzz_support.h"

namespace {

struct Delivery {
    bool called = false;
    bool result = false;
};
Delivery delivery;

bool has_line_break(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

bool is_path_text(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '<' || c == '>') return false;
    }
    return true;
}

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates
// or values past U+10FFFF.
bool is_utf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80                 ? 1
                     : c >= 0xC2 && c <= 0xDF ? 2
                     : c >= 0xE0 && c <= 0xEF ? 3
                     : c >= 0xF0 && c <= 0xF4 ? 4
                                              : 0;
        if (len == 0 || i + len > s.size()) return false;
        uint32_t value = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; k++) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            value = value << 6 | (d & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < least[len] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

// CR LF line ends only, lines of at most 998 octets, a header block of known
// header lines without control characters, each of the main ones exactly once.
void check_message(const std::string& m) {
    size_t line_start = 0;
    for (size_t i = 0; i < m.size(); i++) {
        if (m[i] == '\r') FUZZ_CHECK(i + 1 < m.size() && m[i + 1] == '\n');
        if (m[i] == '\n') {
            FUZZ_CHECK(i > 0 && m[i - 1] == '\r');
            FUZZ_CHECK(i - 1 - line_start <= 998);
            line_start = i + 1;
        }
    }
    FUZZ_CHECK(m.size() - line_start <= 998);
    FUZZ_CHECK(m.size() >= 2 && m.compare(m.size() - 2, 2, "\r\n") == 0);

    const size_t head_end = m.find("\r\n\r\n");
    FUZZ_CHECK(head_end != std::string::npos);
    const std::string head = m.substr(0, head_end + 2);
    for (char c : head) {
        const unsigned char u = static_cast<unsigned char>(c);
        FUZZ_CHECK(u >= 0x20 || c == '\r' || c == '\n' || c == '\t');
        FUZZ_CHECK(u != 0x7F);
    }

    const std::set<std::string> known = {
        "Date",       "From",         "To",           "Subject",
        "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};
    const std::set<std::string> once = {"Date", "From", "To", "Subject", "Message-ID"};
    std::multiset<std::string> seen;
    std::string current;
    for (size_t pos = 0; pos < head.size();) {
        size_t end = head.find("\r\n", pos);
        const std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line[0] == ' ' || line[0] == '\t') {
            FUZZ_CHECK(!current.empty());  // a folded line goes on from a header
            if (current == "From" || current == "To") {
                FUZZ_CHECK(is_utf8(line));
            } else {
                for (char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80);
            }
            continue;
        }
        const size_t colon = line.find(':');
        FUZZ_CHECK(colon != std::string::npos);
        const std::string name = line.substr(0, colon);
        FUZZ_CHECK(known.count(name) == 1);
        seen.insert(name);
        // Addresses may be international (UTF-8, as SMTPUTF8 carries them);
        // every other header, the subject included, is 7-bit.
        if (name == "From" || name == "To") {
            FUZZ_CHECK(is_utf8(line));
        } else {
            for (char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80);
        }
        current = name;
    }
    for (const auto& name : once) FUZZ_CHECK(seen.count(name) == 1);
}

}  // namespace

namespace bsmtp {

// Stands in for the libcurl delivery: checks what would go out, sends nothing.
bool deliver(const MailServer&, const std::string& sender,
             const std::vector<std::string>& recipients, const std::string& message,
             std::string& error) {
    FUZZ_CHECK(!delivery.called);
    delivery.called = true;
    FUZZ_CHECK(is_path_text(sender));
    FUZZ_CHECK(!recipients.empty());
    for (const auto& r : recipients) FUZZ_CHECK(is_path_text(r));
    check_message(message);
    // Both outcomes, so that the caller's handling of each is run too.
    delivery.result = message.size() % 2 == 0;
    if (!delivery.result) error = message.size() % 3 == 0 ? "" : "stand-in: not delivered";
    return delivery.result;
}

}  // namespace bsmtp

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    enter_private_directory(argc, argv);
    const uint8_t small[] = "quorvale\n";
    write_whole_file("a.txt", small, sizeof small - 1);
    const uint8_t binary[] = {0x00, 0xFF, 0x80, 0x0D, 0x0A, 0x1A};
    write_whole_file("b.bin", binary, sizeof binary);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> texts(6);
    size_t field = 0;
    for (size_t i = 0; i < size && field < texts.size(); i++) {
        if (data[i] == '\0') {
            field++;
        } else {
            texts[field] += static_cast<char>(data[i]);
        }
    }
    if (texts[5].find('/') != std::string::npos) return 0;

    delivery = Delivery{};
    char error[BSMTP_ERROR_TEXT_SIZE];
    memset(error, 0x55, sizeof error);
    std::vector<std::vector<char>> args;
    for (const auto& t : texts) args.emplace_back(t.c_str(), t.c_str() + t.size() + 1);
    const int sent = BSendMail(args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                               args[4].data(), args[5].data(), error);

    // The caller's texts are left as they were.
    for (size_t i = 0; i < texts.size(); i++) FUZZ_CHECK(texts[i] == args[i].data());
    FUZZ_CHECK((sent != 0) == (delivery.called && delivery.result));
    if (sent == 0) {
        // A NUL-terminated, printable error text of at most 82 characters.
        const size_t len = strnlen(error, sizeof error);
        FUZZ_CHECK(len > 0 && len < sizeof error);
        for (size_t i = 0; i < len; i++) {
            FUZZ_CHECK(static_cast<unsigned char>(error[i]) >= 0x20 &&
                       static_cast<unsigned char>(error[i]) < 0x7F);
        }
    }
    // A line break in the server, the addresses or the subject never gets out.
    for (size_t i = 0; i < 4; i++) {
        if (has_line_break(texts[i])) FUZZ_CHECK(!delivery.called);
    }
    return 0;
}
