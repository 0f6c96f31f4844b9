// What only the host tool needs of the system on POSIX: the terminal test, a
// monotonic clock and the packer's folders and files.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/host_services.h"
#include "platform/posix/live_files.h"
#include "platform/system_services.h"

bool platform_error_output_is_terminal() { return isatty(2) != 0; }

bool platform_output_is_terminal() { return isatty(1) != 0; }

void platform_make_binary(FILE*) {}

bool platform_takes_names_windows_refuses() { return true; }

double platform_seconds_now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

bool platform_path_info(const char* path, PathInfo* info) {
    struct stat st;
    info->is_link = lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
    if (stat(path, &st) != 0) return false;
    info->is_folder = S_ISDIR(st.st_mode);
    info->is_file = S_ISREG(st.st_mode);
    info->size = (uint64_t)st.st_size;
    info->modified = (int64_t)st.st_mtime;
    info->has_mode = true;
    info->mode = (uint32_t)(st.st_mode & 07777);
    info->identity[0] = (uint64_t)st.st_dev;
    info->identity[1] = (uint64_t)st.st_ino;
    return true;
}

bool platform_real_path(const char* path, char* out, unsigned size) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return false;
    bool fits = strlen(resolved) < size;
    if (fits) strcpy(out, resolved);
    else errno = ENAMETOOLONG;
    free(resolved);
    return fits;
}

bool platform_file_identity(FILE* file, uint64_t identity[2]) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return false;
    identity[0] = (uint64_t)st.st_dev;
    identity[1] = (uint64_t)st.st_ino;
    return true;
}

bool platform_list_folder(const char* path, void (*add)(void*, const char*), void* context) {
    DIR* dir = opendir(path);
    if (dir == nullptr) return false;
    while (dirent* entry = readdir(dir))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) add(context, entry->d_name);
    closedir(dir);
    return true;
}

void platform_delete_file(const char* path) {
    unlink(path);
    forget_live_file(path);
}

bool platform_replace_file(const char* from, const char* to) {
    if (rename(from, to) != 0) return false;
    forget_live_file(from);
    return true;
}

FILE* platform_create_temporary(const char* path, char* name, unsigned size) {
    if (snprintf(name, size, "%s.partXXXXXX", path) >= (int)size) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    sigset_t signals;
    hold_signals(&signals);
    int fd = mkstemp(name);
    if (fd >= 0) note_live_file(name);
    release_signals(&signals);
    if (fd < 0) return nullptr;
    // mkstemp makes the file private; what it becomes gets the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
        close(fd);
        platform_delete_file(name);
    }
    return file;
}

/* A file with no name in $TMPDIR (or /tmp) where the system allows it (O_TMPFILE);
 * elsewhere a named one, removed at once. */
FILE* platform_create_scratch_file() {
    const char* folder = getenv("TMPDIR");
    if (folder == nullptr || folder[0] == 0) folder = "/tmp";
    int fd = -1;
#ifdef O_TMPFILE
    fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        char name[PATH_MAX];
        if (snprintf(name, sizeof name, "%s/mavusfx.XXXXXX", folder) >= (int)sizeof name) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        sigset_t signals;
        hold_signals(&signals);
        fd = mkstemp(name);
        if (fd >= 0) unlink(name);
        release_signals(&signals);
        if (fd < 0) return nullptr;
    }
    FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) close(fd);
    return file;
}

bool platform_truncate(FILE* file, int64_t length) {
    return fflush(file) == 0 && ftruncate(fileno(file), (off_t)length) == 0;
}
