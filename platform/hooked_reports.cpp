// Reports outside the stub's window: each goes to the installed hooks, if any.
// The host tool prints them; the tests record them.  On POSIX the shell notices
// take the same way.
#include "platform/report_hooks.h"

static PlatformHooks installed;

void platform_set_hooks(const PlatformHooks* hooks) {
    installed = hooks != nullptr ? *hooks : PlatformHooks();
}

void platform_report_member(const char* name) {
    if (installed.member) installed.member(installed.context, name);
}

void platform_report_progress(uint32_t percent) {
    if (installed.progress) installed.progress(installed.context, percent);
}

void platform_report_failure(const char* name, FailureKind kind) {
    if (installed.failure) installed.failure(installed.context, name, kind);
}

void platform_report_older_reading(const char* name) {
    if (installed.older_reading) installed.older_reading(installed.context, name);
}

void platform_report_unknown_header() {
    if (installed.unknown_header) installed.unknown_header(installed.context);
}

void platform_report_end(bool cancelled) {
    if (installed.end) installed.end(installed.context, cancelled);
}

void notify_hooked_shell(ShellEvent event, const char* path) {
    if (installed.shell_notice) installed.shell_notice(installed.context, event, path);
}

const char* hooked_file_name(const char* path, char* buffer, unsigned size) {
    if (!installed.file_name) return path;
    return installed.file_name(installed.context, path, buffer, size) ? buffer : nullptr;
}
