#include "engine/path_text.h"

#include <string.h>

#include "engine/shift_jis.h"

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
