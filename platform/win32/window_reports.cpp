// Reports of the worker to the stub's progress window.  The member name and the
// progress are sent, so the worker waits until the window thread has handled them
// (the name points into the worker's own header record); the end is posted as the
// worker's last act.
#include <windows.h>
#include <commctrl.h>

#include "engine/output_sink.h"
#include "frontend/window_messages.h"
#include "platform/platform.h"

void platform_report_member(SfxApp* app, const char* name) {
    SendMessageA((HWND)app->main_window, WM_SFX_MEMBER, 0, (LPARAM)name);
}

void platform_report_progress(uint32_t percent) {
    SendMessageA((HWND)progress_bar, PBM_SETPOS, percent, 0);
}

// Failures are gathered in the run outcome; the window reports them at the end.
void platform_report_failure(SfxApp*, const char*, FailureKind) {}

void platform_unknown_header_box(SfxApp* app) {
    MessageBoxW((HWND)app->main_window, L"Unknown header", L"Mavu SFX", MB_ICONHAND);
}

void platform_report_end(SfxApp* app, bool cancelled) {
    PostMessageA((HWND)app->main_window, cancelled ? WM_SFX_CANCELLED : WM_SFX_DONE, 0, 0);
}
