// The end-to-end tests' hands under Wine: starts a combined file and works its
// windows as a person would (types into the destination box, clicks check boxes and
// buttons with BM_CLICK, presses the stop button, answers message boxes), reporting
// what it saw on stdout in UTF-8; and reads shortcuts back through IShellLinkA.
//
//   sfx_driver run EXE [--cwd DIR] [--dest TEXT] [--click ID]... [--cancel]
//                      [--shot-dialog BASE] [--shot-progress BASE]
//                      [--stop-at NAME | --close-at NAME] [--timeout SECONDS]
//   sfx_driver links NAME        the shortcut NAME.lnk in the three special folders
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

std::string utf8(const std::string& ansi) {
    int count = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring wide(count, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], count);
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

void say(const std::string& line) {
    std::string text = utf8(line) + "\n";
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
    char text[4096] = "";
    DWORD_PTR ignored;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                        &ignored);
    return text;
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
    FILE* ready = fopen((base + ".ready").c_str(), "wb");
    if (ready != nullptr) fclose(ready);
    std::string done = base + ".done";
    for (int i = 0; i < 600 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(100);
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
        SendMessageA(GetDlgItem(dialog, 1000), WM_SETTEXT, 0, (LPARAM)o.dest.c_str());
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
        pause_for_screenshot(o.shot_progress);
        HWND cancel_dialog = FindWindowExA(window, nullptr, "#32770", nullptr);
        click(GetDlgItem(cancel_dialog, IDCANCEL));
        say("pressed stop");
        state->acted = true;
    } else if (!o.close_at.empty() && text == o.close_at) {
        pause_for_screenshot(o.shot_progress);
        PostMessageA(window, WM_CLOSE, 0, 0);
        say("closed window");
        state->acted = true;
    }
}

int run(const RunOptions& o) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + o.exe + "\"";
    if (!CreateProcessA(o.exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        o.cwd.empty() ? nullptr : o.cwd.c_str(), &startup, &process)) {
        say("cannot start " + o.exe + ": error " + std::to_string(GetLastError()));
        return 2;
    }
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
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, folder_id, FALSE);
    std::string path = std::string(folder) + "\\" + name + ".lnk";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        say(std::string(folder_name) + " absent");
        return;
    }
    IShellLinkA* link = nullptr;
    IPersistFile* persist = nullptr;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char target[MAX_PATH] = "", working[MAX_PATH] = "", icon[MAX_PATH] = "";
    int icon_index = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void**)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&persist)) &&
        SUCCEEDED(persist->Load(wide, STGM_READ))) {
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetWorkingDirectory(working, MAX_PATH);
        link->GetIconLocation(icon, MAX_PATH, &icon_index);
    }
    if (persist != nullptr) persist->Release();
    if (link != nullptr) link->Release();
    say(std::string(folder_name) + " present target=" + target + " workdir=" + working +
        " icon=" + icon + "," + std::to_string(icon_index));
    DeleteFileA(path.c_str());  // each run starts without shortcuts
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

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 3 && strcmp(argv[1], "links") == 0) return links(argv[2]);
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
