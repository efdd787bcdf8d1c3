// Alert mode: every frame from a station missing from the table raises a
// complete alert.
#include <errno.h>

#include <cstdio>
#include <cstring>

#include "platform/text_file.h"
#include "quorvale_mon.h"

void check_station() {
    if (station_known(current_mac)) return;

    printf("Alert :%s %s\n", current_mac, current_ip);
    send_alert_mail();

    // The console line and the mail have already gone out; a log line that
    // cannot be kept is said on standard error rather than lost in silence.
    text_file log;
    if (!text_open(&log, ALERT_LOG_FILE, "a")) {
        fprintf(stderr, "Cannot open %s (%s): alert %s %s not logged\n", ALERT_LOG_FILE,
                strerror(errno), current_mac, current_ip);
        return;
    }
    if (!text_printf(&log, "%s %s\n", current_mac, current_ip)) {
        fprintf(stderr, "Cannot write %s (%s): alert %s %s not logged\n", ALERT_LOG_FILE,
                strerror(errno), current_mac, current_ip);
    }
    text_close(&log);
}
