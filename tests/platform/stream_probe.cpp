// Sets up the standard streams as the watcher does, writes to both (both
// redirected to pipes by the test) and then dies by SIGKILL, so that only
// what the stream set-up let out before the kill reaches the test.
#include <signal.h>

#include <cstdio>

#include "platform/console.h"

int main() {
    setup_console_streams();
    printf("first line\n");
    printf("second line\n");
    printf("unfinished");
    fprintf(stderr, "error text without line end");
    raise(SIGKILL);
    return 0;
}
