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

/* A name is shown once the one before has stood for SHOW_NAME_MS: members that come
 * faster than anyone reads pass by unshown, and the worker does not wait for a
 * repaint of each.  One passed over is shown at the next progress step, which comes
 * while it is still the worker's member (its name is the worker's header record), so
 * that a long member is named while it runs. */
enum { SHOW_NAME_MS = 50 };
static DWORD name_shown_at;
static const char* passed_over;

static void show_passed_over() {
    name_shown_at = GetTickCount();
    SendMessageW(report_window, WM_SFX_MEMBER, 0, (LPARAM)passed_over);
    passed_over = nullptr;
}

void platform_report_member(const char* name) {
    passed_over = name;
    if (GetTickCount() - name_shown_at >= SHOW_NAME_MS) show_passed_over();
}

void platform_report_progress(uint32_t percent) {
    if (passed_over != nullptr) show_passed_over();
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
