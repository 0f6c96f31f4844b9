// What only the host tool needs of the system: the terminal, a clock, the packer's
// folders and files, and one helper thread.  platform/posix/host_posix.cpp and
// platform/win32/host_win32.cpp implement them; the stub has none of them.
#pragma once

#include <stdint.h>
#include <stdio.h>

// True when the standard error stream is a terminal (a progress bar may be drawn).
bool platform_error_output_is_terminal();
// Seconds on a monotonic clock.
double platform_seconds_now();
// True when files may bear names Windows cannot hold (a trailing dot, "CON", a ':'):
// on POSIX; false on Windows.
bool platform_takes_names_windows_refuses();

// What the packer needs to know of a path (links followed).  `identity` tells two
// names of one file apart from two files (device and file number).
struct PathInfo {
    bool is_link;      // the path itself is a symbolic link (the rest is of its target)
    bool is_folder;
    bool is_file;      // a plain file (not a folder, pipe, device ...)
    uint64_t size;
    int64_t modified;  // seconds since 1970, UTC
    bool has_mode;     // the system keeps Unix permissions (not on Windows)
    uint32_t mode;     // those permissions, set-user-ID, set-group-ID and sticky bits included
    uint64_t identity[2];
};
// False when the path cannot be examined; errno (or its like) tells why.  `is_link`
// is set even then: a link that leads nowhere.
bool platform_path_info(const char* path, PathInfo* info);
// The absolute path of `path` with every link resolved ('/' or '\\' between the
// components as the system writes them).  False when it does not resolve or fit.
bool platform_real_path(const char* path, char* out, unsigned size);
// The identity of an open file, as platform_path_info gives it.
bool platform_file_identity(FILE* file, uint64_t identity[2]);
// Calls `add` with each name in the folder but "." and "..", in no set order.
bool platform_list_folder(const char* path, void (*add)(void* context, const char* name),
                          void* context);
// Deletes a file (unlink; DeleteFileW); the result is not needed by anyone.
void platform_delete_file(const char* path);
// Moves `from` over `to`, replacing a file there (rename; MoveFileExW with
// MOVEFILE_REPLACE_EXISTING); a link at `to` is replaced, not followed.
bool platform_replace_file(const char* from, const char* to);
// Creates a new, empty file beside `path` ("path.partXXXXXX") for reading and writing,
// with the permissions a new file usually gets; its name goes to `name` (`size` bytes).
FILE* platform_create_temporary(const char* path, char* name, unsigned size);
// True when the standard output stream is a terminal (no archive is written there).
bool platform_output_is_terminal();
// Makes an open stream pass bytes as they are (no line-end translation on Windows).
void platform_make_binary(FILE* stream);
// A new, empty file for reading and writing that has no lasting name: it is gone
// once closed, however the process ends.  Null (errno set) when none can be made.
FILE* platform_create_scratch_file();
// From now on SIGINT, SIGTERM and SIGHUP first remove the files being written (those
// made by platform_create_temporary and platform_create_file_in, not yet moved by
// platform_replace_file or platform_settle_file_in, or removed), then end the process as
// the signal would have.  A signal ignored when the tool started stays ignored.
// Nothing on Windows.
void platform_clean_up_on_signals();
// Cuts an open file (flushed) to `length` bytes.
bool platform_truncate(FILE* file, int64_t length);

// One helper thread of the host tool, taking one piece of work at a time in the
// order given.  platform_hand_to_helper waits until the helper has finished the
// piece it holds, then gives it `work` to run with `item`; false when the thread
// could not be started (the caller then does the work itself).  The thread starts
// with the first piece and stays for the rest of the process.
bool platform_hand_to_helper(void (*work)(void* item), void* item);
// Waits until the helper has finished every piece given.  What the pieces wrote is
// then seen by the caller.
void platform_wait_for_helper();
