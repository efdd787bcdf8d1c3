// A real SMTP server for the tests (Debian's aiosmtpd), started on a free
// port and stopped by the destructor. It records every mail it accepts.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class BackgroundProcess;
class NetNamespace;
class TempDir;

struct ReceivedMail {
    std::string mail_from;                // envelope sender
    std::vector<std::string> recipients;  // envelope recipients
    std::string message;                  // the message as received (headers and body)
};

class SmtpSink {
  public:
    SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;
    ~SmtpSink();

    // Starts listening on `host` at a free port, inside `ns` when given.
    // Recipients whose local part begins with "reject" are refused with 550.
    bool start(const std::string& host = "127.0.0.1", NetNamespace* ns = nullptr);
    int port() const { return port_; }
    const std::string& error() const { return error_; }

    // Every mail accepted so far, in order of arrival.
    std::vector<ReceivedMail> mails();
    // Waits until at least `count` mails were accepted; false on time-out.
    bool wait_for_mails(size_t count, std::chrono::milliseconds timeout);

  private:
    int port_ = 0;
    std::string error_;
    std::unique_ptr<TempDir> spool_;  // one file per accepted mail
    std::unique_ptr<BackgroundProcess> process_;
};
