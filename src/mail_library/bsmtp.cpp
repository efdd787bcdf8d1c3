// The mail-sending library: BSendMail, the one function the watcher calls.
// Everything else stays inside (hidden symbols, no exceptions across the C
// boundary).
#pragma GCC visibility push(default)
#include "bsmtp.h"
#pragma GCC visibility pop

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "delivery.h"
#include "error_text.h"
#include "mail_server.h"
#include "message.h"
#include "text_codec.h"

namespace bsmtp {

namespace {

std::string text_of(const char* p) {
    return p != nullptr ? std::string(p) : std::string();
}

bool has_line_break(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

// Pieces of `text` between any of `separators`, blanks trimmed, empty ones
// dropped.
std::vector<std::string> split_list(const std::string& text, const char* separators) {
    std::vector<std::string> items;
    size_t pos = 0;
    for (;;) {
        size_t end = text.find_first_of(separators, pos);
        std::string item =
            trim_blanks(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (!item.empty()) items.push_back(item);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return items;
}

// An SMTP path holds at most 256 octets, its angle brackets included; a
// longer address would also make a header line longer than mail may carry.
constexpr size_t kMaxAddress = 254;

// An address as written, "<...>" around it allowed; empty when it is not
// usable as an SMTP path (blanks, controls, angle brackets inside, too long).
std::string bare_address(const std::string& written) {
    std::string a = written;
    if (a.size() >= 2 && a.front() == '<' && a.back() == '>')
        a = trim_blanks(a.substr(1, a.size() - 2));
    if (a.size() > kMaxAddress) return "";
    for (char c : a) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '<' || c == '>') return "";
    }
    return a;
}

bool read_attachment(const std::string& path, Attachment& out, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = fit_error("cannot read attachment (" + std::string(strerror(errno)) + "): ", path);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = fit_error("attachment is not a regular file: ", path);
        return false;
    }
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            close(fd);
            error =
                fit_error("cannot read attachment (" + std::string(strerror(err)) + "): ", path);
            return false;
        }
        data.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    size_t slash = path.rfind('/');
    out.name = to_utf8(slash == std::string::npos ? path : path.substr(slash + 1));
    out.data = std::move(data);
    return true;
}

// Every check is made before the first byte goes to the network.
bool send_mail(const std::string& server_text, const std::string& recipients_text,
               const std::string& sender_text, const std::string& subject, const std::string& body,
               const std::string& attachments_text, std::string& error) {
    // A line break would let a text add header lines or SMTP commands.
    const struct {
        const std::string& text;
        const char* what;
    } single_line[] = {{server_text, "mail server"},
                       {recipients_text, "recipient list"},
                       {sender_text, "sender"},
                       {subject, "subject"}};
    for (const auto& field : single_line) {
        if (has_line_break(field.text)) {
            error = std::string(field.what) + " contains a line break (CR or LF); mail not sent";
            return false;
        }
    }
    if (trim_blanks(server_text).empty()) {
        error = "no mail server given";
        return false;
    }

    MailContent mail;
    for (const std::string& item : split_list(to_utf8(recipients_text), ",;")) {
        std::string address = bare_address(item);
        if (address.empty()) {
            error = fit_error("bad recipient address: ", item);
            return false;
        }
        mail.recipients.push_back(address);
    }
    if (mail.recipients.empty()) {
        error = "no recipient given";
        return false;
    }
    std::string sender = trim_blanks(to_utf8(sender_text));
    if (sender.empty() || sender == "<>") {
        error = "no sender given";
        return false;
    }
    mail.sender = bare_address(sender);
    if (mail.sender.empty()) {
        error = fit_error("bad sender address: ", sender);
        return false;
    }

    MailServer server;
    if (!parse_mail_server(server_text, server, error)) return false;

    for (const std::string& path : split_list(attachments_text, ";")) {
        Attachment a;
        if (!read_attachment(path, a, error)) return false;
        mail.attachments.push_back(std::move(a));
    }

    mail.subject = to_utf8(subject);
    mail.body = to_utf8(body);
    std::string message = compose_message(mail, std::time(nullptr));
    return deliver(server, mail.sender, mail.recipients, message, error);
}

void write_error(char* out, const std::string& text) {
    if (out == nullptr) return;
    size_t n = std::min(text.size(), kMaxErrorText);
    memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

}  // namespace bsmtp

int BSendMail(char* server, char* recipients, char* sender, char* subject, char* body,
              char* attachments, char* error_text) {
    std::string error;
    bool sent = false;
    try {
        sent = bsmtp::send_mail(bsmtp::text_of(server), bsmtp::text_of(recipients),
                                bsmtp::text_of(sender), bsmtp::text_of(subject),
                                bsmtp::text_of(body), bsmtp::text_of(attachments), error);
    } catch (const std::bad_alloc&) {
        error = "out of memory while preparing the mail";
    } catch (...) {
        error = "mail library internal error";
    }
    if (sent) return 1;
    bsmtp::write_error(error_text, error.empty() ? "mail not sent" : error);
    return 0;
}
