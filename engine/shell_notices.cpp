#include "engine/shell_notices.h"

#include <string.h>

#include "engine/path_text.h"
#include "platform/system_services.h"

void notify_shell(ExtractionRun* run, bool folder_made, const char* path) {
    if (folder_made) {
        platform_notify_shell(SHELL_FOLDER_MADE, path);
        return;
    }
    // The destination folder, one backslash and the member path: anything longer
    // than 259 bytes is cut there rather than written past the buffer.
    char announced[PATH_BUFFER_SIZE];
    copy_text(announced, run->dest_folder != nullptr ? run->dest_folder : "", sizeof announced - 1);
    append_backslash(announced);
    size_t used = strlen(announced);
    copy_text(announced + used, path, (unsigned)(sizeof announced - used));
    for (char* p = announced; *p != 0; p++)
        if (*p == '/') *p = '\\';
    platform_notify_shell(SHELL_FILE_CREATED, announced);
}
