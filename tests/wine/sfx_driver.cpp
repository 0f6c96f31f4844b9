// The end-to-end tests' hands under Wine: starts a combined file and works its
// windows as a person would (types into the destination box, clicks check boxes and
// buttons with BM_CLICK, presses the stop button, answers message boxes, works the
// folder browser), reporting what it saw on stdout in UTF-8; and reads shortcuts
// back through IShellLinkW.
//
//   sfx_driver run EXE [--cwd DIR] [--dest TEXT]... [--click ID]... [--cancel]
//                      [--browse ok|cancel] [--pointer X,Y]
//                      [--shot-dialog BASE] [--shot-progress BASE]
//                      [--stop-at NAME | --close-at NAME | --hold-at NAME | --keys-at NAME]
//                      [--timeout SECONDS]
//   sfx_driver links NAME        the shortcut NAME.lnk in the three special folders
//   sfx_driver codepage          the system's ANSI code page
//   sfx_driver warm              saves and removes one shell link (see warm)
//
// A --shot-* option pauses at that moment: the driver writes BASE.ready and waits
// until BASE.done exists, so that a screenshot can be taken from outside.  So do
// --hold-at (the stub held, as for a shot) and --keys-at (the stub running, for keys
// typed from outside) when the status line shows NAME; both pause at the
// --shot-progress BASE.
//
// The destination dialog is worked again whenever it stands after a message box or
// the folder browser: each round types the next --dest (an empty one leaves the
// text, "<empty>" empties it) and presses OK; with none left it presses Cancel.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// ---- output --------------------------------------------------------------------

// Everything is read and written through the wide functions and kept in UTF-8, so
// that the reports do not depend on the system's code page.
std::string utf8(const std::wstring& wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

std::wstring wide(const std::string& text) {
    int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(count, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], count);
    out.resize(wcslen(out.c_str()));
    return out;
}

void say(const std::string& line) {
    std::string text = line + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

// Line breaks of a window text as '|', so that each report stays one line.
std::string one_line(std::string text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        out += c == '\n' ? '|' : c;
    }
    return out;
}

std::string window_text(HWND window) {
    WCHAR text[4096] = L"";
    DWORD_PTR ignored;
    // A window thread busy for two seconds (a loaded machine, the emulator) gives no
    // answer; the text the system keeps for the window is read instead, so that a
    // slow reply never reads as an empty title.
    if (SendMessageTimeoutW(window, WM_GETTEXT, 4096, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &ignored) == 0)
        InternalGetWindowText(window, text, 4096);
    return utf8(text);
}

