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

/* A name that fails is taken (a file left by an earlier run, a planted link), and
 * the next one is tried.  A link under the member's own name would be replaced, not
 * followed; it is left alone all the same, as one on the way is. */
FailureKind open_output_file(char* path, bool folder_only, OutputFile* out) {
    FailureKind failure = open_member_folder(path, folder_only, &out->folder, &out->name);
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
    platform_close_folder(out->folder);
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
    platform_close_folder(out->folder);
    return keep;
}
