#include "platform/win32/wide_text.h"

bool append_wide(WCHAR* out, unsigned size, const char* text) {
    int used = 0;
    while (out[used] != 0) used++;
    if (MultiByteToWideChar(CP_SHIFT_JIS, 0, text, -1, out + used, (int)size - used) != 0) return true;
    out[used] = 0;  // a conversion that ran out of room may have written part of it
    return false;
}

// Kept out of line: it is called from some twenty places, and a copy at each costs
// the stub more than the call.
__attribute__((noinline)) WCHAR* to_wide(const char* text, WCHAR* out, unsigned size) {
    out[0] = 0;
    append_wide(out, size, text);
    return out;
}

/* Without best-fit mapping: a character that Shift-JIS lacks is never replaced by a
 * look-alike (a fraction slash by '/', say), which could name another path. */
bool to_sjis(const WCHAR* text, char* out, unsigned size) {
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_SHIFT_JIS, WC_NO_BEST_FIT_CHARS, text, -1, out, (int)size, nullptr,
                            &lossy) != 0 && !lossy)
        return true;
    out[0] = 0;
    return false;
}
