// Start-up and the progress window: the own file and its configuration block, the
// hidden window with its status line, stop button and progress bar, and the run
// driven through the window's messages.
#include <windows.h>
#include <commctrl.h>
#include <process.h>
#include <string.h>

#include "engine/extraction_loop.h"
#include "engine/path_text.h"
#include "decode/decoder_state.h"
#include "frontend/config_block.h"
#include "frontend/end_report.h"
#include "frontend/win32/front_end.h"
#include "platform/window_messages.h"
#include "platform/reports.h"
#include "platform/system_services.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

const WCHAR WINDOW_CLASS_NAME[] = L"MAVUSFXCLASS";

static int screen_dpi;        // the system's pixels per inch, 96 at 100 %
static int window_width;      // 220 at 96 DPI, or as wide as the title needs
static bool worker_running;   // from the worker's start until its end message
static bool close_requested;  // the window was closed while the worker ran
static bool finishing;        // shortcuts and launch under way on their own thread
static uint8_t exit_code;     // EXIT_* of front_end.h

enum { FINISH_TIMER = 1, FINISH_LIMIT_MS = 60000 };
// The handle GetCurrentProcess returns, a constant that names the calling process.
static HANDLE const CURRENT_PROCESS = (HANDLE)-1;

enum {
    MAIN_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU,
    MAIN_WIDTH = 220, MAIN_HEIGHT = 100,
    TITLE_ROOM = 80,              // the frame, the icon and the close button beside the title
    CHILD_MARGIN = 20,            // the frame and 7 pixels each side of a child
    CHILD_STYLE = WS_CHILD | WS_VISIBLE,
    STOP_MARGIN = 6,              // below the stop button: 3 as above the status line, 3 of frame
    LONG_PATH_PREFIX = 8          // room for "\\?\UNC" before the own path
};

// The window's pixels are those of a 96 DPI screen, scaled to the system's DPI (the
// program is DPI-aware); at 96 DPI they stay as they are.
__attribute__((noinline)) static int scaled(int pixels) { return (pixels * screen_dpi + 48) / 96; }

/* The own path, read wide, so that a folder the code page cannot name opens as well
 * as any.  Past MAX_PATH the path is opened with the "\\?\" prefix, which lifts the
 * limit ("\\?\UNC\server\share" for a network path). */
static WCHAR own_path[LONG_PATH_PREFIX + 32768];

static bool open_own_file(SfxApp* app) {
    WCHAR* path = own_path + LONG_PATH_PREFIX;
    DWORD length = GetModuleFileNameW(nullptr, path, 32768);  // never cut: paths end at 32,767
    if (length >= MAX_PATH) {
        if (path[0] == '\\' && path[1] == '\\') {
            path -= 6;  // "\\?\UNC" over the first backslash
            memcpy(path, L"\\\\?\\UNC", 7 * sizeof(WCHAR));
        } else {
            path -= 4;
            memcpy(path, L"\\\\?\\", 4 * sizeof(WCHAR));
        }
    }
    app->run.archive_file = _wfopen(path, L"rb");
    return app->run.archive_file != nullptr;
}

/* The image's end is where the configuration block begins: where the raw data of
 * its last section ends, read from the module's own headers.  The loader mapped the
 * module by these headers and so has checked them: they are read as they stand.  A
 * section without raw data (.bss) has no file offset either, and so ends at 0. */
