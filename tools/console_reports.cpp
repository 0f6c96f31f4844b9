// The tool's side of the engine's reports: member names on stdout, one line per
// failure on stderr, and the progress bar; and, when asked, the member names turned
// into the locale's encoding on their way to the file system.
#include <errno.h>
#include <string.h>

#include "decode/decode_driver.h"
#include "decode/decoder_state.h"
#include "platform/report_hooks.h"
#include "tools/console_reports.h"
#include "tools/local_names.h"
#include "tools/tool.h"

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
    case FAILED_TOO_LARGE: return "larger than 4 GiB, which this program does not extract";
    case ARCHIVE_DAMAGED: return "damaged archive: a member header cannot be read";
    case ARCHIVE_CUT_SHORT: return "the archive is cut short (a member's header or data lies past the end of the file)";
    case ARCHIVE_NOT_LHA: return "not an LHA archive";
    case NO_FAILURE: return "no failure";
    case ARCHIVE_NO_SPACE: return "not enough free space in the destination for the members; nothing extracted";
    case ARCHIVE_NOT_WRITABLE: return "the destination folder cannot be written; nothing extracted";
    }
    return "failed";
}

static void on_member(void* context, const char* name) {
    ConsoleReports* reports = (ConsoleReports*)context;
    reports->members++;
    if (!reports->list_members) return;
    clear_progress_bar(&reports->bar);
    print_sjis(stdout, name);
    fputc('\n', stdout);
    fflush(stdout);
}

static void on_progress(void* context, uint32_t percent) {
    draw_progress_bar(&((ConsoleReports*)context)->bar, percent, nullptr);
}

static bool is_want_of_room(int error) {
    return error == ENOSPC || error == EFBIG
#ifdef EDQUOT
           || error == EDQUOT
#endif
        ;
}

static void on_failure(void* context, const char* name, FailureKind kind) {
    int error = errno;  // why a file could not be made, when that is the failure
    ConsoleReports* reports = (ConsoleReports*)context;
    clear_progress_bar(&reports->bar);
    fflush(stdout);
    fputs("mavusfx: ", stderr);
    if (name != nullptr) {
        print_sjis(stderr, name);
        fputs(": ", stderr);
    } else if (reports->archive_name != nullptr) {
        fprintf(stderr, "%s: ", reports->archive_name);
    }
    if (kind == FAILED_WRITE_ERROR) error = decoder.output.write_error;
    bool told_by_system = (kind == FAILED_WRITE_ERROR && error != 0) ||
                          (kind == FAILED_CANNOT_CREATE && is_want_of_room(error));
    if (told_by_system) {
        fprintf(stderr, "%s\n", strerror(error));
        if (is_want_of_room(error)) {
            reports->out_of_room = true;
            decoder.stop_requested = 1;
        }
        return;
    }
    fputs(failure_text(kind), stderr);
    if (kind == ARCHIVE_DAMAGED || kind == ARCHIVE_CUT_SHORT)
        fputs(reports->sound_members_first ? "; the members before it were read" : "; nothing extracted", stderr);
    fputc('\n', stderr);
}

static void on_older_reading(void* context, const char* name) {
    clear_progress_bar(&((ConsoleReports*)context)->bar);
    print_sjis(stdout, name);
    fputs(": CRC-16 OK (read by the older encoders' rule)\n", stdout);
    fflush(stdout);
}

static void on_end(void* context, bool) { clear_progress_bar(&((ConsoleReports*)context)->bar); }

void install_console_reports(ConsoleReports* reports, bool list_members, bool local_names) {
    memset(reports, 0, sizeof *reports);
    reports->list_members = list_members;
    start_progress_bar(&reports->bar, true);
    PlatformHooks hooks = {};
    if (local_names) map_member_names(&hooks);
    hooks.member = on_member;
    hooks.progress = on_progress;
    hooks.failure = on_failure;
    hooks.end = on_end;
    hooks.older_reading = on_older_reading;
    hooks.context = reports;
    platform_set_hooks(&hooks);
}
