#include "message.h"

#include <unistd.h>

#include <cstdio>
#include <random>

#include "text_codec.h"

namespace bsmtp {

namespace {

// Longest line that SMTP must carry, without its CR LF.
constexpr size_t kMaxLine = 998;

std::string random_hex(size_t digits) {
    static const char hex[] = "0123456789abcdef";
    std::random_device rd;
    std::string out;
    while (out.size() < digits) {
        unsigned v = rd();
        for (int k = 0; k < 8 && out.size() < digits; k++, v >>= 4) out += hex[v & 15];
    }
    return out;
}

// RFC 5322 date in local time; names fixed in English whatever the locale.
std::string date_text(std::time_t now) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm t {};
    localtime_r(&now, &t);
    long offset = t.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    char buf[64];
    snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[t.tm_wday % 7],
             t.tm_mday, months[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
             sign, offset / 60, offset % 60);
    return buf;
}

bool is_domain_text(const std::string& s) {
    if (s.empty() || s.size() > 253) return false;
    for (char c : s) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// The right-hand side of the Message-ID: the sender's domain, else this host.
std::string id_domain(const std::string& sender) {
    size_t at = sender.rfind('@');
    if (at != std::string::npos && is_domain_text(sender.substr(at + 1))) {
        return sender.substr(at + 1);
    }
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0 && is_domain_text(host)) return host;
    return "localhost.localdomain";
}

bool is_plain_header_text(const std::string& s) {
    if (s.size() > 900 || s.find("=?") != std::string::npos) return false;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u >= 0x7F) return false;
    }
    return true;
}

std::string subject_header(const std::string& subject) {
    if (subject.empty()) return "Subject:\r\n";
    if (is_plain_header_text(subject)) return "Subject: " + subject + "\r\n";
    return "Subject: " + encoded_words(subject) + "\r\n";
}

// "To: a, b, ..." folded so that lines stay short.
std::string to_header(const std::vector<std::string>& recipients) {
    std::string out = "To: ";
    size_t line = out.size();
    for (size_t i = 0; i < recipients.size(); i++) {
        std::string item = recipients[i] + (i + 1 < recipients.size() ? "," : "");
        if (i > 0) {
            if (line + 1 + item.size() > 78) {
                out += "\r\n ";
                line = 1;
            } else {
                out += ' ';
                line++;
            }
        }
        out += item;
        line += item.size();
    }
    return out + "\r\n";
}

// 7bit when the text is short-lined ASCII, otherwise base64.
void text_part(const std::string& body, std::string& headers, std::string& content) {
    std::string lines = crlf_lines(body);
    bool plain = true;
    size_t line = 0;
    for (char c : lines) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            line = 0;
            continue;
        }
        if (u >= 0x80 || (u < 0x20 && c != '\t' && c != '\r') || u == 0x7F || ++line > kMaxLine) {
            plain = false;
            break;
        }
    }
    headers = "Content-Type: text/plain; charset=UTF-8\r\n";
    if (plain) {
        headers += "Content-Transfer-Encoding: 7bit\r\n";
        content = lines;
    } else {
        headers += "Content-Transfer-Encoding: base64\r\n";
        content = base64(lines, 76);
    }
}

// filename="x" for plain names, RFC 2231 filename*=UTF-8''... for the rest.
std::string filename_parameter(const std::string& name) {
    bool plain = !name.empty() && name.size() < 200;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F || c == '"' || c == '\\') plain = false;
    }
    if (plain) return "filename=\"" + name + "\"";
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "filename*=UTF-8''";
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                    c == '.' || c == '-' || c == '_';
        if (keep) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

}  // namespace

std::string compose_message(const MailContent& mail, std::time_t now) {
    std::string m;
    m += "Date: " + date_text(now) + "\r\n";
    m += "From: " + mail.sender + "\r\n";
    m += to_header(mail.recipients);
    m += subject_header(mail.subject);
    m += "Message-ID: <" + std::to_string(now) + "." + std::to_string(getpid()) + "." +
         random_hex(16) + "@" + id_domain(mail.sender) + ">\r\n";
    m += "MIME-Version: 1.0\r\n";

    std::string part_headers, part_content;
    text_part(mail.body, part_headers, part_content);
    if (mail.attachments.empty()) {
        return m + part_headers + "\r\n" + part_content;
    }

    // "=_" never occurs in base64, and the 7bit text is checked for it.
    std::string boundary;
    do {
        boundary = "=_quorvale_" + random_hex(24);
    } while (part_content.find(boundary) != std::string::npos);
    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    m += "This is a message in MIME format.\r\n";
    m += "--" + boundary + "\r\n" + part_headers + "\r\n" + part_content;
    for (const Attachment& a : mail.attachments) {
        m += "--" + boundary + "\r\n";
        m += "Content-Type: application/octet-stream\r\n";
        m += "Content-Disposition: attachment; " + filename_parameter(a.name) + "\r\n";
        m += "Content-Transfer-Encoding: base64\r\n\r\n";
        m += base64(a.data, 76);
    }
    m += "--" + boundary + "--\r\n";
    return m;
}

}  // namespace bsmtp
