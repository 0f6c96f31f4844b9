// The stub's window thread: start-up and the progress window, the destination and
// cancel dialogs, the shortcuts and the launch.
#pragma once

#include <windows.h>

#include "frontend/run_record.h"

extern const WCHAR WINDOW_CLASS_NAME[];  // "MAVUSFXCLASS"

// The process's exit codes, so that a script that runs the installer can tell its
// ends apart.  A start-up that fails ends silently with 0.
enum {
    EXIT_COMPLETE = 0,          // every member extracted, shortcuts made, launched
    EXIT_FAILURES = 1,          // the end-of-run report was shown; or the shell hung
    EXIT_DIALOG_CANCELLED = 2,  // キャンセル (Esc, the close box) in the destination dialog
    EXIT_STOPPED = 5            // 中止 (Esc, Enter, the close box) during the extraction
};

// The stub's one record, zero from the image's load on; the window and dialog
// procedures reach it here.
extern SfxApp sfx_app;

// Opens the own file, reads the configuration block behind the image, creates the
// hidden progress window and sends it WM_SFX_START.  False on any failure.
bool start_up(SfxApp* app);
// Runs until WM_QUIT; returns its wParam, the process exit code.
int run_message_loop();
// A Shift-JIS text (a path, at most 259 bytes) as the window's text.
void set_text(void* window, const char* text);
void set_wide_text(void* window, const WCHAR* text);
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// IDD_DESTINATION: result 0 to extract, 1 to end the run.
INT_PTR CALLBACK destination_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
// IDD_CANCEL: its button sets decoder.stop_requested.
INT_PTR CALLBACK cancel_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The checked shortcuts, in the order Start menu, desktop, Send To.
void create_shortcuts(SfxApp* app);
// One shortcut in the special folder `folder_id`; skipped when anything fails.
void create_shortcut(SfxApp* app, int folder_id);
// Opens the launch target with the default verb.
void launch_program(SfxApp* app);
