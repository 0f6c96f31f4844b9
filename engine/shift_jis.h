// Paths are bytes of the ANSI code page read as Shift-JIS by a fixed rule, whatever
// the system's code page: 0x80-0x9F and 0xE0-0xFC are lead bytes, and the byte after
// one belongs to the same character.
#pragma once

// With bit 5 flipped, the two ranges become the one range 0xA0-0xDC.
inline bool is_sjis_lead_byte(unsigned char c) {
    return (unsigned char)((c ^ 0x20) - 0xA0) <= 0xDC - 0xA0;
}
