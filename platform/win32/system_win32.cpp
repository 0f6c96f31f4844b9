// System services on Windows: the Win32 API and the MSVCRT runtime.  Paths arrive
// in Shift-JIS and reach the system through the wide functions, so that names
// come out right whatever the system's code page is.
#include <windows.h>
#include <shlobj.h>
#include <sys/utime.h>
#include <time.h>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

/* One path at a time is handed to the system.  The window thread does so before the
 * worker starts and after its end message; the worker alone in between. */
static WCHAR wide_buffer[MAX_PATH];

static const WCHAR* wide(const char* path) { return to_wide(path, wide_buffer, MAX_PATH); }

/* The current and the Windows folder come back in Shift-JIS; one that Shift-JIS
 * cannot hold (a Korean name on any system) or that is too long counts as not given. */
bool platform_current_folder(char* out, unsigned size) {
    WCHAR folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return length != 0 && length < MAX_PATH && to_sjis(folder, out, size);
}

bool platform_windows_folder(char* out, unsigned size) {
    WCHAR folder[MAX_PATH];
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    return length != 0 && length < MAX_PATH && to_sjis(folder, out, size);
}

bool platform_change_folder(const char* path) {
    return SetCurrentDirectoryW(wide(path)) != 0;
}

bool platform_create_folder(const char* path) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};  // 12 bytes
    return CreateDirectoryW(wide(path), &security) != 0;
}

FolderState platform_path_state(const char* path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return PATH_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_IS_FOLDER : PATH_IS_OTHER;
}

FILE* platform_open_output(const char* path) {
    return _wfopen(wide(path), L"wb");
}

void platform_delete_file(const char* path) {
    DeleteFileW(wide(path));
}

void platform_set_file_time(const char* path, uint32_t unix_time) {
    struct _utimbuf times;
    times.actime = (time_t)unix_time;
    times.modtime = (time_t)unix_time;
    _wutime(wide(path), &times);
}

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

void platform_notify_shell(ShellEvent event, const char* path) {
    SHChangeNotify((LONG)event, SHCNF_PATHW, wide(path), nullptr);
}
