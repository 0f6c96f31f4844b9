// The engine's record of one run: the archive, its size, the destination, the
// member being written, whether anything is written at all, and what went wrong.
// The stub's record holds it beside the window handles; the host tool and the
// tests use it alone.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "platform/reports.h"
#include "platform/system_services.h"

enum { PATH_BUFFER_SIZE = 260 };     // MAX_PATH: 259 bytes and the terminator

enum { OUTCOME_LISTED_NAMES = 10 };

struct FolderTime;  // engine/folder_times.h

// What went wrong during a run: the count of failures and the names of the first
// ten failed members, for the end-of-run report.
struct RunOutcome {
    uint32_t failure_count;
    uint8_t archive_damaged;
    uint8_t refused;   // the ARCHIVE_* kind that refused the whole run; 0 when none
    uint8_t listed_count;
    char listed_names[OUTCOME_LISTED_NAMES][PATH_BUFFER_SIZE];
};

struct ExtractionRun {
    FILE* archive_file;                          // positioned on the first header
    FileOffset archive_size;                     // bytes in archive_file, bounding member reads
    char* dest_folder;                           // owned; the members' folder
    char filled_folder[PATH_BUFFER_SIZE + 2];    // "./" and the last members' folder, to be announced
#ifdef MAVUSFX_STUB_BUILD
    static constexpr uint8_t test_only = 0;  // the stub always writes
    static constexpr uint8_t sound_members_first = 0;  // an installer never half-installs
    static constexpr uint32_t sound_members = 0;
    static constexpr uint8_t names_beyond_windows = 0;  // refused as Windows refuses them
#else
    uint8_t test_only;          // decode and check every member, write nothing
    // An archive damaged or cut short after sound members: those members are handled,
    // then the damage or the cut is reported (the host tool on a bare archive).
    // Otherwise such an archive is refused as a whole.
    uint8_t sound_members_first;
    uint32_t sound_members;     // those the walk found and the loop has yet to take
    // Names Windows cannot hold but this system can (only_windows_refuses) are
    // written (the host tool on POSIX); otherwise refused as the installer does.
    uint8_t names_beyond_windows;
    // A MacBinary member (OS id 'm') is written whole, wrapper and both forks;
    // otherwise its data fork alone.
    uint8_t keep_macbinary;
    // The times of the folder entries, set once the run's files are written.
    FolderTime* folder_times;  // owned, from the heap
    uint32_t folder_time_count;
#endif
    RunOutcome outcome;
};

// Notes a failed member (or a damaged archive) in the outcome and passes it on to the
// platform's report.  `name` may be null for a damaged archive.
void record_failure(ExtractionRun* run, const char* name, FailureKind kind);

// Copies at most `size` - 1 bytes of `text` into `out` and terminates it.
void copy_text(char* out, const char* text, unsigned size);
