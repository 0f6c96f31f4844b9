// Names Windows cannot hold, checked component by component.  Bytes are read as
// Shift-JIS: a lead byte takes the next byte with it, so a trail byte of 0x7C ('|'
// in ASCII, as in "ポ" 0x83 0x7C) or 0x5C is part of a character, never a sign.
#include "engine/windows_names.h"

#include <string.h>

#include "engine/paths.h"

static unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? (unsigned char)(c - 32) : c; }

static bool same_name(const unsigned char* name, size_t length, const char* device) {
    if (strlen(device) != length) return false;
    for (size_t i = 0; i < length; i++)
        if (upper(name[i]) != (unsigned char)device[i]) return false;
    return true;
}

/* A device name is matched on the part before the first dot, with the spaces before
 * that dot dropped ("nul .txt" opens the device too).  COM0 and LPT0 are names. */
static bool is_device_name(const unsigned char* name, size_t length) {
    size_t base = 0;
    while (base < length && name[base] != '.') base++;
    while (base > 0 && name[base - 1] == ' ') base--;
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : DEVICES)
        if (same_name(name, base, device)) return true;
    if (base == 4 && name[3] >= '1' && name[3] <= '9')
        return same_name(name, 3, "COM") || same_name(name, 3, "LPT");
    return false;
}

static const char* component_problem(const unsigned char* name, size_t length) {
    if (length == 0) return nullptr;
    if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.'))
        return nullptr;
    unsigned char last = name[length - 1];
    if (last == '.' || last == ' ') return "a name ending in a dot or a space";
    if (is_device_name(name, length)) return "a device name";
    return nullptr;
}

const char* windows_name_problem(const char* path, size_t length) {
    const unsigned char* p = (const unsigned char*)path;
    size_t component = 0;
    for (size_t i = 0; i <= length; i++) {
        if (i == length || p[i] == '/' || p[i] == '\\') {
            const char* problem = component_problem(p + component, i - component);
            if (problem != nullptr) return problem;
            component = i + 1;
            continue;
        }
        unsigned char c = p[i];
        if (c == 0) return "a NUL byte";
        if (c < 0x20) return "a control character";
        if (is_sjis_lead_byte(c) && i + 1 < length) {
            i++;
            continue;
        }
        if (strchr("<>:\"|?*", c) != nullptr) return "a character Windows forbids (< > : \" | ? *)";
    }
    return nullptr;
}
