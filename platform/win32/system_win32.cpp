// System services on Windows: the Win32 API and the MSVCRT runtime.  Paths arrive
// in Shift-JIS and reach the system through the wide functions, so that names
// come out right whatever the system's code page is.
#include <windows.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <io.h>
#include <fcntl.h>
#include <stdio.h>
#include <time.h>

#include "platform/system_services.h"
#include "platform/win32/wide_text.h"

/* One path at a time is handed to the system.  The window thread does so before the
 * worker starts and after its end message; the worker alone in between. */
static WCHAR wide_buffer[MAX_PATH];

static const WCHAR* wide(const char* path) { return to_wide(path, wide_buffer, MAX_PATH); }

/* The current and the system folder come back in Shift-JIS; one that Shift-JIS
 * cannot hold (a Korean name on any system) or that is too long counts as not given.
 * `length` is what the system said it wrote, without the terminator. */
static bool folder_in_sjis(DWORD length, const WCHAR* folder, char* out, unsigned size) {
    out[0] = 0;
    return length != 0 && length < MAX_PATH && to_sjis(folder, out, size);
}

bool platform_current_folder(char* out, unsigned size) {
    WCHAR folder[MAX_PATH];
    return folder_in_sjis(GetCurrentDirectoryW(MAX_PATH, folder), folder, out, size);
}

bool platform_system_folder(char* out, unsigned size) {
    WCHAR folder[MAX_PATH];
    return folder_in_sjis(GetSystemDirectoryW(folder, MAX_PATH), folder, out, size);
}

bool platform_change_folder(const char* path) {
    return SetCurrentDirectoryW(wide(path)) != 0;
}

bool platform_create_folder(const char* path) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};  // 12 bytes
    return CreateDirectoryW(wide(path), &security) != 0;
}

/* A link to a folder (a junction, a folder symbolic link) carries the folder
 * attribute itself: it counts as the folder it leads to. */
static FolderState state_of(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return PATH_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_IS_FOLDER : PATH_IS_OTHER;
}

FolderState platform_path_state(const char* path) {
    return state_of(GetFileAttributesW(wide(path)));
}

/* A symbolic link, a junction or a mount point carries FILE_ATTRIBUTE_REPARSE_POINT;
 * GetFileAttributesW reports the name itself, not what it points to. */
FolderState platform_link_state(const char* path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return PATH_IS_LINK;
    return state_of(attributes);
}

void platform_delete_file(const char* path) {
    DeleteFileW(wide(path));
}

/* _O_EXCL makes the runtime create the file with CREATE_NEW.  Should the stream
 * not be had (no memory for it), the new empty file is left to the caller's
 * failure report. */
FILE* platform_create_new_file(const char* path) {
#ifdef MAVUSFX_STUB_BUILD
    int fd = _wopen(wide(path), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
    // The host tool reads a member back (a MacBinary member loses its wrapper).
    int fd = _wopen(wide(path), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd < 0 ? nullptr : _fdopen(fd, "w+b");
#endif
}

bool platform_replace_file(const char* from, const char* to) {
    WCHAR wide_from[MAX_PATH];
    to_wide(from, wide_from, MAX_PATH);
    return MoveFileExW(wide_from, wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

uint64_t platform_free_space(const char* folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(wide(folder), &available, nullptr, nullptr)) return UINT64_MAX;
    return available.QuadPart;
}

void platform_set_file_time(const char* path, uint32_t unix_time) {
    struct _utimbuf times;
    times.actime = (time_t)unix_time;
    times.modtime = (time_t)unix_time;
    _wutime(wide(path), &times);
}

#ifndef MAVUSFX_STUB_BUILD
void platform_set_file_mode(FILE*, uint32_t) {}

/* The folder is opened as the name itself (a junction or a symbolic link in its
 * place is opened as the link) and given its time only when it is a folder. */
void platform_stamp_folder(const char* path, uint32_t unix_time, int32_t) {
    HANDLE folder = CreateFileW(wide(path), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ULONGLONG ticks = ((ULONGLONG)unix_time + 11644473600ULL) * 10000000ULL;  // from 1601, 100 ns
        FILETIME time = {(DWORD)ticks, (DWORD)(ticks >> 32)};
        SetFileTime(folder, nullptr, &time, &time);
    }
    CloseHandle(folder);
}
#endif

uint32_t platform_available_memory() {
    MEMORYSTATUS status;
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    return (uint32_t)status.dwAvailPhys;
}

int32_t platform_timezone_offset() {
    _tzset();
    return (int32_t)_timezone;
}

/* The shell matches only whole paths to its windows. */
void platform_notify_shell(ShellEvent event, const char* path) {
    WCHAR whole[MAX_PATH];
    DWORD length = GetFullPathNameW(wide(path), MAX_PATH, whole, nullptr);
    if (length != 0 && length < MAX_PATH) SHChangeNotify((LONG)event, SHCNF_PATHW, whole, nullptr);
}

#ifndef MAVUSFX_STUB_BUILD
FileOffset platform_tell(FILE* file) { return _ftelli64(file); }

int platform_seek(FILE* file, FileOffset offset, int origin) {
    return _fseeki64(file, offset, origin);
}
#endif
