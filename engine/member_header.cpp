#include "engine/member_header.h"

#include <string.h>

#include "decode/little_endian.h"
#include "engine/path_text.h"
#include "engine/shift_jis.h"
#include "platform/system_services.h"

// The whole header of one member, level-1 extended headers included.
static uint8_t header_buffer[HEADER_BUFFER_SIZE];

// Read position in header_buffer.
static const uint8_t* header_cursor;

static uint8_t take_u8() { return *header_cursor++; }

static uint16_t take_u16() {
    header_cursor += 2;
    return (uint16_t)le16_at(header_cursor - 2);
}

static uint32_t take_u32() {
    header_cursor += 4;
    return le32_at(header_cursor - 4);
}

static bool read_exactly(FILE* file, uint8_t* out, uint32_t count) {
    return fread(out, 1, count, file) == count;
}

void slashes_from_backslashes(char* text, unsigned count) {
    for (char *p = text, *end = text + count; p < end; p += sjis_char_length(p, end))
        if (*p == '\\') *p = '/';
}

static const uint16_t DAYS_BEFORE_MONTH[13] = {0,   0,   31,  59,  90,  120, 151,
                                               181, 212, 243, 273, 304, 334};

/* MS-DOS stamps: seconds/2 in bits 0-4, minute 5-10, hour 11-15, day 16-20, month
 * 21-24, year - 1980 in 25-31, all local standard time (no daylight saving).  The
 * result is taken modulo 2^32, so sums and products in 32 bits give it exactly (a
 * day 0 counts as the day before the 1st).  The years a stamp holds, 1980 to 2107,
 * are leap years every fourth from 1980 on, 2100 alone excepted: 1970 to 1980 is
 * 3,652 days, and (y + 3) / 4 leap days lie before year 1980 + y. */
uint32_t dos_time_to_unix_in_zone(uint32_t v, int32_t timezone_offset) {
    if (v == 0) return 0;
    if (((v >> 21) & 0x0F) > 12) v = 1u << 21 | 1u << 16;  // no such month: 1980-01-01
    uint32_t second = 2 * (v & 0x1F);
    uint32_t minute = (v >> 5) & 0x3F;
    uint32_t hour = (v >> 11) & 0x1F;
    uint32_t day = (v >> 16) & 0x1F;
    uint32_t month = (v >> 21) & 0x0F;
    uint32_t y = v >> 25;
    bool after_2100 = y > 120;
    bool leap = (y & 3) == 0 && y != 120;
    uint32_t days = 3652 + 365 * y + (y + 3) / 4 - after_2100 + DAYS_BEFORE_MONTH[month] + day - 1 +
                    (month >= 3 && leap);
    return ((days * 24 + hour) * 60 + minute) * 60 + second + (uint32_t)timezone_offset;
}

uint32_t dos_time_to_unix(uint32_t v) {
    return dos_time_to_unix_in_zone(v, platform_timezone_offset());
}

// Where the names of one header lie in header_buffer.
struct HeaderNames {
    const uint8_t* file_name;
    uint32_t file_length;
    const uint8_t* folder_name;
    uint32_t folder_length;
};

/* Extended headers: a 2-byte size S announces each; the header itself is a type byte,
 * S - 3 bytes of data and the next size field.  0 ends the chain.  Level 1 reads each
 * one from the file when its size is known, behind the previous one; level 2 has
 * them all in the header already and they must end within its length `limit`.
 * Sizes 1 and 2 cannot hold their own type byte and next size: damaged. */
static bool read_extended_headers(FILE* file, MemberHeader* header, HeaderNames* names,
                                  uint32_t limit, uint32_t* total) {
    *total = 0;
    for (;;) {
        uint32_t size = take_u16();
        if (size == 0) return true;
        if (size < 3) return false;
        uint32_t at = (uint32_t)(header_cursor - header_buffer);
        if (header->level == 1) {
            if (size > HEADER_BUFFER_SIZE - at) return false;
            if (!read_exactly(file, header_buffer + at, size)) return false;
        } else if (size > limit - at) {
            return false;
        }
        *total += size;
        uint8_t type = take_u8();
        const uint8_t* data = header_cursor;
        uint32_t data_length = size - 3;
        if (type == 0x01) {
            names->file_name = data;
            names->file_length = data_length;
        } else if (type == 0x02) {
            names->folder_name = data;
            names->folder_length = data_length;
#ifndef MAVUSFX_STUB_BUILD
        } else if (type == 0x42 && data_length >= 16) {
            // The packed and original sizes in 64 bits, over the 32-bit fields.
            header->packed_size = le32_at(data) | (uint64_t)le32_at(data + 4) << 32;
            header->original_size = le32_at(data + 8) | (uint64_t)le32_at(data + 12) << 32;
#endif
        } else if (type == 0x40 && data_length >= 1 &&
                   (header->os_id == 'M' || header->os_id == 'H' || header->os_id == 0)) {
            header->attribute = data[0];
        }
        header_cursor = data + data_length;
    }
}

