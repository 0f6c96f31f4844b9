// The narrow seam between the portable engine and the operating system.  The
// engine and the portable parts of the front end reach the system only through
// these functions; platform/win32 implements them with the Win32 API and the
// MSVCRT runtime, platform/posix with POSIX calls.  Reports to the window (member
// name, progress, end of run, message boxes, failures) go to the progress window
// in the stub and to installable hooks everywhere else (the host tool, tests).
#pragma once

#include <stdint.h>
#include <stdio.h>


// Why a member (or the archive) did not come out right.  The engine records each
// in the run outcome and reports it through the platform seam.
enum FailureKind {
    FAILED_UNSAFE_PATH,     // absolute path or '..': would land outside the destination
    FAILED_UNKNOWN_METHOD,  // method id not in METHOD_TABLE: skipped
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

// ---- system services ------------------------------------------------------

// Paths are Shift-JIS bytes; on Windows they reach the system as UTF-16 through the
// wide functions, whatever the system's code page.

// The process's current folder (GetCurrentDirectoryW).  False, with `out` empty,
// when it does not fit or Shift-JIS cannot hold it.
bool platform_current_folder(char* out, unsigned size);
// The Windows folder (GetWindowsDirectoryW); on POSIX a fixed "C:\Windows".  False,
// with `out` empty, as above.
bool platform_windows_folder(char* out, unsigned size);
// Makes the current folder `path` (SetCurrentDirectoryW).
bool platform_change_folder(const char* path);
// Creates one folder (CreateDirectoryW, default security).
bool platform_create_folder(const char* path);

enum FolderState { PATH_MISSING, PATH_IS_FOLDER, PATH_IS_OTHER, PATH_IS_LINK };
// What `path` names, a link taken for what it leads to (stat; GetFileAttributesW):
// nothing, a folder or something else.
FolderState platform_path_state(const char* path);
// The same for the name itself, which may be a link: a symbolic link, a junction or
// another reparse point is PATH_IS_LINK (lstat; FILE_ATTRIBUTE_REPARSE_POINT).
FolderState platform_link_state(const char* path);

// Deletes a file (DeleteFileW); the result is not needed by anyone.
void platform_delete_file(const char* path);
// Creates and opens ("wb") a file that must not exist yet: a name that exists, as a
// link too, is never opened (O_CREAT | O_EXCL; _wopen).  Null when
// that fails.
FILE* platform_create_new_file(const char* path);
// Moves `from` over `to`, replacing a file there (rename; MoveFileExW with
// MOVEFILE_REPLACE_EXISTING); a link at `to` is replaced, not followed.
bool platform_replace_file(const char* from, const char* to);
// Free bytes for this process on the volume of `folder` (statvfs;
// GetDiskFreeSpaceExW); UINT64_MAX when unknown.
uint64_t platform_free_space(const char* folder);
// Sets access and modification time to `unix_time` (_wutime); failure is ignored.
void platform_set_file_time(const char* path, uint32_t unix_time);
// Available physical memory in bytes (GlobalMemoryStatus), 0 when unknown.
uint32_t platform_available_memory();
// Seconds west of UTC for local standard time (_tzset, _timezone).
int32_t platform_timezone_offset();

enum ShellEvent { SHELL_FILE_CREATED = 2, SHELL_FOLDER_MADE = 8 };
// Announces a created file or folder to the shell (SHChangeNotify, SHCNF_PATHW).
void platform_notify_shell(ShellEvent event, const char* path);

// ---- reports to the window -------------------------------------------------

// The stub's progress window and its bar, given once at start-up before the worker
// runs; the reports below go to them.  Only in the stub.
void platform_set_report_window(void* main_window, void* progress_bar);

// The member about to be extracted (WM_SFX_MEMBER, sent).
void platform_report_member(const char* name);
// A new progress percentage (PBM_SETPOS to the progress bar, sent).
void platform_report_progress(uint32_t percent);
// A member failed, or the archive is damaged (name null).
void platform_report_failure(const char* name, FailureKind kind);
// A member that came out right only when read by its method's older encoders'
// rule (the format's reading failed).  Nothing to show in the stub.
void platform_report_older_reading(const char* name);
// A header of a layout no reader knows: in the stub the window shows the
// "Unknown header" box (caption "Mavu SFX", hand icon, OK only).
void platform_report_unknown_header();
// The worker's last act: WM_SFX_DONE, or WM_SFX_CANCELLED when `cancelled`.
void platform_report_end(bool cancelled);

// ---- hooks for everything that is not the stub's window ----------------------

// Where the reports go outside the stub.  Any entry may be null.  The host tool
// prints them; tests record them.  Shell notices are passed here too on POSIX.
struct PlatformHooks {
    void (*member)(void* context, const char* name);
    void (*progress)(void* context, uint32_t percent);
    void (*failure)(void* context, const char* name, FailureKind kind);
    void (*unknown_header)(void* context);
    void (*end)(void* context, bool cancelled);
    void (*shell_notice)(void* context, ShellEvent event, const char* path);
    void* context;
    void (*older_reading)(void* context, const char* name);
    // The name in the file system for a path the engine writes (POSIX only): the
    // result into `out` (`size` bytes); false when there is none.  Null: the bytes
    // as they are.
    bool (*file_name)(void* context, const char* path, char* out, unsigned size);
};

// Installs the hooks (null: reports go nowhere).  Not used by the stub.
void platform_set_hooks(const PlatformHooks* hooks);
// Passes a shell notice to the hooks: how the POSIX side announces.
void notify_hooked_shell(ShellEvent event, const char* path);
// The file-system name of `path` by the hooks (`path` itself without a hook), in
// `buffer` (`size` bytes) when it differs; null when the hook finds none.
const char* hooked_file_name(const char* path, char* buffer, unsigned size);

// ---- the host tool's console and files ----------------------------------------

// True when the standard error stream is a terminal (a progress bar may be drawn).
bool platform_error_output_is_terminal();
// Seconds on a monotonic clock.
double platform_seconds_now();

// What the packer needs to know of a path (links followed).  `identity` tells two
// names of one file apart from two files (device and file number).
struct PathInfo {
    bool is_link;      // the path itself is a symbolic link (the rest is of its target)
    bool is_folder;
    bool is_file;      // a plain file (not a folder, pipe, device ...)
    uint64_t size;
    int64_t modified;  // seconds since 1970, UTC
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
// Creates a new, empty file beside `path` ("path.partXXXXXX") for reading and writing,
// with the permissions a new file usually gets; its name goes to `name` (`size` bytes).
FILE* platform_create_temporary(const char* path, char* name, unsigned size);
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

// ---- text conversion for the host tool ---------------------------------------

// Code page 932 (Shift-JIS) to UTF-8 and back.  False when the text does not
// convert or does not fit `size` bytes with its terminator.
bool platform_sjis_to_utf8(const char* text, char* out, unsigned size);
bool platform_utf8_to_sjis(const char* text, char* out, unsigned size);

// Takes the locale from the environment.  On POSIX a locale whose characters are
// plain ASCII (the "C" locale) gives way to C.UTF-8 for characters, as names on
// such systems are UTF-8 nearly everywhere.
void platform_use_locale();
// Shift-JIS text in the locale's encoding, as file names and the terminal take it
// (on Windows: UTF-8 for the console).  False when it does not convert or fit.
bool platform_sjis_to_local(const char* text, char* out, unsigned size);
// UTF-8 text in Normalization Form C (composed, as Windows and most Linux programs
// write names; macOS writes them decomposed).  False when the text is not UTF-8 or
// does not fit.
bool platform_utf8_to_nfc(const char* text, char* out, unsigned size);
