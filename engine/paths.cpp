#include "engine/paths.h"

#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

enum { FOLDER_WORK_BUFFER = 1024, OUTPUT_BUFFER_SIZE = 64 * 1024 };

/* One output file is open at a time.  It is written through a buffer of
 * OUTPUT_BUFFER_SIZE bytes, taken from the heap with the file and released when it
 * is closed, so that the decoder's windows (2 to 64 KiB) and the stored copy's 2 KiB
 * blocks reach the file in few large writes (the runtime's own buffer is 4 KiB on
 * some systems).  Without the block the runtime's buffer serves. */
static char* output_buffer;

static FILE* open_buffered(const char* path) {
    FILE* file = platform_create_file(path);
#ifndef MAVUSFX_NO_OUTPUT_BUFFER
    if (file == nullptr) return nullptr;
    output_buffer = (char*)malloc(OUTPUT_BUFFER_SIZE);
    if (output_buffer != nullptr) setvbuf(file, output_buffer, _IOFBF, OUTPUT_BUFFER_SIZE);
#endif
    return file;
}

FILE* open_output_file(ExtractionRun* run, const char* path) {
    FILE* file = open_buffered(path);
    if (file != nullptr) return file;
    make_parent_folders(run, path);
    return open_buffered(path);
}

int close_output_file(FILE* file) {
    int result = fclose(file);
    free(output_buffer);
    output_buffer = nullptr;
    return result;
}

/* Walks up the path until a folder exists or can be created, and creates the missing
 * ones on the way back down, the outermost first.  Only the first creation attempt
 * of each level is announced; the retry after its parent was made is not.  Only '/'
 * separates here: a '/' byte never occurs inside a Shift-JIS character. */
bool make_parent_folders(ExtractionRun* run, const char* path) {
    char folder[FOLDER_WORK_BUFFER];
    size_t length = strlen(path);
    if (length >= sizeof folder) return false;
    memcpy(folder, path, length + 1);
    char* last = nullptr;
    for (char* p = folder; *p != 0; p++)
        if (*p == '/') last = p;
    if (last == nullptr || last == folder) return false;
    *last = 0;

    FolderState state = platform_path_state(folder);
    if (state != PATH_MISSING) return state == PATH_IS_FOLDER;
    if (platform_create_folder(folder)) {
        notify_shell(run, true, folder);
        return true;
    }
    if (!make_parent_folders(run, folder)) return false;
    return platform_create_folder(folder);
}

void append_backslash(char* text) {
    size_t length = strlen(text);
    if (length == 0) return;
    if (text[length - 1] == '\\') {
        if (length == 1 || !is_sjis_lead_byte((unsigned char)text[length - 2])) return;
    }
    text[length] = '\\';
    text[length + 1] = 0;
}

bool append_text(char* out, unsigned size, const char* text) {
    size_t used = strlen(out), length = strlen(text);
    if (used + length + 1 > size) return false;
    memcpy(out + used, text, length + 1);
    return true;
}

bool compose_in_folder(const char* folder, const char* name, char* out, unsigned size) {
    out[0] = 0;
    // The folder needs a byte to spare for the backslash.
    if (append_text(out, size, folder) && strlen(out) + 1 < size) {
        append_backslash(out);
        if (append_text(out, size, name)) return true;
    }
    out[0] = 0;
    return false;
}

void convert_separators(char* text, char c) {
    for (unsigned char* p = (unsigned char*)text; *p != 0; p++) {
        if (is_sjis_lead_byte(*p)) {
            if (p[1] == 0) break;
            p++;
        } else if (*p == '\\' || *p == '/' || *p == 0xFF) {
            *p = (unsigned char)c;
        }
    }
}

void notify_shell(ExtractionRun* run, bool folder_made, const char* path) {
    if (folder_made) {
        platform_notify_shell(SHELL_FOLDER_MADE, path);
        return;
    }
    // The destination folder, one backslash and the member path: anything longer
    // than 259 bytes is cut there rather than written past the buffer.
    char announced[PATH_BUFFER_SIZE];
    copy_text(announced, run->dest_folder != nullptr ? run->dest_folder : "", sizeof announced - 1);
    append_backslash(announced);
    size_t used = strlen(announced);
    copy_text(announced + used, path, (unsigned)(sizeof announced - used));
    for (char* p = announced; *p != 0; p++)
        if (*p == '/') *p = '\\';
    platform_notify_shell(SHELL_FILE_CREATED, announced);
}

/* Windows drops trailing dots and spaces from a path component, so "..", "..." and
 * ". ." all climb to the parent there: a component of dots and spaces only, with
 * two dots or more, counts as "..". */
static bool climbs_out(const unsigned char* component, const unsigned char* end) {
    int dots = 0;
    for (const unsigned char* p = component; p < end; p++) {
        if (*p == '.') dots++;
        else if (*p != ' ') return false;
    }
    return dots >= 2;
}

/* A member path is unsafe when, after its one leading '/' is dropped, it is absolute
 * or climbs out: a further leading separator, a drive prefix "X:", or a ".."
 * component between separators ('/' or '\\' outside Shift-JIS characters). */
bool is_unsafe_member_path(const char* path) {
    const unsigned char* p = (const unsigned char*)path;
    if (*p == '/') p++;
    if (*p == '/' || *p == '\\') return true;
    if (p[0] != 0 && p[1] == ':') return true;
    const unsigned char* component = p;
    for (;; p++) {
        bool end = *p == 0;
        if (end || *p == '/' || *p == '\\') {
            if (climbs_out(component, p)) return true;
            if (end) return false;
            component = p + 1;
        } else if (is_sjis_lead_byte(*p) && p[1] != 0) {
            p++;
        }
    }
}
