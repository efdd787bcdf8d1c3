#include "fake_bsmtp.h"

#include <cstring>

#include "bsmtp.h"

FakeMailLibrary& fake_mail_library() {
    static FakeMailLibrary library;
    return library;
}

extern "C" int BSendMail(char* server, char* recipients, char* sender, char* subject, char* body,
                         char* attachments, char* error_text) {
    FakeMailLibrary& lib = fake_mail_library();
    char* texts[6] = {server, recipients, sender, subject, body, attachments};
    MailCall call;
    for (int i = 0; i < 6; i++) call.texts[i] = texts[i];
    call.error_text_cleared = error_text[0] == '\0';
    lib.calls.push_back(call);

    if (lib.during_call) lib.during_call();

    if (lib.scribble) {
        for (char* text : texts) memset(text, '#', strlen(text));
    }
    if (lib.result == 0 && lib.write_error) {
        size_t len = lib.error_text.size();
        if (len > BSMTP_ERROR_TEXT_SIZE - 1) len = BSMTP_ERROR_TEXT_SIZE - 1;
        memcpy(error_text, lib.error_text.data(), len);
        error_text[len] = '\0';
    }
    return lib.result;
}
