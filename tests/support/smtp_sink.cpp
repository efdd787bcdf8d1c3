#include "smtp_sink.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

#include "netns.h"
#include "process.h"

namespace {

// Debian's interpreter, where python3-aiosmtpd lives; never one found along PATH.
constexpr const char* kPython = "/usr/bin/python3";

// One spool file: "from X", "to Y" lines, an empty line, then the raw message.
bool parse_spool_file(const std::string& content, ReceivedMail& mail) {
    size_t pos = 0;
    for (;;) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) return false;
        std::string line = content.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) break;
        if (line.rfind("from ", 0) == 0) {
            mail.mail_from = line.substr(5);
        } else if (line.rfind("to ", 0) == 0) {
            mail.recipients.push_back(line.substr(3));
        } else {
            return false;
        }
    }
    mail.message = content.substr(pos);
    return true;
}

}  // namespace

SmtpSink::SmtpSink() = default;

SmtpSink::~SmtpSink() {
    if (process_) process_->stop(SIGTERM, std::chrono::seconds(5));
    process_.reset();
    spool_.reset();
}

bool SmtpSink::start(const std::string& host, NetNamespace* ns) {
    if (process_) {
        error_ = "SMTP sink already started";
        return false;
    }
    spool_ = std::make_unique<TempDir>();
    if (spool_->path().empty()) {
        error_ = "cannot make the spool folder";
        return false;
    }
    std::vector<std::string> argv = {
        kPython,       "-I", std::string(QUORVALE_TEST_SOURCE_DIR) + "/support/smtp_sink.py",
        "--host",      host, "--spool",
        spool_->path()};
    if (ns != nullptr) argv = ns->wrap(argv);
    process_ = std::make_unique<BackgroundProcess>();
    if (!process_->start(argv)) {
        error_ = "cannot start " + std::string(kPython);
        return false;
    }
    if (!process_->wait_for_stdout("\n", std::chrono::seconds(20))) {
        ProcessResult r = process_->stop(SIGKILL);
        error_ = "SMTP sink did not start: " + r.err;
        process_.reset();
        return false;
    }
    std::istringstream in(process_->out());
    std::string word;
    int port = 0;
    if (!(in >> word >> port) || word != "port" || port <= 0) {
        ProcessResult r = process_->stop(SIGKILL);
        error_ = "SMTP sink said: " + r.out + r.err;
        process_.reset();
        return false;
    }
    port_ = port;
    return true;
}

std::vector<ReceivedMail> SmtpSink::mails() {
    std::vector<ReceivedMail> result;
    if (!spool_ || spool_->path().empty()) return result;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(spool_->path(), ec)) {
        std::string name = entry.path().filename().string();
        // Hidden files are mails still being written.
        if (name.size() > 5 && name[0] != '.' && name.compare(name.size() - 5, 5, ".mail") == 0) {
            names.push_back(name);
        }
    }
    // Zero-padded sequence numbers: name order is arrival order.
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        ReceivedMail mail;
        if (parse_spool_file(read_file(spool_->file(name)), mail)) result.push_back(mail);
    }
    return result;
}

bool SmtpSink::wait_for_mails(size_t count, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (mails().size() >= count) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
