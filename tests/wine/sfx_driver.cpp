// The end-to-end tests' hands under Wine: starts a combined file and works its
// windows as a person would (types into the destination box, clicks check boxes and
// buttons with BM_CLICK, presses the stop button, answers message boxes), reporting
// what it saw on stdout in UTF-8; and reads shortcuts back through IShellLinkW.
//
//   sfx_driver run EXE [--cwd DIR] [--dest TEXT] [--click ID]... [--cancel]
//                      [--shot-dialog BASE] [--shot-progress BASE]
//                      [--stop-at NAME | --close-at NAME] [--timeout SECONDS]
//   sfx_driver links NAME        the shortcut NAME.lnk in the three special folders
//   sfx_driver codepage          the system's ANSI code page
//   sfx_driver warm              saves and removes one shell link (see warm)
//
// A --shot-* option pauses at that moment: the driver writes BASE.ready and waits
// until BASE.done exists, so that a screenshot can be taken from outside.
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
    std::string exe, cwd, dest, shot_dialog, shot_progress, stop_at, close_at;
    std::vector<int> clicks;
    bool cancel = false;
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

void work_destination_dialog(HWND dialog, const RunOptions& o) {
    say("dialog title=" + window_text(dialog) + " " + dialog_state(dialog));
    if (!o.dest.empty())
        SendMessageW(GetDlgItem(dialog, 1000), WM_SETTEXT, 0, (LPARAM)wide(o.dest).c_str());
    for (int id : o.clicks) {
        HWND box = GetDlgItem(dialog, id);
        if (IsWindowEnabled(box)) SendMessageA(box, BM_CLICK, 0, 0);
        else say("cannot click " + std::to_string(id) + ": disabled");
    }
    if (!o.dest.empty() || !o.clicks.empty()) say("dialog set " + dialog_state(dialog));
    pause_for_screenshot(o.shot_dialog);
    click(GetDlgItem(dialog, o.cancel ? IDCANCEL : IDOK));
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

void watch_progress_window(HWND window, const RunOptions& o, ProgressState* state) {
    if (!state->reported) {
        RECT r;
        GetWindowRect(window, &r);
        say("progress title=" + window_text(window) + " size=" + std::to_string(r.right - r.left) +
            "x" + std::to_string(r.bottom - r.top));
        say(layout_report(window));
        state->reported = true;
        if (o.stop_at.empty() && o.close_at.empty()) pause_for_screenshot(o.shot_progress);
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
    } else if (!o.close_at.empty() && text == o.close_at) {
        shoot_held_stub(o.shot_progress);
        PostMessageA(window, WM_CLOSE, 0, 0);
        say("closed window");
        state->acted = true;
    }
}

int run(const RunOptions& o) {
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
    std::vector<HWND> handled;
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
            handled.push_back(window);
            Sleep(200);  // let the dialog finish its initialisation
            if (GetDlgItem(window, 1000) != nullptr) work_destination_dialog(window, o);
            else answer_message_box(window);
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
        else if (a == "--dest") o.dest = value;
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
