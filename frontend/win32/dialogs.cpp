// The destination dialog (modal, before the extraction) and the cancel dialog (the
// stop button inside the progress window).
#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "decode/decoder_state.h"
#include "engine/extraction_loop.h"
#include "engine/member_folders.h"
#include "engine/path_text.h"
#include "platform/system_services.h"
#include "frontend/config_block.h"
#include "frontend/win32/front_end.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

static char dialog_path[PATH_BUFFER_SIZE + 1];  // room for an added separator
// The edit box's text, as the system keeps it; one character more than a path may
// hold, so that a longer text is refused rather than cut to fit.
static WCHAR dialog_text[PATH_BUFFER_SIZE + 1];
static bool browsing;  // the folder browser is open

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

/* The edit box's text into dialog_text, whole; returns the edit box.  WM_GETTEXT is
 * what GetDlgItemTextW sends. */
static HWND read_field(HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_DEST_FOLDER);
    SendMessageW(edit, WM_GETTEXT, PATH_BUFFER_SIZE + 1, (LPARAM)dialog_text);
    return edit;
}

/* Makes the typed folder current, creating its missing levels; the record keeps
 * it with backslashes.  Either slash separates, and a separator at the end is
 * allowed: "C:/a/sub/" is the folder C:\a\sub.  A separator added makes the whole
 * path the parent part that make_parent_folders creates.  A folder that Shift-JIS
 * cannot hold (or 259 bytes cannot) is one the engine could not write into:
 * refused, as one that cannot be made or entered. */
static bool enter_destination(SfxApp* app) {
    if (!to_sjis(dialog_text, dialog_path, PATH_BUFFER_SIZE)) return false;
    convert_separators(dialog_path, '\\');
    if (!replace_owned_text(&app->run.dest_folder, dialog_path)) return false;
    if (platform_change_folder(dialog_path)) return true;
    append_backslash(dialog_path);
    convert_separators(dialog_path, '/');
    return make_parent_folders(&app->run, dialog_path) && platform_change_folder(app->run.dest_folder);
}

/* A folder that cannot be used is said, and the dialog stays with the text as
 * typed, so that the user can mend it. */
static INT_PTR on_destination_ok(HWND dialog) {
    SfxApp* app = &sfx_app;
    read_field(dialog);
    if (!enter_destination(app)) {
        MessageBoxW(dialog, CANNOT_CREATE_FOLDER, nullptr, MB_OK | MB_ICONWARNING);
        return TRUE;
    }
    // BM_GETCHECK is what IsDlgButtonChecked asks.
    for (int box = IDC_START_MENU; box <= IDC_SEND_TO; box++) {
        uint8_t* option = option_of(app, box);
        bool checked = SendMessageW(GetDlgItem(dialog, box), BM_GETCHECK, 0, 0) == BST_CHECKED;
        *option = (uint8_t)((*option & ~OPTION_CHECKED) | (checked ? OPTION_CHECKED : 0));
    }
    EndDialog(dialog, 0);
    return TRUE;
}

/* The browser opens at the typed folder. */
static int CALLBACK browse_callback(HWND browser, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, start);
    return 0;
}

/* The chosen folder only fills the edit box; the destination changes on OK.  The
 * browser is owned by the dialog, which it disables while it is open, and the
 * dialog's buttons do nothing meanwhile (a message from outside may still press
 * them), so the dialog still stands when the browser's result comes.  The browser needs COM, apartment-threaded, on this thread
 * while it is open.  The item list comes from the shell's allocator, which is COM's
 * task allocator. */
static INT_PTR on_browse(HWND dialog) {
    WCHAR display_name[PATH_BUFFER_SIZE];
    HWND edit = read_field(dialog);
    BROWSEINFOW browse = {};
    browse.hwndOwner = dialog;
    browse.pszDisplayName = display_name;
    browse.lpszTitle = BROWSE_TITLE;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = browse_callback;
    browse.lParam = (LPARAM)dialog_text;
    HRESULT com = CoInitialize(nullptr);
    browsing = true;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
    browsing = false;
    if (chosen != nullptr) {
        if (SHGetPathFromIDListW(chosen, display_name)) set_wide_text(edit, display_name);
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
        if (browsing) return TRUE;
        switch (wparam) {
        case IDOK: return on_destination_ok(dialog);
        case IDCANCEL: EndDialog(dialog, 1); return TRUE;
        case IDC_BROWSE: return on_browse(dialog);
        }
        return TRUE;
    }
    return FALSE;
}

/* The stop button is the dialog's one control, so every command is a stop: its
 * click, Escape (IDCANCEL) and Enter (the default button, or IDOK). */
INT_PTR CALLBACK cancel_dialog_proc(HWND, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        decoder.stop_requested = 1;
        return TRUE;
    }
    return FALSE;
}
