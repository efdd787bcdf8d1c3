// One alert mail per alert, handed to the mail-sending library.
#include <cstdio>
#include <cstring>

#include "bsmtp.h"
#include "quorvale_mon.h"

namespace {

constexpr int MAIL_TEXT_SIZE = 128;
constexpr int BODY_SIZE = 1024;

// Copies `text` cut to at most `max_len` characters; returns the length copied.
size_t copy_cut(char* out, const char* text, size_t max_len) {
    size_t len = strnlen(text, max_len);
    memcpy(out, text, len);
    out[len] = '\0';
    return len;
}

}  // namespace

int send_alert_mail() {
    char attachments[1] = "";
    char server[MAIL_TEXT_SIZE];
    char recipients[MAIL_TEXT_SIZE];
    char sender[MAIL_TEXT_SIZE];
    char subject[MAIL_TEXT_SIZE];
    char body[BODY_SIZE];
    // Cleared, so a failure the library does not explain prints no stale bytes.
    char error_text[BSMTP_ERROR_TEXT_SIZE] = "";

    copy_cut(server, settings_lines[0], MAIL_TEXT_SIZE - 1);
    copy_cut(recipients, settings_lines[1], MAIL_TEXT_SIZE - 1);
    copy_cut(sender, settings_lines[2], MAIL_TEXT_SIZE - 1);

    // "<fourth line> <IP text>": a long fourth line is cut so that the IP text
    // always fits whole.
    size_t ip_len = strlen(current_ip);
    size_t len = copy_cut(subject, settings_lines[3], MAIL_TEXT_SIZE - 1 - 1 - ip_len);
    subject[len] = ' ';
    memcpy(subject + len + 1, current_ip, ip_len + 1);

    snprintf(body, sizeof body, "%s %s", current_mac, current_ip);

    if (BSendMail(server, recipients, sender, subject, body, attachments, error_text) != 0) {
        printf("send ok\n");
    } else {
        error_text[BSMTP_ERROR_TEXT_SIZE - 1] = '\0';
        printf("send error %s\n", error_text);
    }
    return 0;
}
