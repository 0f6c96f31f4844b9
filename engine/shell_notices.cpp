#include "engine/shell_notices.h"

#include <string.h>

#include "platform/system_services.h"

/* Windows shows a new file in an open window of its folder once the folder is
 * announced as changed (SHCNE_UPDATEDIR); one notice for a folder's files instead
 * of one a file spares the shell thousands of look-ups of every part of each path.
 * A file's folder is "./" and its path, cut at the last '/': "./a/b", or "." for
 * the destination itself. */
void notify_file_written(ExtractionRun* run, const char* path) {
    char folder[sizeof run->filled_folder];
    folder[0] = '.';
    folder[1] = '/';
    char* end = folder + 1;
    char* out = folder + 2;
    for (; (*out = *path) != 0; path++, out++)
        if (*out == '/') end = out;
    *end = 0;
    const char* a = folder;
    const char* b = run->filled_folder;
    while (*a == *b && *a != 0) a++, b++;
    if (*a == *b) return;
    finish_shell_notices(run);
    memcpy(run->filled_folder, folder, sizeof folder);
}

void finish_shell_notices(ExtractionRun* run) {
    if (run->filled_folder[0] != 0) platform_notify_shell(SHELL_FOLDER_UPDATED, run->filled_folder);
    run->filled_folder[0] = 0;
}
