#include "engine/member_folders.h"

#include <string.h>

#include "platform/system_services.h"

enum { FOLDER_WORK_BUFFER = 1024 };

/* Each component is looked at from the outermost in, up to the first one that does
 * not exist: nothing below a missing folder can be a link.  The path is cut at each
 * separator in turn and mended behind it. */
bool path_has_link(char* path) {
    for (char* p = path;; p++) {
        char c = *p;
        if (c != '/' && c != 0) continue;
        *p = 0;
        FolderState state = p != path ? platform_link_state(path) : PATH_IS_FOLDER;
        *p = c;
        if (state == PATH_IS_LINK) return true;
        if (state == PATH_MISSING || c == 0) return false;
    }
}

/* Walks up the path until a folder exists or can be created, and creates the missing
 * ones on the way back down, the outermost first; each one made is announced.  Only
 * '/' separates here: a '/' byte never occurs inside a Shift-JIS character. */
bool make_parent_folders(ExtractionRun* run, const char* path) {
    char folder[FOLDER_WORK_BUFFER];
    size_t length = strlen(path);
    if (length >= sizeof folder) return false;
    memcpy(folder, path, length + 1);
    char* last = nullptr;
    for (char* p = folder; *p != 0; p++)
        if (*p == '/') last = p;
    if (last == nullptr || last == folder) return false;
    *last = 0;

    FolderState state = platform_path_state(folder);
    if (state != PATH_MISSING) return state == PATH_IS_FOLDER;
    if (platform_create_folder(folder)) {
        platform_notify_shell(SHELL_FOLDER_MADE, folder);
        return true;
    }
    if (!make_parent_folders(run, folder)) return false;
    if (platform_create_folder(folder)) {
        platform_notify_shell(SHELL_FOLDER_MADE, folder);
        return true;
    }
    // "a/b/" after "a/b" was made (the path had two separators at its end).
    return platform_path_state(folder) == PATH_IS_FOLDER;
}
