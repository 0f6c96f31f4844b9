// The one record of a run: the program's module, its own file, the progress
// window, the configuration read from the combined file, the destination and the
// shortcut options.  WinMain keeps it on its stack; every operation that needs run
// data gets a pointer to it.  Portable: window and module handles are opaque here.
#pragma once

#include <stdint.h>
#include <stdio.h>

enum { PATH_BUFFER_SIZE = 260 };     // MAX_PATH: 259 bytes and the terminator

// Why a member (or the archive) did not come out right.  The engine records each
// in the run outcome and reports it through the platform seam.
enum FailureKind {
    FAILED_UNSAFE_PATH,     // absolute path or '..': would land outside the destination
    FAILED_UNKNOWN_METHOD,  // method id not in METHOD_IDS: skipped
    FAILED_CANNOT_CREATE,   // the output file could not be opened
    FAILED_WRITE_ERROR,     // a write or the close of the output file failed
    FAILED_CRC_MISMATCH,    // the data's CRC-16 differs from the header's
    FAILED_DAMAGED,         // the compressed data is not a valid stream
    FAILED_TRUNCATED,       // the archive ends inside the member's data
    FAILED_NO_MEMORY,       // a buffer for the member could not be allocated
    FAILED_LINK_IN_PATH,    // a symbolic link, junction or reparse point on the way
    FAILED_WINDOWS_NAME,    // a name Windows cannot hold (device, ':', control byte...)
    // Whole-run refusals, found before anything is written: nothing is extracted.
    ARCHIVE_DAMAGED,        // a header that is neither a clean end nor readable
    ARCHIVE_CUT_SHORT,      // a member's data or the end byte lies past the file's end
    ARCHIVE_NOT_LHA,        // no LHA archive at all where it should begin
    ARCHIVE_NO_SPACE,       // the members need more than the destination has free
    NO_FAILURE              // not a failure: what a sound member comes out as
};

enum { OUTCOME_LISTED_NAMES = 10 };

// What went wrong during a run: the count of failures and the names of the first
// ten failed members, for the end-of-run report.
struct RunOutcome {
    uint32_t failure_count;
    uint8_t archive_damaged;
    uint8_t refused;   // the ARCHIVE_* kind that refused the whole run; 0 when none
    uint8_t listed_count;
    char listed_names[OUTCOME_LISTED_NAMES][PATH_BUFFER_SIZE];
};

struct SfxApp {
    void* instance;                              // module instance handle
    char own_path[PATH_BUFFER_SIZE];             // the program's own file
    void* main_window;                           // the progress window
    void* status_text;                           // the status line
    void* cancel_dialog;                         // the modeless cancel dialog
    FILE* archive_file;                          // own file, opened "rb"
    const uint8_t* header_cursor;                // read position in the header buffer
    char* dest_folder;                           // owned texts
    char* title;
    char* shortcut_target;
    char* launch_target;
    uint8_t start_menu_option;                   // option bits, see config_block.h
    uint8_t desktop_option;
    uint8_t send_to_option;
    uint8_t has_config;                          // 1 once a complete block was read

    // Beyond the classic record: what a careful run needs on top.
#ifdef MAVUSFX_STUB_BUILD
    static constexpr uint8_t test_only = 0;  // the stub always writes
#else
    uint8_t test_only;          // decode and check every member, write nothing
#endif
    long archive_size;          // bytes in archive_file, for bounding member reads
    RunOutcome outcome;
};

void init_app(SfxApp* app, void* instance);
void release_app(SfxApp* app);

// Replaces an owned text with a heap copy of `text` (or null); the old one is freed.
// Returns false when no memory was left, leaving the field null.
bool replace_owned_text(char** field, const char* text);

// Notes a failed member (or a damaged archive) in the outcome and passes it on to the
// platform's report.  `name` may be null for a damaged archive.
void record_failure(SfxApp* app, const char* name, FailureKind kind);

// Copies at most `size` - 1 bytes of `text` into `out` and terminates it.
void copy_text(char* out, const char* text, unsigned size);
