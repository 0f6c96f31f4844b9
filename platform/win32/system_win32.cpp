// System services on Windows: the Win32 API and the MSVCRT runtime.
#include <windows.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <io.h>
#include <time.h>

#include "platform/platform.h"

bool platform_current_folder(char* out, unsigned size) {
    DWORD length = GetCurrentDirectoryA(size, out);
    return length != 0 && length < size;
}

bool platform_windows_folder(char* out, unsigned size) {
    UINT length = GetWindowsDirectoryA(out, size);
    return length != 0 && length < size;
}

bool platform_change_folder(const char* path) { return SetCurrentDirectoryA(path) != 0; }

bool platform_create_folder(const char* path) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};  // 12 bytes
    return CreateDirectoryA(path, &security) != 0;
}

FolderState platform_path_state(const char* path) {
    struct _stat st;
    if (_stat(path, &st) != 0) return PATH_MISSING;
    return (st.st_mode & 0xF000) == _S_IFDIR ? PATH_IS_FOLDER : PATH_IS_OTHER;
}

FILE* platform_create_file(const char* path) { return fopen(path, "wb"); }

void platform_delete_file(const char* path) { _unlink(path); }

void platform_set_file_time(const char* path, uint32_t unix_time) {
    struct _utimbuf times;
    times.actime = (time_t)unix_time;
    times.modtime = (time_t)unix_time;
    _utime(path, &times);
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
    SHChangeNotify((LONG)event, SHCNF_PATHA, path, nullptr);
}
