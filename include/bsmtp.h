// The mail-sending library: one call that delivers one mail.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Room the caller gives for the error text, terminator included.
#define BSMTP_ERROR_TEXT_SIZE 83

// Texts, in order: mail server, recipients, sender, subject, body, attachments
// (paths separated by semicolons; empty for none), then the caller's error-text
// buffer of BSMTP_ERROR_TEXT_SIZE bytes. Returns nonzero when the mail was sent;
// on failure returns 0 after writing a NUL-terminated error text into error_text.
int BSendMail(char* server, char* recipients, char* sender, char* subject, char* body,
              char* attachments, char* error_text);

#ifdef __cplusplus
}
#endif
