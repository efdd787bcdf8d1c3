#include "text_codec.h"

#include <iconv.h>

#include <cerrno>

namespace bsmtp {

namespace {

// Length of the UTF-8 sequence that starts at `i`, or 0 when it is not a
// well-formed one (overlong forms, surrogates and values past U+10FFFF too).
size_t utf8_sequence_length(const std::string& s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; k++) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return len;
}

std::string cp932_to_utf8(const std::string& text) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // Without the converter, keep ASCII and mark everything else.
        std::string out;
        for (char c : text) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
        return out;
    }
    std::string out;
    std::string in_copy = text;
    char* in = in_copy.data();
    size_t in_left = in_copy.size();
    char buf[1024];
    while (in_left > 0) {
        char* o = buf;
        size_t o_left = sizeof buf;
        size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buf, sizeof buf - o_left);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or a cut-off sequence at the end: mark one byte, go on.
            out += '?';
            in++;
            in_left--;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* o = buf;
    size_t o_left = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &o_left);
    out.append(buf, sizeof buf - o_left);
    iconv_close(cd);
    return out;
}

}  // namespace

bool is_valid_utf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        size_t len = utf8_sequence_length(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string to_utf8(const std::string& text) {
    return is_valid_utf8(text) ? text : cp932_to_utf8(text);
}

std::string base64(const std::string& data, size_t line_length) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + data.size() / 38 + 8);
    size_t in_line = 0;
    auto put = [&](char c) {
        if (line_length > 0 && in_line == line_length) {
            out += "\r\n";
            in_line = 0;
        }
        out += c;
        in_line++;
    };
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                     static_cast<unsigned char>(data[i + 1]) << 8 |
                     static_cast<unsigned char>(data[i + 2]);
        put(digits[v >> 18 & 63]);
        put(digits[v >> 12 & 63]);
        put(digits[v >> 6 & 63]);
        put(digits[v & 63]);
    }
    if (i < data.size()) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        put(digits[v >> 18 & 63]);
        put(digits[v >> 12 & 63]);
        put(i + 1 < data.size() ? digits[v >> 6 & 63] : '=');
        put('=');
    }
    if (line_length > 0 && in_line > 0) out += "\r\n";
    return out;
}

std::string crlf_lines(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') i++;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    return out;
}

std::string encoded_words(const std::string& utf8) {
    // 39 bytes make 52 base64 digits: with "=?UTF-8?B?" and "?=" a word of
    // 64 characters, so that even "Subject: " and the first word stay within
    // the 76 characters per line that RFC 2047 allows.
    constexpr size_t kMaxChunk = 39;
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        size_t end = i;
        while (end < utf8.size()) {
            size_t len = utf8_sequence_length(utf8, end);
            if (len == 0) len = 1;  // not expected: the text was made UTF-8 before
            if (end + len - i > kMaxChunk) break;
            end += len;
        }
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + base64(utf8.substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

std::string trim_blanks(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

}  // namespace bsmtp
