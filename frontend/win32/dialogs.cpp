// The destination dialog (modal, before the extraction) and the cancel dialog (the
// stop button inside the progress window).
#include <windows.h>
#include <shlobj.h>

#include "engine/extraction_loop.h"
#include "engine/paths.h"
#include "frontend/config_block.h"
#include "frontend/win32/front_end.h"
#include "resources/resource_ids.h"

static SfxApp* dialog_app;
static char dialog_path[PATH_BUFFER_SIZE];

// "フォルダを作成できません"
static const char CANNOT_CREATE_FOLDER[] =
    "\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xf0\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc"
    "\x82\xb9\x82\xf1";
// "解凍先フォルダの指定"
static const char BROWSE_TITLE[] =
    "\x89\xf0\x93\x80\x90\xe6\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xcc\x8e\x77\x92\xe8";

// The check boxes in the order of their option bytes.
static uint8_t* option_of(SfxApp* app, int box) {
    switch (box) {
    case IDC_START_MENU: return &app->start_menu_option;
    case IDC_DESKTOP: return &app->desktop_option;
    default: return &app->send_to_option;
    }
}

static INT_PTR on_init_destination(HWND dialog, SfxApp* app) {
    dialog_app = app;
    SetWindowTextA(dialog, app->title);
    SetDlgItemTextA(dialog, IDC_DEST_FOLDER, app->run.dest_folder);
    for (int box = IDC_START_MENU; box <= IDC_SEND_TO; box++) {
        uint8_t option = *option_of(app, box);
        if (option & OPTION_CHECKED) CheckDlgButton(dialog, box, BST_CHECKED);
        if (!(option & OPTION_ENABLED)) EnableWindow(GetDlgItem(dialog, box), FALSE);
    }
    return TRUE;
}

/* Makes the typed folder current, creating its missing levels: a trailing
 * separator makes the whole path the parent part that make_parent_folders
 * creates.  Returns the dialog's result. */
static INT_PTR enter_destination(SfxApp* app) {
    if (!replace_owned_text(&app->run.dest_folder, dialog_path)) return 1;
    if (SetCurrentDirectoryA(app->run.dest_folder)) return 0;
    char work[PATH_BUFFER_SIZE + 1];  // room for the added separator
    copy_text(work, app->run.dest_folder, PATH_BUFFER_SIZE);
    append_backslash(work);
    convert_separators(work, '/');
    if (!make_parent_folders(&app->run, work)) {
        MessageBoxA((HWND)app->main_window, CANNOT_CREATE_FOLDER, nullptr, MB_OK | MB_ICONWARNING);
        return 1;
    }
    SetCurrentDirectoryA(app->run.dest_folder);
    return 0;
}

static INT_PTR on_destination_ok(HWND dialog) {
    SfxApp* app = dialog_app;
    GetDlgItemTextA(dialog, IDC_DEST_FOLDER, dialog_path, sizeof dialog_path);
    INT_PTR result = enter_destination(app);
    if (result == 0) {
        for (int box = IDC_START_MENU; box <= IDC_SEND_TO; box++) {
            uint8_t* option = option_of(app, box);
            if (IsDlgButtonChecked(dialog, box) == BST_CHECKED) *option |= OPTION_CHECKED;
            else *option &= (uint8_t)~OPTION_CHECKED;
        }
    }
    EndDialog(dialog, result);
    return TRUE;
}

/* The chosen folder only fills the edit box; the destination changes on OK.  The
 * item list comes from the shell's allocator, which is COM's task allocator. */
static INT_PTR on_browse(HWND dialog) {
    char display_name[PATH_BUFFER_SIZE];
    BROWSEINFOA browse = {};
    browse.pszDisplayName = display_name;
    browse.lpszTitle = BROWSE_TITLE;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (chosen != nullptr) {
        SHGetPathFromIDListA(chosen, dialog_path);
        SetDlgItemTextA(dialog, IDC_DEST_FOLDER, dialog_path);
        CoTaskMemFree(chosen);
    }
    return TRUE;
}

INT_PTR CALLBACK destination_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        return on_init_destination(dialog, (SfxApp*)lparam);
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