std::string class_of(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Posted, so that a handler that opens a message box does not hold the driver.
void click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void pause_for_screenshot(const std::string& base) {
    if (base.empty()) return;
    Sleep(300);  // let the window finish painting
    FILE* ready = _wfopen(wide(base + ".ready").c_str(), L"wb");
    if (ready != nullptr) fclose(ready);
    std::wstring done = wide(base + ".done");
    for (int i = 0; i < 600 && GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(100);
}

// The stub's one thread, while it runs.
HANDLE stub_thread;

// The progress window of a run that is to be stopped inside a member is shot with
// the stub held: its thread is suspended a moment after the member shows, while the
// shot is taken, so that a machine that runs the stub natively and fast does not
// finish the member (and the run) meanwhile.
void shoot_held_stub(const std::string& base) {
    if (base.empty()) return;
    Sleep(30);  // long enough for a repaint at the stub's next progress step
    SuspendThread(stub_thread);
    pause_for_screenshot(base);
    ResumeThread(stub_thread);
}

// ---- the run -------------------------------------------------------------------

struct RunOptions {
    std::string exe, cwd, shot_dialog, shot_progress, stop_at, close_at, hold_at, keys_at, browse;
    std::vector<std::string> dests;
    std::vector<int> clicks;
    bool cancel = false;
    bool pointer = false;
    POINT pointer_at = {};
    int timeout = 120;
};

// ---- what a hung run leaves to see ----------------------------------------------

BOOL CALLBACK describe_child(HWND child, LPARAM) {
    RECT r;
    GetWindowRect(child, &r);
    say("    child class=" + class_of(child) + " text=" + one_line(window_text(child)) +
        (IsWindowVisible(child) ? " visible" : " hidden") + " rect=" + std::to_string(r.left) + "," +
        std::to_string(r.top) + "," + std::to_string(r.right) + "," + std::to_string(r.bottom));
    return TRUE;
}

BOOL CALLBACK describe_window(HWND window, LPARAM process_id) {
    DWORD owner = 0;
    DWORD thread = GetWindowThreadProcessId(window, &owner);
    if (owner != (DWORD)process_id) return TRUE;
    say("  window class=" + class_of(window) + " text=" + one_line(window_text(window)) +
        (IsWindowVisible(window) ? " visible" : " hidden") + " thread=" + std::to_string(thread) +
        (IsHungAppWindow(window) ? " not-responding" : ""));
    EnumChildWindows(window, describe_child, 0);
    return TRUE;
}

/* When a run hangs, everything that can be seen from outside: the stub's windows
 * with their texts, its threads, and every process of the prefix (Wine's own
 * services among them), so that a hang is never silent. */
void describe_hang(DWORD process_id) {
    say("hung run: the stub's windows");
    EnumWindows(describe_window, (LPARAM)process_id);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    int stub_threads = 0;
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
        if (thread.th32OwnerProcessID == process_id) stub_threads++;
    say("hung run: the stub has " + std::to_string(stub_threads) + " threads; processes:");
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        say("  process " + std::to_string(entry.th32ProcessID) + " " + entry.szExeFile + " threads=" +
            std::to_string(entry.cntThreads) + " parent=" + std::to_string(entry.th32ParentProcessID));
    CloseHandle(snapshot);
}

struct ProcessWindows {
    DWORD process_id;
    std::vector<HWND> windows;
};

BOOL CALLBACK collect_window(HWND window, LPARAM context) {
    ProcessWindows* found = (ProcessWindows*)context;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == found->process_id && IsWindowVisible(window)) found->windows.push_back(window);
    return TRUE;
}

std::string check_state(HWND dialog, int id) {
    HWND box = GetDlgItem(dialog, id);
    bool checked = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    return std::to_string(id) + "=" + (checked ? "checked" : "unchecked") + "," +
           (IsWindowEnabled(box) ? "enabled" : "disabled");
}

// The destination box and the three check boxes, as one line of a report.
std::string dialog_state(HWND dialog) {
    std::string state = "dest=" + window_text(GetDlgItem(dialog, 1000));
    for (int id = 1002; id <= 1004; id++) state += " " + check_state(dialog, id);
    return state;
}

/* Round 0 is the dialog's first showing; later rounds come after a message box or
 * the folder browser left it standing. */
void work_destination_dialog(HWND dialog, const RunOptions& o, size_t round) {
    if (round > 0) say("dialog again " + dialog_state(dialog));
    else say("dialog title=" + window_text(dialog) + " " + dialog_state(dialog));
    // "<empty>" empties the box.
    bool typed = round < o.dests.size() && !o.dests[round].empty();
    if (typed) {
        std::wstring text = o.dests[round] == "<empty>" ? L"" : wide(o.dests[round]);
        SendMessageW(GetDlgItem(dialog, 1000), WM_SETTEXT, 0, (LPARAM)text.c_str());
    }
    if (round == 0) {
        for (int id : o.clicks) {
            HWND box = GetDlgItem(dialog, id);
            if (IsWindowEnabled(box)) SendMessageA(box, BM_CLICK, 0, 0);
            else say("cannot click " + std::to_string(id) + ": disabled");
        }
        if (typed || !o.clicks.empty()) say("dialog set " + dialog_state(dialog));
        pause_for_screenshot(o.shot_dialog);
        if (!o.browse.empty()) {
            click(GetDlgItem(dialog, 1001));
            return;
        }
    }
    bool cancel = round == 0 ? o.cancel : round >= o.dests.size();
    click(GetDlgItem(dialog, cancel ? IDCANCEL : IDOK));
}

/* The folder browser: who owns it, whether the dialog is disabled meanwhile, and
 * what a press of the dialog's OK does while it is open (a message from outside, as
 * a disabled dialog takes no click); then its OK or Cancel. */
void work_browser(HWND browser, HWND dialog, const RunOptions& o) {
    HWND owner = GetWindow(browser, GW_OWNER);
    say(std::string("browser owner=") + (owner == dialog && dialog != nullptr ? "dialog" : "other") +
        " dialog=" + (dialog != nullptr && IsWindowEnabled(dialog) ? "enabled" : "disabled"));
    if (dialog != nullptr) {
        SendMessageW(GetDlgItem(dialog, 1000), WM_SETTEXT, 0, (LPARAM)L"C:\\");
        click(GetDlgItem(dialog, IDOK));
        Sleep(1000);
        say(std::string("browser after the dialog's OK: dialog ") + (IsWindow(dialog) ? "stands" : "gone"));
    }
    click(GetDlgItem(browser, o.browse == "ok" ? IDOK : IDCANCEL));
}

/* A message box: its text is the longest static text in it. */
void answer_message_box(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (_stricmp(class_of(child).c_str(), "Static") != 0) continue;
        std::string t = window_text(child);
        if (t.size() > text.size()) text = t;
    }
    say("box caption=" + window_text(box) + " text=" + one_line(text));
    HWND ok = GetDlgItem(box, IDOK);
    click(ok != nullptr ? ok : GetDlgItem(box, IDCANCEL));
}

