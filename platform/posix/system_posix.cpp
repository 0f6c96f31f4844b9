// System services on POSIX, for the host tool and the native tests.  The paths the
// engine writes pass through the hooks' file-name mapping (the tool turns the
// archive's Shift-JIS into the locale's encoding there); without it they are used
// as bytes.  The Windows folder is a fixed "C:\Windows".
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include "platform/posix/live_files.h"
#include "platform/report_hooks.h"
#include "platform/system_services.h"

bool platform_current_folder(char* out, unsigned size) {
    if (getcwd(out, size) != nullptr) return true;
    if (size > 0) out[0] = 0;
    return false;
}

bool platform_windows_folder(char* out, unsigned size) {
    if (size > 10) {
        memcpy(out, "C:\\Windows", 11);
        return true;
    }
    if (size > 0) out[0] = 0;
    return false;
}

bool platform_change_folder(const char* path) { return chdir(path) == 0; }

namespace {
// A path of the engine as the file system names it; null (errno set) when it has
// no such name.
struct FileName {
    char buffer[PATH_MAX];
    const char* path;
    explicit FileName(const char* engine_path) {
        path = hooked_file_name(engine_path, buffer, sizeof buffer);
        if (path == nullptr) errno = EILSEQ;
    }
};
}  // namespace

bool platform_create_folder(const char* path) {
    FileName name(path);
    return name.path != nullptr && mkdir(name.path, 0777) == 0;
}

FolderState platform_path_state(const char* path) {
    FileName name(path);
    struct stat st;
    if (name.path == nullptr || stat(name.path, &st) != 0) return PATH_MISSING;
    return S_ISDIR(st.st_mode) ? PATH_IS_FOLDER : PATH_IS_OTHER;
}

FolderState platform_link_state(const char* path) {
    FileName name(path);
    struct stat st;
    if (name.path == nullptr || lstat(name.path, &st) != 0) return PATH_MISSING;
    if (S_ISLNK(st.st_mode)) return PATH_IS_LINK;
    return S_ISDIR(st.st_mode) ? PATH_IS_FOLDER : PATH_IS_OTHER;
}

void platform_delete_file(const char* path) {
    FileName name(path);
    if (name.path == nullptr) return;
    unlink(name.path);
    forget_live_file(name.path);
}

FILE* platform_create_new_file(const char* path) {
    FileName name(path);
    if (name.path == nullptr) return nullptr;
    // A signal between the making and the noting would leave the file behind.
    sigset_t signals;
    hold_signals(&signals);
    int fd = open(name.path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (file != nullptr) {
        note_live_file(name.path);
    } else if (fd >= 0) {
        close(fd);
        unlink(name.path);
    }
    release_signals(&signals);
    return file;
}

bool platform_replace_file(const char* from, const char* to) {
    FileName old_name(from), new_name(to);
    if (old_name.path == nullptr || new_name.path == nullptr || rename(old_name.path, new_name.path) != 0)
        return false;
    forget_live_file(old_name.path);
    return true;
}

/* The folder is asked about as it is: it is the destination ("." for the engine),
 * not a member's path, and the hooks' mapping of member names (which refuses "."
 * and "..") has no business with it. */
uint64_t platform_free_space(const char* folder) {
    struct statvfs st;
    if (statvfs(folder, &st) != 0) return UINT64_MAX;
    return (uint64_t)st.f_bavail * st.f_frsize;
}

void platform_set_file_time(const char* path, uint32_t unix_time) {
    FileName name(path);
    if (name.path == nullptr) return;
    struct utimbuf times;
    times.actime = (time_t)unix_time;
    times.modtime = (time_t)unix_time;
    utime(name.path, &times);
}

uint32_t platform_available_memory() {
    struct sysinfo info;
    if (sysinfo(&info) != 0) return 0;
    uint64_t bytes = (uint64_t)info.freeram * info.mem_unit;
    return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)bytes;
}

/* Local standard time, as _timezone gives it on Windows: seconds west of UTC,
 * daylight saving left out. */
int32_t platform_timezone_offset() {
    tzset();
    return (int32_t)timezone;
}

void platform_notify_shell(ShellEvent event, const char* path) { notify_hooked_shell(event, path); }
