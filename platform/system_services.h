// What the engine and the portable parts of the front end need of the operating
// system: folders, files, free space, times, memory and shell notices.  They reach
// the system only through these functions; platform/win32 implements them with the
// Win32 API and the MSVCRT runtime, platform/posix with POSIX calls.
//
// Paths are Shift-JIS bytes; on Windows they reach the system as UTF-16 through the
// wide functions, whatever the system's code page.  On POSIX they pass the hooks'
// file-name mapping first (platform/report_hooks.h).
#pragma once

#include <stdint.h>
#include <stdio.h>

// The process's current folder (GetCurrentDirectoryW).  False, with `out` empty,
// when it does not fit or Shift-JIS cannot hold it.
bool platform_current_folder(char* out, unsigned size);
// The system folder (GetSystemDirectoryW), which lies on the Windows folder's drive;
// on POSIX a fixed "C:\Windows\System32".  False, with `out` empty, as above.
bool platform_system_folder(char* out, unsigned size);
// Makes the current folder `path` (SetCurrentDirectoryW).
bool platform_change_folder(const char* path);
// Creates one folder (CreateDirectoryW, default security).
bool platform_create_folder(const char* path);

enum FolderState { PATH_MISSING, PATH_IS_FOLDER, PATH_IS_OTHER };
// What `path` names, a link taken for what it leads to (stat; GetFileAttributesW):
// nothing, a folder or something else.
FolderState platform_path_state(const char* path);

// A folder held open while a member is written into it: a descriptor on POSIX, a
// handle on Windows.  Names inside it are looked up from the folder itself, never
// again from a path, so that a folder swapped for a link once it is open cannot
// lead a write elsewhere.  Each name is one component, without separators.
typedef intptr_t OpenFolder;

// The current folder as the process holds it (AT_FDCWD; the handle of the current
// directory that Windows keeps for the process): the root of every member path.
// platform_close_folder leaves it open.
OpenFolder platform_current_folder_root();
enum FolderOpened { FOLDER_OPENED, FOLDER_MADE, FOLDER_IS_LINK, FOLDER_FAILED };
// Opens the folder `name` inside `parent` into `folder`, making it first when it
// is missing (FOLDER_MADE), without ever following a link: a symbolic link, a
// junction or another reparse point under that name is FOLDER_IS_LINK.  `path` is
// the same folder from the current folder ('/' between components).  POSIX:
// openat/mkdirat with O_DIRECTORY | O_NOFOLLOW.  Windows: NtCreateFile relative to
// the parent with FILE_OPEN_REPARSE_POINT, then the attributes of `path` (Wine
// opens a Unix link as what it leads to and shows it only by its name); the folder
// is held without FILE_SHARE_DELETE, so its name cannot change meanwhile.  Only
// FOLDER_OPENED and FOLDER_MADE leave a folder to close.
FolderOpened platform_open_folder(OpenFolder parent, const char* name, const char* path,
                                  OpenFolder* folder);
// Closes an open folder (not the current folder's root).
void platform_close_folder(OpenFolder folder);
// True when `path` (from the current folder) is itself a symbolic link, a junction
// or another reparse point (lstat; FILE_ATTRIBUTE_REPARSE_POINT).
bool platform_is_link(const char* path);
// Creates and opens ("wb"; in the host tool "w+b", as engine/macbinary.cpp reads a
// member back) the file `name` in `folder`, which must not exist yet: a
// name that exists, as a link too, is never opened (O_CREAT | O_EXCL | O_NOFOLLOW;
// FILE_CREATE).  Null when that fails.
FILE* platform_create_file_in(OpenFolder folder, const char* name);
// Settles the new file `temporary` in `folder`: with `keep`, sets its access and
// modification time to `unix_time` and moves it over `name` there, replacing a file
// (a link at `name` is replaced, not followed); without, deletes it.  True when the
// file was kept (utimensat with AT_SYMLINK_NOFOLLOW, renameat, unlinkat; SetFileTime,
// FileRenameInformation, FILE_DELETE_ON_CLOSE).
bool platform_settle_file_in(OpenFolder folder, const char* temporary, const char* name, bool keep,
                             uint32_t unix_time);

// A position in a file, in 64 bits: archives may pass 2 GiB, where a `long` stops
// on Windows.  The position of an open file in bytes from its start (ftello;
// _ftelli64), -1 on failure, and a move to `offset` bytes from its start (SEEK_SET)
// or its end (SEEK_END), 0 when done, as fseek (fseeko; _fseeki64).
#ifdef MAVUSFX_STUB_BUILD
// The stub still counts in a `long` (installers up to 2 GiB), with the runtime's
// own calls: 64-bit positions cost it more bytes than it has.
typedef long FileOffset;
__attribute__((always_inline)) inline FileOffset platform_tell(FILE* file) { return ftell(file); }
__attribute__((always_inline)) inline int platform_seek(FILE* file, FileOffset offset, int origin) {
    return fseek(file, offset, origin);
}
#else
typedef int64_t FileOffset;
FileOffset platform_tell(FILE* file);
int platform_seek(FILE* file, FileOffset offset, int origin);
#endif
// Free bytes for this process on the volume of `folder`, named as it is, not as a
// member's path (statvfs; GetDiskFreeSpaceExW); UINT64_MAX when unknown.
uint64_t platform_free_space(const char* folder);
// Available physical memory in bytes (GlobalMemoryStatus), 0 when unknown.
uint32_t platform_available_memory();
// Seconds west of UTC for local standard time (_tzset, _timezone).
int32_t platform_timezone_offset();

#ifndef MAVUSFX_STUB_BUILD
// Host tool only.  Gives an open file the Unix permissions `mode` (0777 at most),
// less the bits the umask takes away (fchmod); nothing on Windows.
void platform_set_file_mode(FILE* file, uint32_t mode);
// Sets access and modification time of the folder `path` to `unix_time` and, unless
// `mode` is negative, its Unix permissions to `mode` (0777 at most) less the umask;
// the folder is reached without following any link on the way or at its end: a
// link put in a folder's place gets nothing, nor does what it leads to (openat with
// O_NOFOLLOW, futimens, fchmod; CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT, no
// permissions).  Failure is ignored.
void platform_stamp_folder(const char* path, uint32_t unix_time, int32_t mode);
#endif

enum ShellEvent { SHELL_FOLDER_MADE = 8, SHELL_FOLDER_UPDATED = 0x1000 };
// Announces a folder made or changed to the shell (SHChangeNotify, SHCNF_PATHW), by
// its whole path (GetFullPathNameW): `path` may be relative to the current folder.
void platform_notify_shell(ShellEvent event, const char* path);
