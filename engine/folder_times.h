// The times of the folder entries, kept while the folders fill and set at the end
// of the run: writing a member into a folder would change its time again.  Host
// tool only; the stub gives its folders the time they are made.
#pragma once

#include <stdint.h>

#include "engine/extraction_run.h"
#include "engine/member_header.h"

#ifndef MAVUSFX_STUB_BUILD
struct FolderTime {
    char path[PATH_BUFFER_SIZE];  // relative to the destination, without a trailing '/'
    uint32_t time;                // seconds since 1970, UTC
    int32_t mode;                 // Unix permissions stored with the entry, -1 for none
};

// Keeps the time and the stored permissions of the folder entry `header` for the
// folder `path` (a trailing '/' is dropped).  A folder named twice gets the later
// entry's.  Nothing is kept when memory runs out.
void note_folder_time(ExtractionRun* run, const char* path, const MemberHeader* header);
// Sets the kept times and permissions, the deepest folders first (a folder closed
// to writing is closed once everything below it is done), through
// platform_stamp_folder, and forgets them.
void restore_folder_times(ExtractionRun* run);
#endif
