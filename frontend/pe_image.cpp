#include "frontend/pe_image.h"

static uint32_t u16_at(const uint8_t* p) { return (uint32_t)(p[0] | p[1] << 8); }
static uint32_t u32_at(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* MZ header: e_lfanew at 0x3C names the "PE\0\0" signature; the COFF header follows
 * (section count at +6, optional header size at +20), then the optional header
 * (SizeOfHeaders at +60), then the section table, 40 bytes per section with
 * SizeOfRawData at +16 and PointerToRawData at +20. */
uint32_t pe_image_end(const uint8_t* head, uint32_t length) {
    if (length < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    uint32_t pe = u32_at(head + 0x3C);
    if (pe > length || length - pe < 24) return 0;
    if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) return 0;
    uint32_t sections = u16_at(head + pe + 6);
    uint32_t optional_size = u16_at(head + pe + 20);
    uint32_t table = pe + 24 + optional_size;
    if (optional_size < 64 || table > length || (length - table) / 40 < sections) return 0;
    uint32_t end = u32_at(head + pe + 24 + 60);  // SizeOfHeaders
    for (uint32_t i = 0; i < sections; i++) {
        const uint8_t* section = head + table + 40 * i;
        uint32_t size = u32_at(section + 16), pointer = u32_at(section + 20);
        if (size != 0 && pointer + size > end) end = pointer + size;
    }
    return end;
}
