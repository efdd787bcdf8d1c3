// The mail-server text: "host", "host:port" or an smtp:// or smtps:// URL.
#pragma once

#include <string>

namespace bsmtp {

struct MailServer {
    std::string url;    // what libcurl is given
    std::string host;   // host name or address, for error texts
    std::string where;  // "host:port" for error texts, without credentials
    bool implicit_tls = false;
};

// Fills `server` from the operator's text; false with an error text when the
// text is not a usable mail server.
bool parse_mail_server(const std::string& text, MailServer& server, std::string& error);

}  // namespace bsmtp
