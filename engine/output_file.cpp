#include "engine/output_file.h"

#include <stdlib.h>
#include <string.h>

#include "engine/member_folders.h"
#include "platform/system_services.h"

enum { OUTPUT_BUFFER_SIZE = 64 * 1024 };

/* One output file is open at a time.  It is written through a buffer of
 * OUTPUT_BUFFER_SIZE bytes, taken from the heap with the file and released when it
 * is closed, so that the decoder's windows (2 to 64 KiB) and the stored copy's 2 KiB
 * blocks reach the file in few large writes (the runtime's own buffer is 4 KiB on
 * some systems).  Without the block the runtime's buffer serves. */
static char* output_buffer;

static FILE* open_buffered(const char* path) {
    FILE* file = platform_create_new_file(path);
#ifndef MAVUSFX_NO_OUTPUT_BUFFER
    if (file == nullptr) return nullptr;
    output_buffer = (char*)malloc(OUTPUT_BUFFER_SIZE);
    if (output_buffer != nullptr) setvbuf(file, output_buffer, _IOFBF, OUTPUT_BUFFER_SIZE);
#endif
    return file;
}

/* A name that cannot be made at first may want its folders, which are made once;
 * after that a name that fails is taken (a file left by an earlier run, a planted
 * link), and the next one is tried. */
FILE* open_output_file(ExtractionRun* run, const char* path, char* temporary) {
    size_t length = strlen(path);
    memcpy(temporary, path, length);
    memcpy(temporary + length, ".~0", 4);
    bool folders_made = false;
    while (temporary[length + 2] <= '9') {
        FILE* file = open_buffered(temporary);
        if (file != nullptr) return file;
        if (folders_made) {
            temporary[length + 2]++;
        } else {
            make_parent_folders(run, path);
            folders_made = true;
        }
    }
    return nullptr;
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
