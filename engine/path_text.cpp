#include "engine/path_text.h"

#include <string.h>

#include "engine/shift_jis.h"

/* The text is walked from its start: only there is it known which byte is a lead
 * byte, and the last character may be a single '\\' or a pair whose trail is 0x5C. */
void append_backslash(char* text) {
    char* last = text;
    char* p = text;
    for (; *p != 0; p += sjis_char_length(p)) last = p;
    if (p == text || (last + 1 == p && *last == '\\')) return;
    p[0] = '\\';
    p[1] = 0;
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
    for (char* p = text; *p != 0;) {
        size_t length = sjis_char_length(p);  // a lead byte is no separator
        if (*p == '\\' || *p == '/' || *p == '\xFF') *p = c;
        p += length;
    }
}
