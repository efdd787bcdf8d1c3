// Hands one composed message to the mail server through libcurl.
#pragma once

#include <string>
#include <vector>

#include "mail_server.h"

namespace bsmtp {

// Seconds allowed for the connection (libcurl counts the server's greeting
// and the EHLO exchange as part of it), and for the whole delivery.
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kTotalTimeoutSeconds = 30;

// True when the server took the mail; otherwise false with an error text.
bool deliver(const MailServer& server, const std::string& sender,
             const std::vector<std::string>& recipients, const std::string& message,
             std::string& error);

}  // namespace bsmtp
