#include "delivery.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "error_text.h"

namespace bsmtp {

namespace {

// What the SMTP dialogue showed, so that a refusal can be told apart by step
// and carry the server's own reply.
struct Transcript {
    std::string command;    // verb of the last command sent
    std::string recipient;  // address of the last RCPT
    std::string reply;      // last reply line from the server
    int reply_code = 0;
    std::string reply_command;    // the command that reply answered
    std::string reply_recipient;  // and its address, for RCPT
};

struct Upload {
    const std::string* message;
    size_t offset = 0;
};

using Clock = std::chrono::steady_clock;

const char* const kVerbs[] = {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL",
                              "RCPT", "DATA", "QUIT",     "RSET", "NOOP"};

std::string first_line(const char* data, size_t size) {
    std::string s(data, size);
    size_t end = s.find_first_of("\r\n");
    return end == std::string::npos ? s : s.substr(0, end);
}

void note_command(Transcript& t, const std::string& line) {
    std::string verb = line.substr(0, line.find_first_of(" :"));
    for (char& c : verb) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    // Lines that are no command (AUTH continuations) leave the step as it is.
    for (const char* v : kVerbs) {
        if (verb == v) {
            t.command = verb;
            if (verb == "RCPT") {
                size_t open = line.find('<');
                size_t close = line.rfind('>');
                t.recipient =
                    open != std::string::npos && close != std::string::npos && close > open
                        ? line.substr(open + 1, close - open - 1)
                        : "";
            }
            return;
        }
    }
}

void note_reply(Transcript& t, const char* data, size_t size) {
    // libcurl says QUIT after a refusal; the goodbye must not hide the refusal.
    if (t.command == "QUIT") return;
    std::string s(data, size);
    size_t pos = 0;
    while (pos < s.size()) {
        size_t end = s.find('\n', pos);
        if (end == std::string::npos) end = s.size();
        std::string line = s.substr(pos, end - pos);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.size() >= 3 && isdigit(static_cast<unsigned char>(line[0])) &&
            isdigit(static_cast<unsigned char>(line[1])) &&
            isdigit(static_cast<unsigned char>(line[2]))) {
            t.reply = line;
            // "550-..." continuation lines read like the last one.
            if (t.reply.size() > 3 && t.reply[3] == '-') t.reply[3] = ' ';
            t.reply_code = std::stoi(line.substr(0, 3));
            t.reply_command = t.command;
            t.reply_recipient = t.recipient;
        }
        pos = end + 1;
    }
}

int on_debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto& t = *static_cast<Transcript*>(user);
    if (type == CURLINFO_HEADER_OUT) note_command(t, first_line(data, size));
    if (type == CURLINFO_HEADER_IN) note_reply(t, data, size);
    return 0;
}

size_t on_read(char* buffer, size_t size, size_t count, void* user) {
    auto& up = *static_cast<Upload*>(user);
    size_t n = std::min(size * count, up.message->size() - up.offset);
    memcpy(buffer, up.message->data() + up.offset, n);
    up.offset += n;
    return n;
}

// libcurl's own time limit does not cover the QUIT it sends when it closes a
// connection after a time-out; this hook ends that wait too.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Clock::now() > *static_cast<Clock::time_point*>(user) ? 1 : 0;
}

// libcurl's global set-up, once per process, whichever thread comes first.
bool curl_ready() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

std::string refusal_text(const Transcript& t) {
    const std::string& c = t.reply_command;
    if (c == "MAIL") return fit_error("server refused sender: ", t.reply);
    if (c == "RCPT")
        return fit_error("server refused recipient ", t.reply_recipient, ": " + t.reply);
    if (c == "DATA") return fit_error("server refused the mail: ", t.reply);
    if (c == "AUTH") return fit_error("server refused login: ", t.reply);
    if (c == "EHLO" || c == "HELO") return fit_error("server refused greeting: ", t.reply);
    if (c.empty()) return fit_error("server refused the connection: ", t.reply);
    return fit_error("server refused " + c + ": ", t.reply);
}

std::string failure_text(CURL* curl, CURLcode code, const Transcript& t, const MailServer& s) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return fit_error("mail server host not found: ", s.host);
        case CURLE_COULDNT_CONNECT: {
            long err = 0;
            curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &err);
            std::string reason = err != 0 ? strerror(static_cast<int>(err)) : "no connection";
            for (char& ch : reason) {
                if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
            }
            return fit_error("cannot connect to mail server ", s.where, ": " + reason);
        }
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_ABORTED_BY_CALLBACK: {
            curl_off_t connected_us = 0, total_us = 0;
            curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected_us);
            curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &total_us);
            // libcurl counts the greeting and EHLO as part of connecting, so
            // the shorter limit can end a dialogue that has already begun.
            long limit = total_us < (kTotalTimeoutSeconds * 1000000 - 500000)
                             ? kConnectTimeoutSeconds
                             : kTotalTimeoutSeconds;
            std::string within = " within " + std::to_string(limit) + " s";
            if (connected_us == 0)
                return fit_error("no connection to mail server ", s.where, within);
            if (t.reply.empty())
                return fit_error("mail server ", s.where, " did not answer" + within);
            return fit_error("mail server ", s.where,
                             " stopped answering; gave up after " + std::to_string(limit) + " s");
        }
        case CURLE_PEER_FAILED_VERIFICATION:
            return fit_error("certificate of mail server ", s.where, " is not trusted");
        case CURLE_SSL_CONNECT_ERROR:
            return fit_error("TLS with mail server ", s.where, " failed");
        default:
            break;
    }
    if (t.reply_code >= 400) return refusal_text(t);
    switch (code) {
        case CURLE_LOGIN_DENIED:
            return fit_error("mail server ", s.where, " offers no login this library can use");
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_WEIRD_SERVER_REPLY:
            return fit_error("connection to mail server ", s.where, " was lost");
        default:
            return fit_error("mail not sent: ", curl_easy_strerror(code));
    }
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

bool deliver(const MailServer& server, const std::string& sender,
             const std::vector<std::string>& recipients, const std::string& message,
             std::string& error) {
    if (!curl_ready()) {
        error = "mail library set-up failed (libcurl)";
        return false;
    }
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        error = "mail library set-up failed (libcurl)";
        return false;
    }
    std::unique_ptr<curl_slist, ListDeleter> rcpt;
    for (const std::string& r : recipients) {
        curl_slist* next = curl_slist_append(rcpt.get(), ("<" + r + ">").c_str());
        if (next == nullptr) {
            error = "out of memory while preparing the mail";
            return false;
        }
        rcpt.release();
        rcpt.reset(next);
    }
    Transcript transcript;
    Upload upload{&message};
    std::string from = "<" + sender + ">";
    CURL* c = curl.get();

    curl_easy_setopt(c, CURLOPT_URL, server.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // Mail goes straight to the server, whatever proxy the environment names.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    // STARTTLS when offered; certificates are verified (libcurl's default).
    if (!server.implicit_tls) curl_easy_setopt(c, CURLOPT_USE_SSL, (long)CURLUSESSL_TRY);
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, on_read);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    // A dead or stalled server must not hold up the watcher for long.
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kTotalTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, kTotalTimeoutSeconds);
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(kTotalTimeoutSeconds + 1);
    // Closed within this call and under these limits, not later by libcurl's
    // connection cache, which knows neither.
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &deadline);
    // No SIGALRM for name look-ups: the library may be called from any thread.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // The dialogue is watched, not printed: the debug hook replaces the output.
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, on_debug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &transcript);

    CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) return true;
    error = failure_text(c, code, transcript, server);
    return false;
}

}  // namespace bsmtp
