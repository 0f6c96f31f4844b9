#include "engine/unsafe_member_path.h"

#include "engine/shift_jis.h"

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
        } else {
            p += sjis_char_length((const char*)p) - 1;
        }
    }
}
