#include "engine/output_file.h"

#include <stdlib.h>
#include <string.h>

#include "engine/member_folders.h"

enum { OUTPUT_BUFFER_SIZE = 64 * 1024 };

/* One output file is open at a time.  It is written through a buffer of
 * OUTPUT_BUFFER_SIZE bytes, taken from the heap with the file and released when it
 * is closed, so that the decoder's windows (2 to 64 KiB) and the stored copy's 2 KiB
 * blocks reach the file in few large writes (the runtime's own buffer is 4 KiB on
 * some systems).  Without the block the runtime's buffer serves. */
static char* output_buffer;

static FILE* open_buffered(OpenFolder folder, const char* name) {
    FILE* file = platform_create_file_in(folder, name);
#ifndef MAVUSFX_NO_OUTPUT_BUFFER
    if (file == nullptr) return nullptr;
    output_buffer = (char*)malloc(OUTPUT_BUFFER_SIZE);
    if (output_buffer != nullptr) setvbuf(file, output_buffer, _IOFBF, OUTPUT_BUFFER_SIZE);
#endif
    return file;
}

#ifndef MAVUSFX_STUB_BUILD
/* Fast path, the member's folder held from one member to the next: the members of
 * a folder come one after another, so the folder a member went into is kept open
 * with the text of its path, and the next member of the same folder is created in
 * it without its folders being opened again from the current folder (two system
 * calls a folder on the way).  A held folder is the one that was walked into
 * without a link, wherever its name is moved or swapped meanwhile, as it was while
 * its one member was written.  The run releases it at its end. */
static OpenFolder held_folder;
static bool holding;
static size_t held_length;  // bytes of its path, the '/' after it included
static char held_path[PATH_BUFFER_SIZE];

void release_held_folder() {
    if (holding) platform_close_folder(held_folder);
    holding = false;
}

// The held folder for `path`, when the path's folder is the held one's.
static bool take_held_folder(const char* path, OutputFile* out) {
    const char* slash = strrchr(path, '/');
    if (!holding || slash == nullptr || (size_t)(slash + 1 - path) != held_length ||
        slash[1] == 0 || memcmp(path, held_path, held_length) != 0)
        return false;
    out->folder = held_folder;
    out->name = slash + 1;
    return true;
}

// Holds the folder just walked into for `path` instead of the one held before.
static void hold_folder(const char* path, const OutputFile* out) {
    const size_t length = (size_t)(out->name - path);
    if (length == 0 || length >= sizeof held_path) return;  // the root, or too long
    release_held_folder();
    held_folder = out->folder;
    held_length = length;
    memcpy(held_path, path, length);
    holding = true;
}
#endif

#ifdef MAVUSFX_STUB_BUILD
#define leave_folder platform_close_folder
#else
// Done with a member's folder: closed, unless it is held for the next member.
static void leave_folder(OpenFolder folder) {
    if (holding && folder == held_folder) return;
    platform_close_folder(folder);
}
#endif

/* A name that fails is taken (a file left by an earlier run, a planted link), and
 * the next one is tried.  A link under the member's own name would be replaced, not
 * followed; it is left alone all the same, as one on the way is. */
FailureKind open_output_file(char* path, bool folder_only, OutputFile* out) {
#ifdef MAVUSFX_STUB_BUILD
    FailureKind failure = open_member_folder(path, folder_only, &out->folder, &out->name);
#else
    FailureKind failure = NO_FAILURE;
    if (folder_only || !take_held_folder(path, out)) {
        failure = open_member_folder(path, folder_only, &out->folder, &out->name);
        if (failure == NO_FAILURE && !folder_only) hold_folder(path, out);
    }
#endif
    if (failure != NO_FAILURE) return failure;
    out->file = nullptr;
    if (!folder_only) {
        failure = FAILED_LINK_IN_PATH;
        if (!platform_is_link(path)) {
            memcpy(out->temporary, "mavusfx~0.tmp", TEMPORARY_NAME_SIZE);
            for (; out->temporary[8] <= '9'; out->temporary[8]++) {
                out->file = open_buffered(out->folder, out->temporary);
                if (out->file != nullptr) return NO_FAILURE;
            }
            failure = FAILED_CANNOT_CREATE;
        }
    }
    leave_folder(out->folder);
    return failure;
}

/* The buffer's last bytes reach the file in the flush, which is checked on its own:
 * a runtime may report a close as done after its final flush failed (Wine's does,
 * on a disk that filled).  Earlier writes were checked as they were made. */
int close_output_file(FILE* file) {
    int result = fflush(file);
    result |= fclose(file);
    free(output_buffer);
    output_buffer = nullptr;
    return result;
}

bool settle_output_file(OutputFile* out, bool keep, uint32_t time) {
    keep = platform_settle_file_in(out->folder, out->temporary, out->name, keep, time);
    leave_folder(out->folder);
    return keep;
}