// ---- the progress window's layout -----------------------------------------------

// `child`'s rectangle in the client coordinates of `window`.
RECT rect_in(HWND window, HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, (POINT*)&r, 2);
    return r;
}

std::string rect_text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

bool inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The height of a line of text in the font that `control` draws with.
int text_height(HWND control) {
    HDC dc = GetDC(control);
    HFONT font = (HFONT)SendMessageW(control, WM_GETFONT, 0, 0);
    HGDIOBJ old = SelectObject(dc, font != nullptr ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT));
    SIZE size = {};
    GetTextExtentPoint32W(dc, L"\u4e2d\u6b62Ag", 4, &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cy;
}

/* The window's rectangle and the work area of the pointer's monitor, and whether
 * the one lies wholly inside the other. */
std::string placement_report(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    POINT pointer;
    GetCursorPos(&pointer);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST), &monitor);
    auto corners = [](const RECT& x) {
        return std::to_string(x.left) + "," + std::to_string(x.top) + "," + std::to_string(x.right) + "," +
               std::to_string(x.bottom);
    };
    return "placed pointer=" + std::to_string(pointer.x) + "," + std::to_string(pointer.y) +
           " window=" + corners(r) + " work=" + corners(monitor.rcWork) +
           (inside(r, monitor.rcWork) ? " inside" : " outside");
}

/* What the status line shows, from its pixels on the screen: the box around every
 * pixel that is not the background, in the control's coordinates, and the height
 * of one line of its text.  One line that fills the control's width is a long path
 * shown whole-lined; a second line, or a box that stops short, is not. */
std::string status_ink_report(HWND status) {
    RECT r;
    GetWindowRect(status, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    COLORREF background = GetPixel(memory, width - 1, height - 1);
    int left = width, top = height, right = -1, bottom = -1;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (GetPixel(memory, x, y) != background) {
                if (x < left) left = x;
                if (x > right) right = x;
                if (y < top) top = y;
                if (y > bottom) bottom = y;
            }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return "status ink=" + std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right + 1) +
           "," + std::to_string(bottom + 1) + " control=" + std::to_string(width) + "x" +
           std::to_string(height) + " line=" + std::to_string(text_height(status));
}

/* The title's width in the caption's font, and the room the caption leaves it
 * between the window's icon and its close button (each a caption button wide) and
 * the frame. */
