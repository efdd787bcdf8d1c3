// The RFC 5322 message that goes out: headers, text, attachments.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace bsmtp {

struct Attachment {
    std::string name;  // file name shown to the reader, UTF-8
    std::string data;  // the file's bytes
};

struct MailContent {
    std::string sender;                   // bare address
    std::vector<std::string> recipients;  // bare addresses
    std::string subject;                  // UTF-8
    std::string body;                     // UTF-8
    std::vector<Attachment> attachments;
};

// The whole message with CR LF line ends, dated `now`.
std::string compose_message(const MailContent& mail, std::time_t now);

}  // namespace bsmtp
