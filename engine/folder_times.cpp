#include "engine/folder_times.h"

#ifndef MAVUSFX_STUB_BUILD
#include <stdlib.h>
#include <string.h>

#include "platform/system_services.h"

enum { FIRST_ROOM = 16 };

/* The list grows to twice its room each time it is full: at 16, 32, 64 ... */
void note_folder_time(ExtractionRun* run, const char* path, const MemberHeader* header) {
    size_t length = strlen(path);
    while (length > 0 && path[length - 1] == '/') length--;
    if (length == 0 || length >= PATH_BUFFER_SIZE) return;
    uint32_t count = run->folder_time_count;
    if (count == 0 || (count >= FIRST_ROOM && (count & (count - 1)) == 0)) {
        size_t room = count == 0 ? (size_t)FIRST_ROOM : (size_t)count * 2;
        void* grown = realloc(run->folder_times, room * sizeof(FolderTime));
        if (grown == nullptr) return;
        run->folder_times = (FolderTime*)grown;
    }
    FolderTime* kept = &run->folder_times[count];
    memcpy(kept->path, path, length);
    kept->path[length] = 0;
    kept->time = header->time;
    kept->mode = header->has_mode ? (int32_t)(header->mode & 0777u) : -1;
    run->folder_time_count = count + 1;
}

static uint32_t depth_of(const char* path) {
    uint32_t depth = 0;
    for (; *path != 0; path++) depth += *path == '/';
    return depth;
}

/* Deepest first, and at one depth in the archive's order, so that a folder named
 * twice ends with its later time.  Setting a folder's time changes nothing in the
 * folder above it. */
void restore_folder_times(ExtractionRun* run) {
    uint32_t count = run->folder_time_count;
    uint32_t deepest = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t depth = depth_of(run->folder_times[i].path);
        if (depth > deepest) deepest = depth;
    }
    for (uint32_t depth = deepest + 1; depth-- > 0;)
        for (uint32_t i = 0; i < count; i++)
            if (depth_of(run->folder_times[i].path) == depth)
                platform_stamp_folder(run->folder_times[i].path, run->folder_times[i].time,
                                      run->folder_times[i].mode);
    free(run->folder_times);
    run->folder_times = nullptr;
    run->folder_time_count = 0;
}
#endif
