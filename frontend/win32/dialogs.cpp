// The destination dialog (modal, before the extraction) and the cancel dialog (the
// stop button inside the progress window).
#include <windows.h>
#include <shlobj.h>

#include "engine/extraction_loop.h"
#include "engine/member_folders.h"
#include "engine/path_text.h"
#include "platform/system_services.h"
#include "frontend/config_block.h"
#include "frontend/win32/front_end.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

static char dialog_path[PATH_BUFFER_SIZE + 1];  // room for an added separator
static WCHAR dialog_text[PATH_BUFFER_SIZE];  // the edit box's text, as the system keeps it

// "フォルダを作成できません"
static const WCHAR CANNOT_CREATE_FOLDER[] =
    L"\u30d5\u30a9\u30eb\u30c0\u3092\u4f5c\u6210\u3067\u304d\u307e\u305b\u3093";
// "解凍先フォルダの指定"
static const WCHAR BROWSE_TITLE[] = L"\u89e3\u51cd\u5148\u30d5\u30a9\u30eb\u30c0\u306e\u6307\u5b9a";

// The check boxes in the order of the option bytes.
static uint8_t* option_of(SfxApp* app, int box) {
    static_assert(IDC_DESKTOP == IDC_START_MENU + 1 && IDC_SEND_TO == IDC_START_MENU + 2,
                  "one option byte per check box, in the boxes' order");
    return shortcut_options(app) + (box - IDC_START_MENU);
}

/* A box is set to its option's state whatever it was: the template leaves every box
 * unchecked and enabled, so setting it so again changes nothing.  BM_SETCHECK is
 * what CheckDlgButton sends, with BST_CHECKED (1) for OPTION_CHECKED (2). */
static INT_PTR on_init_destination(HWND dialog, SfxApp* app) {
    set_text(dialog, app->title);
    set_text(GetDlgItem(dialog, IDC_DEST_FOLDER), app->run.dest_folder);
    for (int box = IDC_START_MENU; box <= IDC_SEND_TO; box++) {
        unsigned option = *option_of(app, box);
        HWND control = GetDlgItem(dialog, box);
        SendMessageW(control, BM_SETCHECK, (option & OPTION_CHECKED) / OPTION_CHECKED, 0);
        EnableWindow(control, option & OPTION_ENABLED);
    }
    return TRUE;
}

/* Makes the typed folder current, creating its missing levels: a trailing
 * separator makes the whole path the parent part that make_parent_folders
 * creates.  A folder that Shift-JIS cannot hold (or 259 bytes cannot) is one the
 * engine could not write into, and gets the same message.  Returns the dialog's
 * result. */
static INT_PTR enter_destination(SfxApp* app) {
    if (to_sjis(dialog_text, dialog_path, PATH_BUFFER_SIZE)) {
        if (!replace_owned_text(&app->run.dest_folder, dialog_path)) return 1;
        if (platform_change_folder(dialog_path)) return 0;
        // The record holds its own copy: the path is made the parent part here.
        append_backslash(dialog_path);
        convert_separators(dialog_path, '/');
        if (make_parent_folders(&app->run, dialog_path)) {
            platform_change_folder(app->run.dest_folder);
            return 0;
        }
    }
    MessageBoxW((HWND)app->main_window, CANNOT_CREATE_FOLDER, nullptr, MB_OK | MB_ICONWARNING);
    return 1;
}

static INT_PTR on_destination_ok(HWND dialog) {
    SfxApp* app = &sfx_app;
    // WM_GETTEXT is what GetDlgItemTextW sends.
    SendMessageW(GetDlgItem(dialog, IDC_DEST_FOLDER), WM_GETTEXT, PATH_BUFFER_SIZE, (LPARAM)dialog_text);
    INT_PTR result = enter_destination(app);
    if (result == 0) {
        // BM_GETCHECK is what IsDlgButtonChecked asks.
        for (int box = IDC_START_MENU; box <= IDC_SEND_TO; box++) {
            uint8_t* option = option_of(app, box);
            bool checked = SendMessageW(GetDlgItem(dialog, box), BM_GETCHECK, 0, 0) == BST_CHECKED;
            *option = (uint8_t)((*option & ~OPTION_CHECKED) | (checked ? OPTION_CHECKED : 0));
        }
    }
    EndDialog(dialog, result);
    return TRUE;
}

/* The chosen folder only fills the edit box; the destination changes on OK.  The
 * browser needs COM, apartment-threaded, on this thread while it is open.  The
 * item list comes from the shell's allocator, which is COM's task allocator. */
static INT_PTR on_browse(HWND dialog) {
    WCHAR display_name[PATH_BUFFER_SIZE];
    BROWSEINFOW browse = {};
    browse.pszDisplayName = display_name;
    browse.lpszTitle = BROWSE_TITLE;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    HRESULT com = CoInitialize(nullptr);
    LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
    if (chosen != nullptr) {
        if (SHGetPathFromIDListW(chosen, display_name))
            set_wide_text(GetDlgItem(dialog, IDC_DEST_FOLDER), display_name);
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return TRUE;
}

INT_PTR CALLBACK destination_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return on_init_destination(dialog, &sfx_app);
    case WM_COMMAND:
        switch (wparam) {
        case IDOK: return on_destination_ok(dialog);
        case IDCANCEL: EndDialog(dialog, 1); return TRUE;
        case IDC_BROWSE: return on_browse(dialog);
        }
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK cancel_dialog_proc(HWND, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (wparam == IDCANCEL) keep_going = 0;
        return TRUE;
    }
    return FALSE;
}
