// System services on Windows: the Win32 API and the MSVCRT runtime.  Paths arrive
// in Shift-JIS and reach the system through the wide functions, so that names
// come out right whatever the system's code page is.
#include <windows.h>
#include <shlobj.h>
#include <winternl.h>
#include <sys/stat.h>
#include <io.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
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

// The name's own attributes: a link is reported as itself, not as what it leads to.
__attribute__((noinline)) static DWORD attributes_of_path(const char* path) {
    return GetFileAttributesW(wide(path));
}

FolderState platform_path_state(const char* path) {
    return state_of(attributes_of_path(path));
}

/* A name is looked up from an open folder only by the native calls, which take the
 * folder's handle as the root of the name.  One name at a time: the record and the
 * status are the worker's. */
static UNICODE_STRING name_text;
static OBJECT_ATTRIBUTES name_in_folder;
static IO_STATUS_BLOCK io_status;

static OBJECT_ATTRIBUTES* attributes_of(OpenFolder folder, const char* name) {
    WCHAR* end = to_wide(name, wide_buffer, MAX_PATH);
    while (*end != 0) end++;
    name_text.Length = name_text.MaximumLength = (USHORT)((char*)end - (char*)wide_buffer);
    name_text.Buffer = wide_buffer;
    name_in_folder.Length = sizeof name_in_folder;
    name_in_folder.RootDirectory = (HANDLE)folder;
    name_in_folder.ObjectName = &name_text;
    name_in_folder.Attributes = OBJ_CASE_INSENSITIVE;
    return &name_in_folder;
}

/* Never through a link: a reparse point is opened as itself.  Others may read and
 * write what is open, but not delete or rename it meanwhile. */
static HANDLE open_in(OpenFolder folder, const char* name, ACCESS_MASK access, ULONG disposition,
                      ULONG options) {
    HANDLE handle;
    if (NtCreateFile(&handle, access | SYNCHRONIZE, attributes_of(folder, name), &io_status, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                     options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0) < 0)
        return INVALID_HANDLE_VALUE;
    return handle;
}

/* The process parameters hold the current directory as a path and a handle (the
 * CURDIR record at offset 0x24, its handle at 0x2C: Reserved2[7] in the public
 * layout).  Windows and Wine open that handle when the folder is made current,
 * without FILE_SHARE_DELETE, and resolve relative paths from it. */
// The runtime's header reads the thread block through a zero-length array, which
// GCC's bounds check takes for an overrun.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
OpenFolder platform_current_folder_root() {
    return (OpenFolder)NtCurrentTeb()->ProcessEnvironmentBlock->ProcessParameters->Reserved2[7];
}
#pragma GCC diagnostic pop

/* GetFileAttributesW reports the name itself, not what it points to. */
bool platform_is_link(const char* path) {
    DWORD attributes = attributes_of_path(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

/* Opened as itself, a reparse point cannot be renamed while it is held, so the name
 * still shows it when its attributes are read.  Attributes that cannot be had (the
 * name went another way) refuse the folder as a link would. */
FolderOpened platform_open_folder(OpenFolder parent, const char* name, const char* path, OpenFolder* folder) {
    HANDLE handle = open_in(parent, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_OPEN_IF, FILE_DIRECTORY_FILE);
    if (handle == INVALID_HANDLE_VALUE) return FOLDER_FAILED;
    FolderOpened opened = io_status.Information == FILE_CREATED ? FOLDER_MADE : FOLDER_OPENED;
    if (attributes_of_path(path) & FILE_ATTRIBUTE_REPARSE_POINT) {
        CloseHandle(handle);
        return FOLDER_IS_LINK;
    }
    *folder = (OpenFolder)handle;
    return opened;
}

void platform_close_folder(OpenFolder folder) {
    if (folder != platform_current_folder_root()) CloseHandle((HANDLE)folder);
}

FILE* platform_create_file_in(OpenFolder folder, const char* name) {
#ifdef MAVUSFX_STUB_BUILD
    const ACCESS_MASK access = GENERIC_WRITE;
    const char* mode = "wb";
#else
    // The host tool reads a member back (a MacBinary member loses its wrapper).
    const ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE;
    const char* mode = "w+b";
#endif
    HANDLE handle = open_in(folder, name, access, FILE_CREATE, FILE_NON_DIRECTORY_FILE);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle((intptr_t)handle, 0);
    return fd < 0 ? nullptr : _fdopen(fd, mode);
}

/* FILETIME counts 100-nanosecond steps from 1601.  The new file is the
 * worker's own, opened as itself should it have been swapped for a link. */
bool platform_settle_file_in(OpenFolder folder, const char* temporary, const char* name, bool keep,
                             uint32_t unix_time) {
    HANDLE handle = open_in(folder, temporary, DELETE | FILE_WRITE_ATTRIBUTES, FILE_OPEN,
                            keep ? FILE_NON_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE);
    if (keep) {
        uint64_t ticks = (uint64_t)unix_time * 10000000u + 116444736000000000u;
        FILETIME time = {(DWORD)ticks, (DWORD)(ticks >> 32)};
        SetFileTime(handle, nullptr, &time, &time);
        struct {
            FILE_RENAME_INFORMATION head;
            WCHAR rest[MAX_PATH];
        } rename;
        rename.head.ReplaceIfExists = TRUE;
        rename.head.RootDirectory = (HANDLE)folder;
        int count = MultiByteToWideChar(CP_SHIFT_JIS, 0, name, -1, rename.head.FileName, MAX_PATH);
        rename.head.FileNameLength = (ULONG)(count - 1) * 2;
        keep = count != 0 &&
               NtSetInformationFile(handle, &io_status, &rename, sizeof rename, FileRenameInformation) >= 0;
    }
    CloseHandle(handle);
    return keep;
}

uint64_t platform_free_space(const char* folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(wide(folder), &available, nullptr, nullptr)) return UINT64_MAX;
    return available.QuadPart;
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
