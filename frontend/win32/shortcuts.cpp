// Shortcuts and launch after a completed run: shell links through the shell's link
// object, with COM initialised around each one, and the launch through the shell.
#include <windows.h>
#include <shlobj.h>

#include "frontend/config_block.h"
#include "frontend/shortcut_paths.h"
#include "frontend/win32/front_end.h"

static const GUID SHELL_LINK_CLASS = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID SHELL_LINK_A_INTERFACE = {
    0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID PERSIST_FILE_INTERFACE = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

void create_shortcuts(SfxApp* app) {
    if (app->start_menu_option & OPTION_CHECKED) create_shortcut(app, CSIDL_PROGRAMS);
    if (app->desktop_option & OPTION_CHECKED) create_shortcut(app, CSIDL_DESKTOPDIRECTORY);
    if (app->send_to_option & OPTION_CHECKED) create_shortcut(app, CSIDL_SENDTO);
}

/* The special folder's file-system path; false when the system cannot resolve it
 * (the shortcut is then skipped, never written to an undefined path). */
static bool special_folder_path(SfxApp* app, int folder_id, char* out) {
    LPITEMIDLIST folder = nullptr;
    if (FAILED(SHGetSpecialFolderLocation((HWND)app->main_window, folder_id, &folder))) return false;
    bool resolved = SHGetPathFromIDListA(folder, out) != FALSE;
    CoTaskMemFree(folder);
    return resolved && out[0] != 0;
}

/* Writes the link: target and icon the file under the destination, working folder
 * the destination itself.  Saving replaces a link of the same name. */
static void save_link(SfxApp* app, IShellLinkA* link, IPersistFile* persist, int folder_id) {
    char folder[PATH_BUFFER_SIZE], link_path[PATH_BUFFER_SIZE], target[PATH_BUFFER_SIZE];
    WCHAR wide_link_path[PATH_BUFFER_SIZE];
    if (!special_folder_path(app, folder_id, folder) ||
        !compose_link_path(folder, app->shortcut_target, link_path, sizeof link_path) ||
        !compose_link_target(app->run.dest_folder, app->shortcut_target, target, sizeof target))
        return;
    link->SetPath(target);
    link->SetIconLocation(target, 0);
    link->SetWorkingDirectory(app->run.dest_folder);
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide_link_path, PATH_BUFFER_SIZE) == 0) return;
    persist->Save(wide_link_path, TRUE);
}

void create_shortcut(SfxApp* app, int folder_id) {
    if (FAILED(CoInitialize(nullptr))) return;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(SHELL_LINK_CLASS, nullptr, CLSCTX_INPROC_SERVER,
                                   SHELL_LINK_A_INTERFACE, (void**)&link))) {
        IPersistFile* persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(PERSIST_FILE_INTERFACE, (void**)&persist))) {
            save_link(app, link, persist, folder_id);
            persist->Release();
        }
        link->Release();
    }
    CoUninitialize();
}

/* Started from the destination, which is the current folder; nothing waits for it. */
void launch_program(SfxApp* app) {
    char path[PATH_BUFFER_SIZE];
    if (!compose_launch_path(app->run.dest_folder, app->launch_target, path, sizeof path)) return;
    ShellExecuteA((HWND)app->main_window, nullptr, path, nullptr, nullptr, SW_SHOWNORMAL);
}
