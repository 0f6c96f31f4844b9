// Stepping through Shift-JIS names and folding their case.  Names are read as code
// page 932 reads them, by a fixed rule whatever the system's own code page is: a
// lead byte 0x81-0x9F or 0xE0-0xFC followed by a trail byte 0x40-0x7E or 0x80-0xFC
// is one character of two bytes; every other byte is a character of its own (0x80,
// the half-width katakana 0xA0-0xDF, 0xFD-0xFF, and a lead byte with no trail byte
// behind it).  So a 0x5C or 0x7C trail byte is never '\\' or '|', and a '/', ':' or
// '.' after a lead byte is always itself.
#pragma once

#include <stddef.h>

// With bit 5 flipped, the two ranges 0x81-0x9F and 0xE0-0xFC become 0xA1-0xDC.
inline bool is_sjis_lead_byte(unsigned char c) {
    return (unsigned char)((c ^ 0x20) - 0xA1) <= 0xDC - 0xA1;
}

inline bool is_sjis_trail_byte(unsigned char c) {
    return (unsigned char)(c - 0x40) <= 0xFC - 0x40 && c != 0x7F;
}

// Bytes of the character at `p`, 1 or 2, in a text that ends at `end` (which lies
// behind `p`).  A terminated text may pass no end: its terminator is no trail byte.
inline size_t sjis_char_length(const char* p, const char* end = nullptr) {
    return (end == nullptr || end - p >= 2) && is_sjis_lead_byte((unsigned char)p[0]) &&
                   is_sjis_trail_byte((unsigned char)p[1])
               ? 2
               : 1;
}

// ASCII letters to lower case; every other byte as it is.  Windows compares names
// that way (trail bytes of double-byte characters aside: see fold_name_case).
inline unsigned char fold_case(unsigned char c) {
    return (unsigned char)(c | ((unsigned char)(c - 'A') < 26) << 5);
}

// fold_case on every single-byte character of the `length` bytes of a name.
inline void fold_name_case(char* name, size_t length) {
    for (char *p = name, *end = name + length; p < end; p += sjis_char_length(p, end))
        *p = (char)fold_case((unsigned char)*p);
}
