// Shortcuts and launch after a completed run: shell links through the shell's link
// object, with COM initialised around each one, and the launch through the shell.
// Every path reaches the shell in UTF-16, whatever the system's code page.
#include <windows.h>
#include <shlobj.h>

#include "frontend/config_block.h"
#include "frontend/shortcut_paths.h"
#include "frontend/win32/front_end.h"
#include "platform/win32/wide_text.h"

static const GUID SHELL_LINK_CLASS = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID SHELL_LINK_W_INTERFACE = {
    0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID PERSIST_FILE_INTERFACE = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

void create_shortcuts(SfxApp* app) {
    // The special folders in the order of the option bytes.
    static const uint8_t FOLDER_IDS[] = {CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_SENDTO};
    for (int i = 0; i < 3; i++)
        if (shortcut_options(app)[i] & OPTION_CHECKED) create_shortcut(app, FOLDER_IDS[i]);
}

/* The special folder's file-system path, wide (a user folder may hold characters of
 * no code page); false when the system cannot resolve it (the shortcut is then
 * skipped, never written to an undefined path).  Nothing is created for it. */
static bool special_folder_path(SfxApp* app, int folder_id, WCHAR* out) {
    out[0] = 0;
    return SHGetSpecialFolderPathW((HWND)app->main_window, out, folder_id, FALSE) && out[0] != 0;
}

/* Writes the link: target and icon the file under the destination, working folder
 * the destination itself.  Saving replaces a link of the same name.  The link's
 * name is composed after an empty folder ("\name.lnk") and put behind the folder's
 * wide path. */
static void save_link(SfxApp* app, IShellLinkW* link, IPersistFile* persist, int folder_id) {
    char name[PATH_BUFFER_SIZE], target[PATH_BUFFER_SIZE];
    WCHAR link_path[PATH_BUFFER_SIZE], wide_target[PATH_BUFFER_SIZE], folder[PATH_BUFFER_SIZE];
    if (!special_folder_path(app, folder_id, link_path) ||
        !compose_link_path("", app->shortcut_target, name, sizeof name) ||
        !append_wide(link_path, PATH_BUFFER_SIZE, name) ||
        !compose_link_target(app->run.dest_folder, app->shortcut_target, target, sizeof target))
        return;
    to_wide(target, wide_target, PATH_BUFFER_SIZE);
    link->SetPath(wide_target);
    link->SetIconLocation(wide_target, 0);
    link->SetWorkingDirectory(to_wide(app->run.dest_folder, folder, PATH_BUFFER_SIZE));
    persist->Save(link_path, TRUE);
}

void create_shortcut(SfxApp* app, int folder_id) {
    if (FAILED(CoInitialize(nullptr))) return;
    // Each interface is used only after the call that gave it succeeded.
    IShellLinkW* link;
    if (SUCCEEDED(CoCreateInstance(SHELL_LINK_CLASS, nullptr, CLSCTX_INPROC_SERVER,
                                   SHELL_LINK_W_INTERFACE, (void**)&link))) {
        IPersistFile* persist;
        if (SUCCEEDED(link->QueryInterface(PERSIST_FILE_INTERFACE, (void**)&persist))) {
            save_link(app, link, persist, folder_id);
            persist->Release();
        }
        link->Release();
    }
    CoUninitialize();
}

/* Started from the destination, which is the current folder; nothing waits for the
 * started program.  The request itself completes before this returns (the process
 * ends right after): a document whose handler is a COM object or a delegated one
 * would otherwise be lost with it, and such handlers need COM on this thread. */
void launch_program(SfxApp* app) {
    char path[PATH_BUFFER_SIZE];
    WCHAR wide_path[PATH_BUFFER_SIZE];
    if (!compose_launch_path(app->run.dest_folder, app->launch_target, path, sizeof path)) return;
    SHELLEXECUTEINFOW launch = {};
    launch.cbSize = sizeof launch;
    launch.fMask = SEE_MASK_NOASYNC;
    launch.hwnd = (HWND)app->main_window;
    launch.lpFile = to_wide(path, wide_path, PATH_BUFFER_SIZE);
    launch.nShow = SW_SHOWNORMAL;
    HRESULT com = CoInitialize(nullptr);
    ShellExecuteExW(&launch);
    if (SUCCEEDED(com)) CoUninitialize();
}
