// Names Windows cannot hold, checked component by component.  Bytes are read as
// Shift-JIS: a lead byte takes the next byte with it, so a trail byte of 0x7C ('|'
// in ASCII, as in "ポ" 0x83 0x7C) or 0x5C is part of a character, never a sign.
#include "engine/windows_names.h"

#include <stdint.h>
#include <string.h>

#include "engine/shift_jis.h"

/* The stub names a refused member but never says why: its build keeps no reasons. */
#ifdef MAVUSFX_STUB_BUILD
#define REASON(text) ""
#else
#define REASON(text) text
#endif

// The device names in lower case, each of eight bytes with NULs after it; "\x01"
// stands for a digit 1-9 (COM1-COM9, LPT1-LPT9; COM0 and LPT0 are names).
static const char DEVICES[][8] = {"con", "prn", "aux", "nul", "com\x01", "lpt\x01", "conin$", "conout$"};

/* A device name is matched on the part before the first dot, with the spaces before
 * that dot dropped ("nul .txt" opens the device too), in any case.  Control bytes
 * never get this far, so "\x01" matches only where a digit was put. */
static bool is_device_name(const unsigned char* name, size_t length) {
    size_t base = 0;
    while (base < length && name[base] != '.') base++;
    while (base > 0 && name[base - 1] == ' ') base--;
    if (base < 3 || base > 7) return false;
    char lower[8] = {};
    // Setting bit 5 lowers the case of a letter and leaves digits, '$' and the space
    // as they are; what else it changes matches no device name either way.  (Shorter
    // in the stub than fold_case, which must keep every other byte as it is.)
    for (size_t i = 0; i < base; i++) lower[i] = (char)(name[i] | 0x20);
    if (base == 4 && lower[3] >= '1' && lower[3] <= '9') lower[3] = 1;
    uint64_t word, device;
    memcpy(&word, lower, 8);
    for (const char* name_of_device : DEVICES) {
        memcpy(&device, name_of_device, 8);
        if (word == device) return true;
    }
    return false;
}

/* < > : " | ? *: all but '|' lie in 0x20-0x3F, one bit each of FORBIDDEN_BELOW_40. */
enum : uint32_t { FORBIDDEN_BELOW_40 = 1u << ('"' - 32) | 1u << ('*' - 32) | 1u << (':' - 32) |
                                       1u << ('<' - 32) | 1u << ('>' - 32) | 1u << ('?' - 32) };

/* One walk over the bytes; at each separator, and at the end, the component behind
 * it is looked at as a whole.  "." and ".." are left to the check for paths that
 * leave the destination. */
const char* windows_name_problem(const char* path, size_t length) {
    const unsigned char* p = (const unsigned char*)path;
    const unsigned char* end = p + length;
    const unsigned char* component = p;
    for (;; p++) {
        unsigned c = p == end ? '/' : *p;
        if (c == '/' || c == '\\') {
            size_t n = (size_t)(p - component);
            if (n != 0 && !(n <= 2 && component[0] == '.' && p[-1] == '.')) {
                if (p[-1] == '.' || p[-1] == ' ') return REASON("a name ending in a dot or a space");
                if (is_device_name(component, n)) return REASON("a device name");
            }
            if (p == end) return nullptr;
            component = p + 1;
        } else if (c < 0x20) {
            return c == 0 ? REASON("a NUL byte") : REASON("a control character");
        } else if (sjis_char_length((const char*)p, (const char*)end) == 2) {
            p++;
        } else if (c == '|' || (c < 0x40 && (FORBIDDEN_BELOW_40 >> (c - 32) & 1))) {
            return REASON("a character Windows forbids (< > : \" | ? *)");
        }
    }
}

#ifndef MAVUSFX_STUB_BUILD
/* Shift-JIS trail bytes are 0x40 and up: a byte below 0x20 is a control character
 * wherever it stands. */
bool only_windows_refuses(const char* path, size_t length) {
    for (size_t i = 0; i < length; i++)
        if ((unsigned char)path[i] < 0x20) return false;
    return windows_name_problem(path, length) != nullptr;
}
#endif