std::string title_report(HWND window) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    std::wstring title = wide(window_text(window));
    SIZE size = {};
    GetTextExtentPoint32W(dc, title.c_str(), (int)title.size(), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    DeleteObject(font);
    RECT r;
    GetWindowRect(window, &r);
    int room = r.right - r.left - 2 * GetSystemMetrics(SM_CXFIXEDFRAME) - 2 * GetSystemMetrics(SM_CXSIZE) - 4;
    return "title width=" + std::to_string(size.cx) + " room=" + std::to_string(room) +
           (size.cx <= room ? " fits" : " cut");
}

/* The control that has the keyboard focus in the stub's window thread, and whether
 * the stub's window is the foreground window, which the keyboard's keys go to. */
std::string focus_report(DWORD thread, HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    std::string foreground = GetForegroundWindow() == window ? " foreground" : " background";
    if (!GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) return "focus none" + foreground;
    return "focus class=" + class_of(info.hwndFocus) + " text=" + window_text(info.hwndFocus) + foreground;
}

/* One line: the system's DPI, the client area, and each child's rectangle in it;
 * then every child that is cut: one reaching past the client area, the stop button
 * reaching past its dialog, a status line or a button lower than its text. */
std::string layout_report(HWND window) {
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT client;
    GetClientRect(window, &client);
    HWND status = FindWindowExA(window, nullptr, "Static", nullptr);
    HWND bar = FindWindowExA(window, nullptr, "msctls_progress32", nullptr);
    HWND dialog = FindWindowExA(window, nullptr, "#32770", nullptr);
    HWND stop = dialog != nullptr ? GetDlgItem(dialog, IDCANCEL) : nullptr;
    std::string line = "layout dpi=" + std::to_string(dpi) + " client=" +
                       std::to_string(client.right) + "x" + std::to_string(client.bottom);
    std::string cut;
    struct Part { const char* name; HWND handle; } parts[] = {
        {"status", status}, {"bar", bar}, {"dialog", dialog}, {"stop", stop}};
    for (const Part& part : parts) {
        if (part.handle == nullptr) {
            cut += std::string(" ") + part.name + "(missing)";
            continue;
        }
        RECT r = rect_in(window, part.handle);
        line += std::string(" ") + part.name + "=" + rect_text(r);
        bool whole = part.handle == dialog || inside(r, client);
        if (part.handle == stop && !inside(r, rect_in(window, dialog))) whole = false;
        if ((part.handle == status || part.handle == stop) && r.bottom - r.top < text_height(part.handle))
            whole = false;
        if (!whole) cut += std::string(" ") + part.name;
    }
    return line + " cut=" + (cut.empty() ? "none" : cut.substr(1));
}

struct ProgressState {
    bool reported = false;
    bool acted = false;
    std::string status;
};

DWORD stub_thread_id, stub_process_id;

/* Suspends (or resumes) every thread of the stub but its window thread. */
void hold_workers(bool hold) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != stub_process_id || entry.th32ThreadID == stub_thread_id) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        if (hold) SuspendThread(thread);
        else ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

void watch_progress_window(HWND window, const RunOptions& o, ProgressState* state) {
    if (!state->reported) {
        RECT r;
        GetWindowRect(window, &r);
        say("progress title=" + window_text(window) + " size=" + std::to_string(r.right - r.left) +
            "x" + std::to_string(r.bottom - r.top));
        say(layout_report(window));
        say(placement_report(window));
        say(title_report(window));
        state->reported = true;
        if (o.stop_at.empty() && o.close_at.empty() && o.hold_at.empty() && o.keys_at.empty())
            pause_for_screenshot(o.shot_progress);
    }
    HWND status = FindWindowExA(window, nullptr, "Static", nullptr);
    std::string text = status != nullptr ? window_text(status) : "";
    if (text != state->status) {
        state->status = text;
        say("status " + text);
    }
    if (state->acted) return;
    if (!o.stop_at.empty() && text == o.stop_at) {
        shoot_held_stub(o.shot_progress);
        HWND cancel_dialog = FindWindowExA(window, nullptr, "#32770", nullptr);
        click(GetDlgItem(cancel_dialog, IDCANCEL));
        say("pressed stop");
        state->acted = true;
    } else if (!o.hold_at.empty() && text == o.hold_at) {
        // The worker held at once, the window thread left to paint the new name.
        hold_workers(true);
        Sleep(500);
        say(status_ink_report(status));
        pause_for_screenshot(o.shot_progress);
        hold_workers(false);
        say("held at " + text);
        state->acted = true;
    } else if (!o.keys_at.empty() && text == o.keys_at) {
        // The worker is held, the window thread left running to take the keys; the
        // pointer over the window, where the X server sends keys when no window
        // manager gives the focus.
        hold_workers(true);
        Sleep(300);
        say(focus_report(stub_thread_id, window));
        RECT r;
        GetWindowRect(window, &r);
        SetCursorPos((r.left + r.right) / 2, r.top + (r.bottom - r.top) / 3);
        pause_for_screenshot(o.shot_progress);  // the keys are typed meanwhile
        Sleep(500);
        hold_workers(false);
        say("keys typed");
        state->acted = true;
    } else if (!o.close_at.empty() && text == o.close_at) {
        shoot_held_stub(o.shot_progress);
        PostMessageA(window, WM_CLOSE, 0, 0);
        say("closed window");
        state->acted = true;
    }
}

