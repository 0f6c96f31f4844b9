// What only the host tool needs of the system on Windows: the terminal test, a
// monotonic clock and the packer's folders and files.
#include <windows.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "platform/host_services.h"

bool platform_error_output_is_terminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool platform_output_is_terminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void platform_make_binary(FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

double platform_seconds_now() { return (double)GetTickCount() / 1000.0; }

bool platform_takes_names_windows_refuses() { return false; }

// The callers tell why with strerror(errno): the system's last error in its terms.
static void errno_from_last_error() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_FILENAME_EXCED_RANGE: errno = ENAMETOOLONG; break;
    default: errno = EIO; break;
    }
}

// Volume serial number and file index: what tells two files apart on Windows.
static bool identity_of_handle(HANDLE handle, uint64_t identity[2]) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) return false;
    identity[0] = information.dwVolumeSerialNumber;
    identity[1] = (uint64_t)information.nFileIndexHigh << 32 | information.nFileIndexLow;
    return true;
}

bool platform_path_info(const char* path, PathInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        errno_from_last_error();
        return false;
    }
    info->is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    info->is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->is_file = !info->is_folder && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info->size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    uint64_t ticks = (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
    info->modified = (int64_t)(ticks / 10000000u) - 11644473600LL;  // from 1601 to 1970
    info->has_mode = false;
    info->mode = 0;
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    info->identity[0] = info->identity[1] = 0;
    if (handle != INVALID_HANDLE_VALUE) {
        identity_of_handle(handle, info->identity);
        CloseHandle(handle);
    }
    return true;
}

bool platform_real_path(const char* path, char* out, unsigned size) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno_from_last_error();
        return false;
    }
    char final_path[MAX_PATH + 8];
    DWORD length = GetFinalPathNameByHandleA(handle, final_path, sizeof final_path, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    // The path comes as "\\?\C:\..."; the prefix is dropped.
    const char* shown = strncmp(final_path, "\\\\?\\", 4) == 0 ? final_path + 4 : final_path;
    if (length == 0 || length >= sizeof final_path || strlen(shown) >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    strcpy(out, shown);
    return true;
}

bool platform_file_identity(FILE* file, uint64_t identity[2]) {
    return identity_of_handle((HANDLE)_get_osfhandle(_fileno(file)), identity);
}

bool platform_list_folder(const char* path, void (*add)(void*, const char*), void* context) {
    char pattern[MAX_PATH + 3];
    if (snprintf(pattern, sizeof pattern, "%s\\*", path) >= (int)sizeof pattern) {
        errno = ENAMETOOLONG;
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        errno_from_last_error();
        return false;
    }
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) add(context, found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

void platform_delete_file(const char* path) { DeleteFileA(path); }

bool platform_replace_file(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

FILE* platform_create_temporary(const char* path, char* name, unsigned size) {
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        if (snprintf(name, size, "%s.part%06lu", path, (GetTickCount() + attempt) % 1000000ul) >= (int)size) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;  // another name
            errno_from_last_error();
            return nullptr;
        }
        // Once the runtime's descriptor holds the handle, closing the descriptor
        // closes the handle.
        int fd = _open_osfhandle((intptr_t)handle, _O_RDWR | _O_BINARY);
        if (fd < 0) CloseHandle(handle);
        FILE* file = fd < 0 ? nullptr : _fdopen(fd, "w+b");
        if (file == nullptr) {
            if (fd >= 0) _close(fd);
            DeleteFileA(name);
        }
        return file;
    }
    errno = EEXIST;
    return nullptr;
}

/* In the user's temporary folder, deleted by the system when the last handle to it
 * closes. */
FILE* platform_create_scratch_file() {
    char folder[MAX_PATH], name[MAX_PATH];
    if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, "mav", 0, name) == 0) {
        errno_from_last_error();
        return nullptr;
    }
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno_from_last_error();
        DeleteFileA(name);
        return nullptr;
    }
    int fd = _open_osfhandle((intptr_t)handle, _O_RDWR | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    FILE* file = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (file == nullptr && fd >= 0) _close(fd);
    return file;
}

// Console control events are not taken: Ctrl+C ends the tool as it always did.
void platform_clean_up_on_signals() {}

bool platform_truncate(FILE* file, int64_t length) {
    return fflush(file) == 0 && _chsize(_fileno(file), (long)length) == 0;
}
