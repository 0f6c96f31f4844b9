#include "frontend/pe_image.h"

#include "decode/little_endian.h"

/* MZ header: e_lfanew at 0x3C names the "PE\0\0" signature; the COFF header follows
 * (section count at +6, optional header size at +20), then the optional header
 * (SizeOfHeaders at +60), then the section table, 40 bytes per section with
 * SizeOfRawData at +16 and PointerToRawData at +20. */
uint32_t pe_image_end(const uint8_t* head, uint32_t length) {
    if (length < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    uint32_t pe = le32_at(head + 0x3C);
    if (pe > length || length - pe < 24) return 0;
    if (le32_at(head + pe) != 0x00004550) return 0;  // "PE\0\0"
    uint32_t sections = le16_at(head + pe + 6);
    uint32_t optional_size = le16_at(head + pe + 20);
    uint32_t table = pe + 24 + optional_size;
    // At most 65,535 sections of 40 bytes: the product cannot overflow.
    if (optional_size < 64 || table > length || length - table < 40 * sections) return 0;
    uint32_t end = le32_at(head + pe + 24 + 60);  // SizeOfHeaders
    for (const uint8_t* section = head + table; sections != 0; sections--, section += 40) {
        uint32_t size = le32_at(section + 16), pointer = le32_at(section + 20);
        if (size != 0 && pointer + size > end) end = pointer + size;
    }
    return end;
}

/* The optional header begins with its magic: 0x10B for PE32, 0x20B for PE32+, whose
 * data directories (8 bytes each: offset, size) begin 96 or 112 bytes in, preceded
 * by their count.  Directory 4 is the certificate table; its offset is a file
 * offset, not an address. */
uint32_t pe_certificate_size(const uint8_t* head, uint32_t length) {
    if (pe_image_end(head, length) == 0) return 0;
    uint32_t optional = le32_at(head + 0x3C) + 24;
    uint32_t optional_size = le16_at(head + optional - 4);
    uint32_t magic = le16_at(head + optional);
    uint32_t directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
    if (directories == 0 || optional_size < directories + 5 * 8) return 0;
    if (le32_at(head + optional + directories - 4) < 5) return 0;
    return le32_at(head + optional + directories + 4 * 8 + 4);
}
