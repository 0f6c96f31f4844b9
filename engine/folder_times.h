// The times of the folder entries, kept while the folders fill and set at the end
// of the run: writing a member into a folder would change its time again.  Host
// tool only; the stub gives its folders the time they are made.
#pragma once

#include <stdint.h>

#include "engine/extraction_run.h"

#ifndef MAVUSFX_STUB_BUILD
struct FolderTime {
    char path[PATH_BUFFER_SIZE];  // relative to the destination, without a trailing '/'
    uint32_t time;                // seconds since 1970, UTC
};

// Keeps `time` for the folder `path` (a trailing '/' is dropped).  A folder named
// twice gets the later entry's time.  Nothing is kept when memory runs out.
void note_folder_time(ExtractionRun* run, const char* path, uint32_t time);
// Sets the kept times, the deepest folders first, through
// platform_set_folder_time, and forgets them.
void restore_folder_times(ExtractionRun* run);
#endif