static bool seek_to_block(SfxApp* app) {
    const IMAGE_NT_HEADERS* headers =
        (const IMAGE_NT_HEADERS*)((const BYTE*)app->instance +
                                  ((const IMAGE_DOS_HEADER*)app->instance)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    DWORD image_end = 0;
    for (unsigned n = headers->FileHeader.NumberOfSections; n != 0; n--, section++) {
        DWORD end = section->PointerToRawData + section->SizeOfRawData;
        if (end > image_end) image_end = end;
    }
    return platform_seek(app->run.archive_file, image_end, SEEK_SET) == 0;
}

static bool register_window_class(SfxApp* app) {
    WNDCLASSW window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = (HINSTANCE)app->instance;
    window_class.hIcon = LoadIconW((HINSTANCE)app->instance, MAKEINTRESOURCEW(IDI_APP));
    window_class.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    window_class.lpszClassName = WINDOW_CLASS_NAME;
    return RegisterClassW(&window_class) != 0;
}

static HWND create_child(SfxApp* app, const WCHAR* window_class, DWORD style, int y) {
    return CreateWindowExW(0, window_class, nullptr, style, scaled(7), scaled(y),
                           window_width - scaled(CHILD_MARGIN), scaled(20),
                           (HWND)app->main_window, nullptr, (HINSTANCE)app->instance, nullptr);
}

/* The stop button's dialog is placed in dialog units, which follow the dialog's
 * font rather than the window: the window grows until the button, a margin below it
 * and the window's frame lie inside it.  Then it is centred on the pointer, its top
 * edge 32 pixels below it, and moved as far as it takes to lie wholly inside the
 * work area of the pointer's monitor (off the task bar, never off the screen); one
 * wider than the work area keeps its left part, where the member's name begins. */
static void place_window(SfxApp* app) {
    // The window stands at 0, 0 until here: the button's screen rectangle is its
    // place in the window.
    RECT button;
    GetWindowRect(GetDlgItem((HWND)app->cancel_dialog, IDCANCEL), &button);
    int width = window_width, height = button.bottom + scaled(STOP_MARGIN);
    if (height < scaled(MAIN_HEIGHT)) height = scaled(MAIN_HEIGHT);
    POINT pointer;
    GetCursorPos(&pointer);
    MONITORINFO monitor;
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    int x = pointer.x - width / 2, y = pointer.y + scaled(32);
    if (x > work.right - width) x = work.right - width;
    if (x < work.left) x = work.left;
    if (y > work.bottom - height) y = work.bottom - height;
    if (y < work.top) y = work.top;
    SetWindowPos((HWND)app->main_window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool start_up(SfxApp* app) {
    if (!open_own_file(app) || !seek_to_block(app) || !read_config(app)) return false;
    if (!register_window_class(app)) return false;
    HDC screen = GetDC(nullptr);
    screen_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    // Wide enough for the title beside the icon and the close button: a Shift-JIS
    // byte is about half a full-width character, 6 pixels at 96 DPI.
    int title_width = 6 * (int)strlen(app->title) + TITLE_ROOM;
    if (title_width < (int)MAIN_WIDTH) title_width = MAIN_WIDTH;
    window_width = scaled(title_width);

    // Placed once its stop button is there.
    app->main_window = CreateWindowExW(0, WINDOW_CLASS_NAME, L"Mavu SFX", MAIN_STYLE, 0, 0,
                                       window_width, scaled(MAIN_HEIGHT), nullptr, nullptr,
                                       (HINSTANCE)app->instance, nullptr);
    if (app->main_window == nullptr) return false;
    // One line, its middle elided so that a long path keeps its file name; '&' is
    // shown as it is.
    app->status_text = create_child(app, L"STATIC", CHILD_STYLE | SS_NOPREFIX | SS_PATHELLIPSIS, 3);
    if (app->status_text == nullptr) return false;
    app->cancel_dialog = CreateDialogParamW((HINSTANCE)app->instance, MAKEINTRESOURCEW(IDD_CANCEL),
                                            (HWND)app->main_window, cancel_dialog_proc, 0);
    if (app->cancel_dialog == nullptr) return false;
    place_window(app);
    void* progress_bar = create_child(app, PROGRESS_CLASSW, CHILD_STYLE | PBS_SMOOTH, 23);
    if (progress_bar == nullptr) return false;
    platform_set_report_window(app->main_window, progress_bar);

    // The first ShowWindow of the process may take the show command its starter
    // gave; it is spent here, on the hidden window, so that SW_SHOW later shows it.
    // A hidden window has nothing to paint yet.
    ShowWindow((HWND)app->main_window, SW_HIDE);
    SendMessageW((HWND)app->main_window, WM_SFX_START, 0, 0);
    return true;
}

/* The stop button's dialog gets its keys from the dialog manager: Escape and Enter
 * press the button, as does Space while it has the focus, which it always has.  The
 * dialog manager translates every key it is given into characters itself, and no
 * key reaches another window of the thread: nothing else is translated. */
int run_message_loop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        if (!IsDialogMessageW((HWND)sfx_app.cancel_dialog, &message)) DispatchMessageW(&message);
    return (int)message.wParam;
}

/* WM_SETTEXT is what SetWindowTextW sends to a window of this process. */
void set_wide_text(void* window, const WCHAR* text) {
    SendMessageW((HWND)window, WM_SETTEXT, 0, (LPARAM)text);
}

/* Through the wide text: a window keeps its text in UTF-16, so any code page shows
 * it alike. */
void set_text(void* window, const char* text) {
    WCHAR wide[PATH_BUFFER_SIZE];
    set_wide_text(window, to_wide(text, wide, PATH_BUFFER_SIZE));
}

/* The destination dialog runs inside this handler, before the message loop; after
 * it the worker starts and the window appears. */
static LRESULT on_start(HWND window) {
    SfxApp* app = &sfx_app;
    if (app->has_config == 1 &&
        DialogBoxParamW((HINSTANCE)app->instance, MAKEINTRESOURCEW(IDD_DESTINATION), window,
                        destination_dialog_proc, 0) != 0) {
        exit_code = EXIT_DIALOG_CANCELLED;
        DestroyWindow(window);
        return 0;
    }
    worker_running = _beginthread(run_extraction, 0, &app->run) != (uintptr_t)-1;
    set_text(window, app->title);
    ShowWindow(window, SW_SHOW);
    return 0;
}

/* Closing the window while the worker runs is a stop: the worker is asked to end
 * and the window goes only with its end message, so the own file and the record
 * are never released under it.  The worker sends its messages synchronously, so
 * this thread must not wait for it here. */
static LRESULT on_close(HWND window) {
    if (finishing) return 0;  // a link half saved is worse than a window that stays
    if (!worker_running) {
        DestroyWindow(window);
        return 0;
    }
    decoder.stop_requested = 1;
    close_requested = true;
    return 0;
}

static void show_end_report(SfxApp* app) {
    static char text[END_REPORT_SIZE];
    static WCHAR wide_text[END_REPORT_SIZE];
    WCHAR wide_title[PATH_BUFFER_SIZE];
    compose_end_report(&app->run.outcome, text, sizeof text);
    MessageBoxW((HWND)app->main_window, to_wide(text, wide_text, END_REPORT_SIZE),
                to_wide(app->title, wide_title, PATH_BUFFER_SIZE), MB_OK | MB_ICONWARNING);
}

/* The shortcuts and the launch go through the shell, which may wait on things
 * outside this process (COM services, a file type's handler, a network share behind
 * a target).  They run on a thread of their own so that the window thread can give
 * up on them: a shell that hangs ends the run with exit code 1 after a minute
 * instead of never.  Each shortcut initialises COM on this thread for itself. */
static void __cdecl finish_run(void*) {
    SfxApp* app = &sfx_app;
    if (app->has_config == 1) create_shortcuts(app);
    if (app->launch_target != nullptr && app->launch_target[0] != 0) launch_program(app);
    PostMessageW((HWND)app->main_window, WM_SFX_FINISHED, 0, 0);
}

/* The worker's last message.  The worker itself took away an unfinished file; a
 * run in which anything failed is reported, without shortcuts or launch; only a
 * clean, complete run that the user did not stop goes on to them, on the
 * finisher's thread; the window goes when it is done. */
static LRESULT on_worker_end(HWND window, bool cancelled) {
    SfxApp* app = &sfx_app;
    worker_running = false;
    cancelled |= close_requested;
    if (run_has_failures(&app->run.outcome)) {
        show_end_report(app);
        exit_code = EXIT_FAILURES;
    } else if (!cancelled) {
        if (_beginthread(finish_run, 0, nullptr) == (uintptr_t)-1) finish_run(nullptr);
        finishing = true;
        SetTimer(window, FINISH_TIMER, FINISH_LIMIT_MS, nullptr);
        return 0;
    }
    if (cancelled) exit_code = EXIT_STOPPED;
    DestroyWindow(window);
    return 0;
}

/* The finisher did not come back in time: the shell hangs.  Every file was closed
 * before it was asked, so nothing is lost by ending here, and the process is ended
 * at once rather than through the libraries' detach code, which the hung thread
 * may hold locked. */
static LRESULT on_finish_timeout() {
    TerminateProcess(CURRENT_PROCESS, EXIT_FAILURES);
    return 0;
}

/* With backslashes, as the system's path ellipsis knows them. */
static LRESULT show_member(const char* name) {
    char shown[PATH_BUFFER_SIZE];
    copy_text(shown, name, sizeof shown);
    convert_separators(shown, '\\');
    set_text(sfx_app.status_text, shown);
    return 0;
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(exit_code);
        return 0;
    case WM_CLOSE:
        return on_close(window);
    case WM_SFX_START:
        return on_start(window);
    case WM_SETFOCUS:
        // To the stop button: the dialog's next control after one outside it is
        // its first, and only, one.
        SendMessageW((HWND)sfx_app.cancel_dialog, WM_NEXTDLGCTL, 0, FALSE);
        return 0;
    case WM_SFX_MEMBER:
        return show_member((const char*)lparam);
    case WM_SFX_UNKNOWN_HEADER:
        MessageBoxW(window, L"Unknown header", L"Mavu SFX", MB_ICONHAND);
        return 0;
    case WM_SFX_DONE:
    case WM_SFX_CANCELLED:
        return on_worker_end(window, message == WM_SFX_CANCELLED);
    case WM_SFX_FINISHED:
        finishing = false;
        DestroyWindow(window);
        return 0;
    case WM_TIMER:
        return on_finish_timeout();
    }
    return DefWindowProcW(window, message, wparam, lparam);
}
