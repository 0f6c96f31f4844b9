#include "frontend/shortcut_paths.h"

#include <string.h>

#include "engine/path_text.h"
#include "engine/shift_jis.h"
#include "frontend/run_record.h"

void file_name_part(const char* path, char* out, unsigned size) {
    const unsigned char* p = (const unsigned char*)path;
    const unsigned char* name = p;
    const unsigned char* dot = nullptr;
    for (; *p != 0; p++) {
        if (sjis_char_length((const char*)p) == 2) {
            p++;
        } else if (*p == '\\' || *p == '/' || *p == ':') {
            name = p + 1;
            dot = nullptr;
        } else if (*p == '.') {
            dot = p;
        }
    }
    unsigned length = (unsigned)((dot != nullptr ? dot : p) - name);
    if (size == 0) return;
    if (length >= size) length = size - 1;
    memcpy(out, name, length);
    out[length] = 0;
}

// The parts one after the other into `out`; false, with `out` empty, when the whole
// would not fit `size` bytes with its terminator.
static bool join(char* out, unsigned size, const char* const* parts, int count) {
    out[0] = 0;
    for (int i = 0; i < count; i++) {
        if (!append_text(out, size, parts[i])) {
            out[0] = 0;
            return false;
        }
    }
    return true;
}

bool compose_link_path(const char* folder, const char* shortcut_target, char* out, unsigned size) {
    char name[PATH_BUFFER_SIZE];
    file_name_part(shortcut_target, name, sizeof name);
    const char* parts[] = {folder, "\\", name, ".lnk"};
    return join(out, size, parts, 4);
}

bool compose_link_target(const char* dest_folder, const char* shortcut_target, char* out,
                         unsigned size) {
    return compose_in_folder(dest_folder, shortcut_target, out, size);
}

bool compose_launch_path(const char* dest_folder, const char* launch_target, char* out,
                         unsigned size) {
    const char* parts[] = {dest_folder, "\\", launch_target};
    return join(out, size, parts, 3);
}
