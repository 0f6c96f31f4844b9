#include "engine/member_folders.h"

#include <string.h>

#include "engine/shell_notices.h"
#include "platform/system_services.h"

enum { FOLDER_WORK_BUFFER = 1024 };

/* Empty components ("a//b") name nothing and are stepped over.  Each folder is
 * closed once the one inside it is open: the open child needs no parent to stay
 * where it is. */
FailureKind open_member_folder(char* path, bool whole, OpenFolder* folder,
                               const char** last) {
    *folder = platform_current_folder_root();
    char* component = path;
    for (char* p = path;; p++) {
        char kept = *p;
        if (kept != '/' && (kept != 0 || !whole)) {
            if (kept != 0) continue;
            if (last != nullptr) *last = component;
            return NO_FAILURE;
        }
        *p = 0;
        if (*component != 0) {
            OpenFolder inner;
            FolderOpened opened = platform_open_folder(*folder, component, path, &inner);
            if (opened == FOLDER_MADE) platform_notify_shell(SHELL_FOLDER_MADE, path);
            platform_close_folder(*folder);
            *folder = inner;
            if (opened >= FOLDER_IS_LINK) {
                *p = kept;
                return opened == FOLDER_IS_LINK ? FAILED_LINK_IN_PATH : FAILED_CANNOT_CREATE;
            }
        }
        *p = kept;
        if (kept == 0) return NO_FAILURE;
        component = p + 1;
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