/* The name: the folder name (its separators, 0xFF among them, made '/') followed by
 * the file name.  More than 259 bytes do not fit the name field: damaged. */
static bool compose_name(MemberHeader* header, const HeaderNames* names) {
    uint32_t folder_length = names->folder_length;
    if (folder_length + names->file_length > PATH_BUFFER_SIZE - 1) return false;
    if (folder_length > 0) {
        memcpy(header->name, names->folder_name, folder_length);
        header->name[folder_length] = 0;
        convert_separators(header->name, '/');
    }
    if (names->file_length > 0) memcpy(header->name + folder_length, names->file_name, names->file_length);
    header->name[folder_length + names->file_length] = 0;
    header->name_length = (uint16_t)(folder_length + names->file_length);
    slashes_from_backslashes(header->name, folder_length + names->file_length);
    return true;
}

HeaderResult read_member_header(FILE* file, MemberHeader* header) {
    memset(header, 0, sizeof *header);
    int first = fgetc(file);
    if (first == EOF || first == 0) return HEADER_END;
    header_buffer[0] = (uint8_t)first;
    // The first 21 bytes hold the level at offset 20.  The whole header is then
    // h + 2 bytes for levels 0 and 1 (level 1: the base header), and the 16-bit
    // length at offset 0 for level 2 (jLHA writes 256 bytes and more for a long
    // path); the buffer bounds it.
    if (!read_exactly(file, header_buffer + 1, 20)) return HEADER_DAMAGED;
    uint8_t level = header_buffer[20];
    if (level > 2) return HEADER_DAMAGED;
    uint32_t h = (uint32_t)first;
    uint32_t length = level == 2 ? le16_at(header_buffer) : h + 2;
    if (length < 21 + (level != 2) || length > HEADER_BUFFER_SIZE) return HEADER_DAMAGED;
    if (!read_exactly(file, header_buffer + 21, length - 21)) return HEADER_DAMAGED;
    if (level == 2) h = length;

    header_cursor = header_buffer + 2;
    memcpy(header->method, header_cursor, 5);
    header_cursor += 5;
    header->packed_size = take_u32();
    header->original_size = take_u32();
    header->raw_time = take_u32();
    header->attribute = take_u8();
    header->level = take_u8();
    header->header_size = (uint8_t)h;

    // Levels 0 and 1 carry the base name here; level 2 only in extended headers.
    HeaderNames names = {};
    uint32_t n = 0;
    if (level != 2) {
        n = take_u8();
        names.file_name = header_cursor;
        names.file_length = n;
        header_cursor += n;
    }
    // d = h - n tells whether the CRC-16 and the OS id follow (level 2: d is the
    // header's whole length).
    uint32_t d = n > h ? 0 : h - n;
    if (d >= 24) {
        header->crc = take_u16();
        header->os_id = take_u8();
        header->has_crc = 1;
    } else if (d == 22) {
        header->crc = take_u16();
        header->has_crc = 1;
    } else if (d != 20) {
        return HEADER_UNKNOWN_LAYOUT;
    }
    // A level-2 header too short to hold its first extended-header size.
    if (level == 2 && h < 26) return HEADER_DAMAGED;

    if (level != 0) {
        header_cursor = header_buffer + (level == 1 ? h : 24);
        uint32_t total = 0;
        if (!read_extended_headers(file, header, &names, h, &total)) return HEADER_DAMAGED;
        if (level == 1 && total > 0) {
            // Level 1 counts its extended headers into the packed size.
            if (total > header->packed_size) return HEADER_DAMAGED;
            header->packed_size -= total;
            header->header_size = (uint8_t)(header->header_size + total);
        }
    }
    if (!compose_name(header, &names)) return HEADER_DAMAGED;

    header->time = level == 2 ? header->raw_time : dos_time_to_unix(header->raw_time);
    return HEADER_READ;
}
