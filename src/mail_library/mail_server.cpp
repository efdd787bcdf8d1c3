#include "mail_server.h"

#include <curl/curl.h>
#include <unistd.h>

#include <memory>

#include "error_text.h"
#include "text_codec.h"

namespace bsmtp {

namespace {

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using Url = std::unique_ptr<CURLU, UrlDeleter>;

std::string url_part(CURLU* u, CURLUPart part, unsigned flags = 0) {
    char* value = nullptr;
    if (curl_url_get(u, part, &value, flags) != CURLUE_OK || value == nullptr) return "";
    std::string out = value;
    curl_free(value);
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool is_port(const std::string& s) {
    if (s.empty() || s.size() > 5) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    long v = std::stol(s);
    return v >= 1 && v <= 65535;
}

bool is_host_text(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F) return false;
        if (c == '/' || c == '@' || c == '?' || c == '#' || c == '\\' || c == '%' || c == '[' ||
            c == ']') {
            return false;
        }
    }
    return true;
}

// This host's name for EHLO; libcurl would say "localhost" otherwise.
std::string ehlo_name() {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0) return "";
    for (const char* p = host; *p != '\0'; p++) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.';
        if (!ok) return "";
    }
    return host;
}

// The text as it may be shown in an error: never with a user or password.
std::string shown(const std::string& text) {
    size_t at = text.rfind('@');
    if (at == std::string::npos) return text;
    size_t sep = text.find("://");
    size_t keep = sep != std::string::npos && sep < at ? sep + 3 : 0;
    return text.substr(0, keep) + "..." + text.substr(at);
}

// "host" or "host:port" (IPv6 in brackets, or bare without a port) as a URL.
bool host_form_url(const std::string& text, std::string& url, std::string& error) {
    std::string host, port = "25";
    if (text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos || !is_host_text(text.substr(1, close - 1))) {
            error = fit_error("bad mail server: ", shown(text), "", 30);
            return false;
        }
        host = text.substr(0, close + 1);
        std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                error = fit_error("bad mail server: ", shown(text), "", 30);
                return false;
            }
            port = rest.substr(1);
        }
    } else {
        size_t colon = text.find(':');
        if (colon == std::string::npos) {
            host = text;
        } else if (text.find(':', colon + 1) == std::string::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
        } else {
            host = "[" + text + "]";  // a bare IPv6 address
        }
        std::string bare = host[0] == '[' ? host.substr(1, host.size() - 2) : host;
        if (!is_host_text(bare)) {
            error = fit_error("bad mail server: ", shown(text), "", 30);
            return false;
        }
    }
    if (!is_port(port)) {
        error = fit_error("bad port in mail server: ", shown(text), "", 30);
        return false;
    }
    url = "smtp://" + host + ":" + port;
    return true;
}

}  // namespace

bool parse_mail_server(const std::string& text, MailServer& server, std::string& error) {
    std::string t = trim_blanks(text);
    if (t.empty()) {
        error = "no mail server given";
        return false;
    }
    std::string url;
    size_t sep = t.find("://");
    if (sep != std::string::npos) {
        std::string scheme = lower(t.substr(0, sep));
        if (scheme != "smtp" && scheme != "smtps") {
            error = "mail server URL must begin with smtp:// or smtps://";
            return false;
        }
        url = t;
    } else if (!host_form_url(t, url, error)) {
        return false;
    }

    Url u(curl_url());
    if (!u) {
        error = "out of memory while reading the mail server";
        return false;
    }
    if (curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        error = fit_error("bad mail server: ", shown(t), "", 30);
        return false;
    }
    std::string host = url_part(u.get(), CURLUPART_HOST);
    std::string port = url_part(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (host.empty()) {
        error = fit_error("no host in mail server: ", shown(t), "", 30);
        return false;
    }
    std::string path = url_part(u.get(), CURLUPART_PATH);
    if (path.empty() || path == "/") {
        std::string name = ehlo_name();
        if (!name.empty()) curl_url_set(u.get(), CURLUPART_PATH, ("/" + name).c_str(), 0);
    }
    server.url = url_part(u.get(), CURLUPART_URL);
    server.host = host;
    server.where = host + ":" + port;
    server.implicit_tls = lower(url_part(u.get(), CURLUPART_SCHEME)) == "smtps";
    if (server.url.empty()) {
        error = fit_error("bad mail server: ", shown(t), "", 30);
        return false;
    }
    return true;
}

}  // namespace bsmtp
