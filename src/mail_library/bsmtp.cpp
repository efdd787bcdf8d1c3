// Placeholder until the libcurl-based library lands.
#include "bsmtp.h"

#include <cstring>

int BSendMail(char*, char*, char*, char*, char*, char*, char* error_text) {
    strcpy(error_text, "mail library not built yet");
    return 0;
}
