// Reports of the worker to the stub's progress window.  The member name, the
// progress and an unknown header are sent, so the worker waits until the window
// thread has handled them (the name points into the worker's own header record);
// the end is posted as the worker's last act.  The window shows what is shown.
#include <windows.h>
#include <commctrl.h>

#include "platform/reports.h"
#include "platform/window_messages.h"

// The window and its bar, given once at start-up before the worker runs.
static HWND report_window;
static HWND report_bar;

void platform_set_report_window(void* main_window, void* progress_bar) {
    report_window = (HWND)main_window;
    report_bar = (HWND)progress_bar;
}

void platform_report_member(const char* name) {
    SendMessageW(report_window, WM_SFX_MEMBER, 0, (LPARAM)name);
}

void platform_report_progress(uint32_t percent) {
    SendMessageW(report_bar, PBM_SETPOS, percent, 0);
}

// Failures are gathered in the run outcome; the window reports them at the end.
void platform_report_failure(const char*, FailureKind) {}

void platform_report_older_reading(const char*) {}

// The window shows the box; the worker waits until it is dismissed.
void platform_report_unknown_header() {
    SendMessageW(report_window, WM_SFX_UNKNOWN_HEADER, 0, 0);
}

void platform_report_end(bool cancelled) {
    PostMessageW(report_window, cancelled ? WM_SFX_CANCELLED : WM_SFX_DONE, 0, 0);
}