int run(const RunOptions& o) {
    // Wine now and then puts the pointer back where it was: set until it holds.
    for (int i = 0; o.pointer && i < 20; i++) {
        POINT at;
        SetCursorPos(o.pointer_at.x, o.pointer_at.y);
        Sleep(100);
        if (GetCursorPos(&at) && at.x == o.pointer_at.x && at.y == o.pointer_at.y) break;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring exe = wide(o.exe), cwd = wide(o.cwd), command = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &process)) {
        say("cannot start " + o.exe + ": error " + std::to_string(GetLastError()));
        return 2;
    }
    stub_thread = process.hThread;
    stub_thread_id = process.dwThreadId;
    stub_process_id = process.dwProcessId;
    std::vector<HWND> handled;
    HWND destination = nullptr;
    size_t round = 0;
    ProgressState progress;
    DWORD started = GetTickCount();
    while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        if (GetTickCount() - started > (DWORD)o.timeout * 1000) {
            say("timeout after " + std::to_string(o.timeout) + " s");
            describe_hang(process.dwProcessId);
            TerminateProcess(process.hProcess, 99);
            return 3;
        }
        ProcessWindows found = {process.dwProcessId, {}};
        EnumWindows(collect_window, (LPARAM)&found);
        for (HWND window : found.windows) {
            std::string kind = class_of(window);
            if (kind == "MAVUSFXCLASS") {
                watch_progress_window(window, o, &progress);
                continue;
            }
            if (kind != "#32770") continue;
            bool seen = false;
            for (HWND h : handled) seen = seen || h == window;
            if (seen) continue;
            // The dialog is worked again once a box or the browser over it is gone.
            if (window == destination && !IsWindowEnabled(window)) continue;
            handled.push_back(window);
            Sleep(200);  // let the dialog finish its initialisation
            if (GetDlgItem(window, 1000) != nullptr) {
                destination = window;
                work_destination_dialog(window, o, round++);
                continue;
            }
            if (FindWindowExA(window, nullptr, "SysTreeView32", nullptr) != nullptr) work_browser(window, destination, o);
            else answer_message_box(window);
            // Whatever stood over the destination dialog, it is worked again.
            for (size_t i = 0; i < handled.size(); i++)
                if (handled[i] == destination) handled.erase(handled.begin() + i--);
        }
    }
    DWORD ran = GetTickCount() - started;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    say("exit " + std::to_string(code));
    say("ran " + std::to_string(ran) + " ms");  // from the start to the end of the process
    return 0;
}

// ---- shortcuts -----------------------------------------------------------------

