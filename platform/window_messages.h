// The messages between the worker and the stub's progress window, sent by the
// platform's window reports (platform/win32/window_reports.cpp) and handled by the
// window.  All go to the main window except PBM_SETPOS (WM_USER+2), which goes to
// the progress bar; WM_USER+2 to the main window is the unknown header.
#pragma once

enum {
    WM_SFX_START = 0x0400 + 0,      // start-up, sent once: dialog, then the worker
    WM_SFX_MEMBER = 0x0400 + 1,     // worker, sent: lParam is the member's name
    WM_SFX_UNKNOWN_HEADER = 0x0400 + 2,  // worker, sent: a header of an unknown layout
    WM_SFX_DONE = 0x0400 + 3,       // worker, posted as its last act
    WM_SFX_CANCELLED = 0x0400 + 4,  // worker, posted as its last act after a stop
    WM_SFX_FINISHED = 0x0400 + 5    // finisher, posted when shortcuts and launch are done
};
