// A stand-in for the mail library, linked into the mail tests in place of
// libbsmtp: it records every call and answers as the test says.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

struct MailCall {
    std::array<std::string, 6> texts;  // server, recipients, sender, subject, body, attachments
    bool error_text_cleared = false;   // the error buffer held the empty text on entry
};

struct FakeMailLibrary {
    int result = 1;
    bool write_error = true;  // on a zero result, write error_text into the buffer
    std::string error_text = "stand-in failure";
    bool scribble = false;  // overwrite every text it is given, as a careless library might
    std::function<void()> during_call;  // runs inside the call, before it returns
    std::vector<MailCall> calls;
};

// The stand-in's state; assign FakeMailLibrary{} to reset it.
FakeMailLibrary& fake_mail_library();
