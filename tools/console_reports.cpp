// The tool's side of the engine's reports: member names on stdout, one line per
// failure on stderr, and a progress bar on stderr when it is a terminal.
#include <string.h>

#include "platform/platform.h"
#include "tools/console_reports.h"
#include "tools/tool.h"

/* Control characters (C0, DEL and, as UTF-8, C1) are shown as \xNN, so that a name
 * cannot move the cursor or rewrite the terminal. */
static void print_escaped(FILE* out, const char* text) {
    for (const unsigned char* p = (const unsigned char*)text; *p != 0; p++) {
        if (*p < 0x20 || *p == 0x7F) fprintf(out, "\\x%02x", *p);
        else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) fprintf(out, "\\x%02x", *++p);
        else fputc(*p, out);
    }
}

void print_sjis(FILE* out, const char* text) {
    char converted[4 * PATH_BUFFER_SIZE];
    print_escaped(out, platform_sjis_to_utf8(text, converted, sizeof converted) ? converted : text);
}

const char* failure_text(FailureKind kind) {
    switch (kind) {
    case FAILED_UNSAFE_PATH: return "unsafe path (absolute or with '..'), not extracted";
    case FAILED_UNKNOWN_METHOD: return "unknown compression method, skipped";
    case FAILED_CANNOT_CREATE: return "cannot create the output file";
    case FAILED_WRITE_ERROR: return "write error";
    case FAILED_CRC_MISMATCH: return "CRC-16 mismatch";
    case FAILED_DAMAGED: return "damaged data";
    case FAILED_TRUNCATED: return "the archive ends inside this member";
    case FAILED_NO_MEMORY: return "out of memory";
    case FAILED_LINK_IN_PATH: return "a symbolic link or junction on its path, not extracted";
    case FAILED_WINDOWS_NAME: return "a name Windows cannot hold (device, reserved or control character), not extracted";
    case ARCHIVE_DAMAGED: return "damaged archive: a member header cannot be read";
    case ARCHIVE_CUT_SHORT: return "the archive is cut short (a member or its end byte lies past the end of the file); nothing extracted";
    case ARCHIVE_NOT_LHA: return "not an LHA archive";
    case NO_FAILURE: return "no failure";
    case ARCHIVE_NO_SPACE: return "not enough free space in the destination for the members; nothing extracted";
    }
    return "failed";
}

static void clear_bar(ConsoleReports* reports) {
    if (!reports->bar_shown) return;
    fputs("\r\033[K", stderr);
    reports->bar_shown = false;
}

static void on_member(void* context, const char* name) {
    ConsoleReports* reports = (ConsoleReports*)context;
    reports->members++;
    if (!reports->list_members) return;
    clear_bar(reports);
    print_sjis(stdout, name);
    fputc('\n', stdout);
    fflush(stdout);
}

/* The bar appears only on a terminal, and only once the run has taken a moment, so
 * short runs stay quiet. */
static void on_progress(void* context, uint32_t percent) {
    ConsoleReports* reports = (ConsoleReports*)context;
    if (!reports->terminal || platform_seconds_now() - reports->started < 0.3) return;
    if (percent > 100) percent = 100;
    char bar[41];
    memset(bar, '#', percent * 40 / 100);
    memset(bar + percent * 40 / 100, '.', 40 - percent * 40 / 100);
    bar[40] = 0;
    fprintf(stderr, "\r[%s] %3u%%", bar, (unsigned)percent);
    fflush(stderr);
    reports->bar_shown = true;
}

static void on_failure(void* context, const char* name, FailureKind kind) {
    ConsoleReports* reports = (ConsoleReports*)context;
    clear_bar(reports);
    fflush(stdout);
    fputs("mavusfx: ", stderr);
    if (name != nullptr) {
        print_sjis(stderr, name);
        fputs(": ", stderr);
    }
    fprintf(stderr, "%s\n", failure_text(kind));
}

static void on_older_reading(void* context, const char* name) {
    clear_bar((ConsoleReports*)context);
    print_sjis(stdout, name);
    fputs(": CRC-16 OK (read by the older encoders' rule)\n", stdout);
    fflush(stdout);
}

static void on_end(void* context, bool) { clear_bar((ConsoleReports*)context); }

void install_console_reports(ConsoleReports* reports, bool list_members) {
    memset(reports, 0, sizeof *reports);
    reports->list_members = list_members;
    reports->terminal = platform_error_output_is_terminal();
    reports->started = platform_seconds_now();
    PlatformHooks hooks = {};
    hooks.member = on_member;
    hooks.progress = on_progress;
    hooks.failure = on_failure;
    hooks.end = on_end;
    hooks.older_reading = on_older_reading;
    hooks.context = reports;
    platform_set_hooks(&hooks);
}