void report_link(const char* folder_name, int folder_id, const std::string& name) {
    WCHAR folder[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, folder, folder_id, FALSE);
    std::wstring path = std::wstring(folder) + L"\\" + wide(name) + L".lnk";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        say(std::string(folder_name) + " absent");
        return;
    }
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    WCHAR target[MAX_PATH] = L"", working[MAX_PATH] = L"", icon[MAX_PATH] = L"";
    int icon_index = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   (void**)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&persist)) &&
        SUCCEEDED(persist->Load(path.c_str(), STGM_READ))) {
        // The target from the link's item list, which keeps every name in UTF-16
        // (Wine keeps the path beside it in the ANSI code page only).
        LPITEMIDLIST item = nullptr;
        if (FAILED(link->GetIDList(&item)) || item == nullptr || !SHGetPathFromIDListW(item, target))
            link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        CoTaskMemFree(item);
        link->GetWorkingDirectory(working, MAX_PATH);
        link->GetIconLocation(icon, MAX_PATH, &icon_index);
    }
    if (persist != nullptr) persist->Release();
    if (link != nullptr) link->Release();
    say(std::string(folder_name) + " present target=" + utf8(target) + " workdir=" + utf8(working) +
        " icon=" + utf8(icon) + "," + std::to_string(icon_index));
    DeleteFileW(path.c_str());  // each run starts without shortcuts
}

int links(const std::string& name) {
    CoInitialize(nullptr);
    report_link("programs", CSIDL_PROGRAMS, name);
    report_link("desktop", CSIDL_DESKTOPDIRECTORY, name);
    report_link("sendto", CSIDL_SENDTO, name);
    CoUninitialize();
    return 0;
}

/* Once per session, before the first case: the first shell link a prefix saves
 * starts what the shell needs for it (COM's set-up, the folders of the Start menu),
 * so that no case pays for that start, or meets it half done, inside its own run. */
int warm() {
    CoInitialize(nullptr);
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAMS, TRUE);
    std::string path = std::string(folder) + "\\mavusfx-warm.lnk";
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    IShellLinkA* link = nullptr;
    IPersistFile* persist = nullptr;
    bool saved = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IShellLinkA, (void**)&link)) &&
                 SUCCEEDED(link->SetPath("C:\\windows\\notepad.exe")) &&
                 SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&persist)) &&
                 SUCCEEDED(persist->Save(wide, TRUE));
    if (persist != nullptr) persist->Release();
    if (link != nullptr) link->Release();
    DeleteFileA(path.c_str());
    CoUninitialize();
    say(saved ? "warm" : "warm: no shell link could be saved");
    return saved ? 0 : 1;
}

int usage() {
    say("usage: sfx_driver run EXE [options] | sfx_driver links NAME");
    return 2;
}

}  // namespace

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    // Rectangles in the stub's own pixels, which are the screen's: the stub is
    // DPI-aware, so an unaware driver would see them scaled.
    SetProcessDPIAware();
    // The arguments in UTF-8, from the wide command line: a Korean folder name
    // survives any code page.
    int argc = 0;
    LPWSTR* wide_argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; i++) arguments.push_back(utf8(wide_argv[i]));
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    if (argc == 3 && strcmp(argv[1], "links") == 0) return links(argv[2]);
    if (argc == 2 && strcmp(argv[1], "codepage") == 0) {
        say("codepage " + std::to_string(GetACP()));
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "warm") == 0) return warm();
    if (argc < 3 || strcmp(argv[1], "run") != 0) return usage();
    RunOptions o;
    o.exe = argv[2];
    for (int i = 3; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--cancel") {
            o.cancel = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        std::string value = argv[++i];
        if (a == "--cwd") o.cwd = value;
        else if (a == "--dest") o.dests.push_back(value);
        else if (a == "--browse") o.browse = value;
        else if (a == "--hold-at") o.hold_at = value;
        else if (a == "--keys-at") o.keys_at = value;
        else if (a == "--pointer") {
            o.pointer = sscanf(value.c_str(), "%ld,%ld", &o.pointer_at.x, &o.pointer_at.y) == 2;
        }
        else if (a == "--click") o.clicks.push_back(atoi(value.c_str()));
        else if (a == "--shot-dialog") o.shot_dialog = value;
        else if (a == "--shot-progress") o.shot_progress = value;
        else if (a == "--stop-at") o.stop_at = value;
        else if (a == "--close-at") o.close_at = value;
        else if (a == "--timeout") o.timeout = atoi(value.c_str());
        else return usage();
    }
    return run(o);
}
