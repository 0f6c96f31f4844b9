// System services on POSIX, for the host tool and the native tests.  The paths the
// engine writes pass through the hooks' file-name mapping (the tool turns the
// archive's Shift-JIS into the locale's encoding there); without it they are used
// as bytes.  The system folder is a fixed "C:\Windows\System32".
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

#include "platform/posix/live_files.h"
#include "platform/report_hooks.h"
#include "platform/system_services.h"

#ifndef O_PATH
#define O_PATH O_RDONLY  // where folders cannot be opened for their path alone
#endif

bool platform_current_folder(char* out, unsigned size) {
    if (getcwd(out, size) != nullptr) return true;
    if (size > 0) out[0] = 0;
    return false;
}

bool platform_system_folder(char* out, unsigned size) {
    if (size > 19) {
        memcpy(out, "C:\\Windows\\System32", 20);
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

OpenFolder platform_current_folder_root() { return AT_FDCWD; }

static int open_below(OpenFolder parent, const char* name) {
    return openat((int)parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

/* A name that is missing is made and then opened; one made meanwhile by someone
 * else is opened all the same.  Whatever the name holds when it is opened, a link
 * is never followed: O_NOFOLLOW refuses it, and what refused it is looked at. */
FolderOpened platform_open_folder(OpenFolder parent, const char* name, const char*, OpenFolder* folder) {
    FileName local(name);
    if (local.path == nullptr) return FOLDER_FAILED;
    FolderOpened opened = FOLDER_OPENED;
    int fd = open_below(parent, local.path);
    if (fd < 0 && errno == ENOENT && mkdirat((int)parent, local.path, 0777) == 0) {
        opened = FOLDER_MADE;
        fd = open_below(parent, local.path);
    } else if (fd < 0 && errno == EEXIST) {
        fd = open_below(parent, local.path);
    }
    if (fd >= 0) {
        *folder = fd;
        return opened;
    }
    struct stat st;
    if (fstatat((int)parent, local.path, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return FOLDER_IS_LINK;
    return FOLDER_FAILED;
}

void platform_close_folder(OpenFolder folder) {
    if (folder != AT_FDCWD) close((int)folder);
}

bool platform_is_link(const char* path) {
    FileName local(path);
    struct stat st;
    return local.path != nullptr && lstat(local.path, &st) == 0 && S_ISLNK(st.st_mode);
}

FILE* platform_create_file_in(OpenFolder folder, const char* name) {
    FileName local(name);
    if (local.path == nullptr) return nullptr;
    // A signal between the making and the noting would leave the file behind.
    sigset_t signals;
    hold_signals(&signals);
    // Readable too: a MacBinary member is read back to lose its wrapper.
    int fd = openat((int)folder, local.path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "w+b");
    if (file != nullptr) {
        note_live_file(local.path, (int)folder);
    } else if (fd >= 0) {
        close(fd);
        unlinkat((int)folder, local.path, 0);
    }
    release_signals(&signals);
    return file;
}

bool platform_settle_file_in(OpenFolder folder, const char* temporary, const char* name, bool keep,
                             uint32_t unix_time) {
    FileName local(name);
    if (keep) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = (time_t)unix_time;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        utimensat((int)folder, temporary, times, AT_SYMLINK_NOFOLLOW);
        keep = local.path != nullptr && renameat((int)folder, temporary, (int)folder, local.path) == 0;
    }
    if (!keep) unlinkat((int)folder, temporary, 0);
    forget_live_file(temporary, (int)folder);
    return keep;
}

/* The folder is asked about as it is: it is the destination ("." for the engine),
 * not a member's path, and the hooks' mapping of member names (which refuses "."
 * and "..") has no business with it. */
uint64_t platform_free_space(const char* folder) {
    struct statvfs st;
    if (statvfs(folder, &st) != 0) return UINT64_MAX;
    return (uint64_t)st.f_bavail * st.f_frsize;
}

/* The umask as the kernel shows it, which leaves it in place: setting it to read
 * it would, for a moment, let another thread make files without it.  Where the
 * kernel does not show it, it is read by setting it, once. */
static mode_t current_umask() {
    static int known = -1;
    if (known >= 0) return (mode_t)known;
    FILE* status = fopen("/proc/self/status", "re");
    char line[128];
    unsigned value;
    while (status != nullptr && fgets(line, sizeof line, status) != nullptr)
        if (sscanf(line, "Umask: %o", &value) == 1) known = (int)(value & 0777);
    if (status != nullptr) fclose(status);
    if (known < 0) {
        mode_t mask = umask(022);
        umask(mask);
        known = (int)mask;
    }
    return (mode_t)known;
}

void platform_set_file_mode(FILE* file, uint32_t mode) {
    fchmod(fileno(file), (mode_t)(mode & 0777) & ~current_umask());
}

/* From the current folder down, each folder of the path is opened from the one
 * above with O_NOFOLLOW, the last one too, and stamped through its own descriptor:
 * a link anywhere ends the walk.  A folder that cannot be opened for reading gets
 * its time through its parent with AT_SYMLINK_NOFOLLOW once it is seen to be a
 * folder, so that one swapped for a link meanwhile is at most touched itself. */
void platform_stamp_folder(const char* path, uint32_t unix_time, int32_t mode) {
    FileName name(path);
    if (name.path == nullptr) return;
    char walk[PATH_MAX];
    size_t length = strlen(name.path);
    if (length >= sizeof walk) return;
    memcpy(walk, name.path, length + 1);
    while (length > 0 && walk[length - 1] == '/') walk[--length] = 0;
    if (length == 0) return;
    int parent = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    char* component = walk;
    for (char* slash; parent >= 0 && (slash = strchr(component, '/')) != nullptr; component = slash + 1) {
        *slash = 0;
        if (component[0] == 0 || strcmp(component, ".") == 0) continue;
        int next = openat(parent, component, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(parent);
        parent = next;
    }
    if (parent < 0) return;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = (time_t)unix_time;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    int folder = openat(parent, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (folder >= 0) {
        futimens(folder, times);
        if (mode >= 0) fchmod(folder, (mode_t)(mode & 0777) & ~current_umask());
        close(folder);
    } else if (errno == EACCES && fstatat(parent, component, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(st.st_mode)) {
        utimensat(parent, component, times, AT_SYMLINK_NOFOLLOW);
    }
    close(parent);
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

FileOffset platform_tell(FILE* file) { return ftello(file); }

int platform_seek(FILE* file, FileOffset offset, int origin) {
    return fseeko(file, (off_t)offset, origin);
}
