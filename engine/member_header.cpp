#include "engine/member_header.h"

#include <string.h>

#include "decode/little_endian.h"
#include "engine/path_text.h"
#include "engine/shift_jis.h"
#include "platform/system_services.h"

// The whole header of one member, level-1 extended headers included.  Zeroed
// memory: it costs the program's file nothing.
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

/* The attribute, the OS id and the header's size byte are read for the tool and the
 * tests; the extraction uses none of them, and the stub keeps their code out. */
#ifdef MAVUSFX_STUB_BUILD
#define NOT_IN_STUB(statement)
#else
#define NOT_IN_STUB(statement) statement
#endif

static bool read_exactly(FILE* file, uint8_t* out, uint32_t count) {
    return fread(out, 1, count, file) == count;
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

/* Extended headers: a size S announces each, 2 bytes (level 3: 4); the header
 * itself is a type byte, S - 1 - w bytes of data and the next size field of w
 * bytes.  0 ends the chain.  Each is read from the file when its size is known,
 * behind the previous one, as far as the buffer holds.  Sizes too small to hold
 * their own type byte and next size are damaged. */
static bool read_extended_headers(FILE* file, MemberHeader* header, HeaderNames* names,
                                  uint32_t* total) {
    uint32_t width = header->level == 3 ? 4 : 2;
    *total = 0;
    for (;;) {
        uint32_t size = width == 4 ? take_u32() : take_u16();
        if (size == 0) return true;
        if (size < 1 + width) return false;
        uint32_t at = (uint32_t)(header_cursor - header_buffer);
        if (size > HEADER_BUFFER_SIZE - at || !read_exactly(file, header_buffer + at, size))
            return false;
        *total += size;
        uint8_t type = take_u8();
        const uint8_t* data = header_cursor;
        uint32_t data_length = size - 1 - width;
        if (type == 0x01) {
            names->file_name = data;
            names->file_length = data_length;
        } else if (type == 0x02) {
            names->folder_name = data;
            names->folder_length = data_length;
        } else if (type == 0x42 && data_length >= 16) {
            // The packed and original sizes in 64 bits, over the 32-bit fields.  Sizes
            // that MemberSize cannot hold (the stub's 32 bits) refuse the member.
            uint64_t packed = le32_at(data) | (uint64_t)le32_at(data + 4) << 32;
            uint64_t original = le32_at(data + 8) | (uint64_t)le32_at(data + 12) << 32;
            header->packed_size = (MemberSize)packed;
            header->original_size = (MemberSize)original;
            header->too_large = (packed | original) > (MemberSize)-1;
#ifndef MAVUSFX_STUB_BUILD
        } else if (type == 0x50 && data_length >= 2) {
            // Unix permissions, whatever the OS id says.
            header->mode = (uint16_t)le16_at(data);
            header->has_mode = 1;
#endif
        }
        NOT_IN_STUB(if (type == 0x40 && data_length >= 1 &&
                        (header->os_id == 'M' || header->os_id == 'H' || header->os_id == 0))
                        header->attribute = data[0]);
        header_cursor = data + data_length;
    }
}

/* The name: the folder name (its separators, 0xFF among them, made '/') followed by
 * the file name.  A file name ends at a NUL: Amiga and MorphOS encoders store the
 * file's comment behind it.  More than 259 bytes do not fit the name field:
 * damaged.  A member without a file name, or whose path ends in a separator, is a
 * folder entry whatever its method says (Amiga LHA stores folders as -lh0-). */
static bool compose_name(MemberHeader* header, const HeaderNames* names) {
    uint32_t folder_length = names->folder_length;
    uint32_t file_length = 0;
    while (file_length < names->file_length && names->file_name[file_length] != 0) file_length++;
#ifndef MAVUSFX_STUB_BUILD
    if (file_length < names->file_length) {
        uint32_t comment_length = names->file_length - file_length - 1;
        if (comment_length > sizeof header->comment - 1)
            comment_length = sizeof header->comment - 1;
        memcpy(header->comment, names->file_name + file_length + 1, comment_length);
        header->comment_length = (uint16_t)comment_length;
    }
#endif
    uint32_t length = folder_length + file_length;
    if (length > PATH_BUFFER_SIZE - 1) return false;
    // The name field was cleared with the header: the terminator is there.
    char* name = header->name;
    memcpy(name, names->folder_name, folder_length);
    memcpy(name + folder_length, names->file_name, file_length);
    header->name_length = (uint16_t)length;
    // Backslashes outside Shift-JIS characters become slashes, and in the folder name
    // 0xFF, its separator, too.
    for (char *p = name, *end = name + length; p < end; p += sjis_char_length(p, end))
        if (*p == '\\' || (*p == '\xFF' && p < name + folder_length)) *p = '/';
    header->named_as_folder = file_length == 0 || name[length - 1] == '/';
    return true;
}

/* The base header, up to the first extended header's size: levels 0 and 1 are
 * h + 2 bytes, h their first byte.  Level 2 is 26 bytes and states the whole
 * header's length in its first two (jLHA writes 256 bytes and more for a long path);
 * level 3 is 32 bytes, has 4 (its word size) in its first two and the whole length
 * in 4 bytes at offset 24.  The level is at offset 20.
 *
 * The extended headers of levels 2 and 3 must end within the stated length; what
 * lies between their end and it is passed over.  LHa for OS-9 states a level-2
 * length 2 bytes short: its chain, followed to the 0 that ends it, ends 2 bytes
 * past the stated length, where the data begins.  A chain that ends exactly there
 * decides. */
HeaderResult read_member_header(FILE* file, MemberHeader* header) {
    memset(header, 0, sizeof *header);
    int first = fgetc(file);
    if (first == EOF || first == 0) return HEADER_END;
    header_buffer[0] = (uint8_t)first;
    if (!read_exactly(file, header_buffer + 1, 20)) return HEADER_DAMAGED;
    uint8_t level = header_buffer[20];
    uint32_t h = (uint32_t)first;
    uint32_t base = level < 2 ? h + 2 : level == 2 ? 26 : 32;
    if (level > 3 || base < 22 || !read_exactly(file, header_buffer + 21, base - 21))
        return HEADER_DAMAGED;
    uint32_t length = base;
    if (level == 2) length = le16_at(header_buffer);
    if (level == 3) {
        if (le16_at(header_buffer) != 4) return HEADER_DAMAGED;
        length = le32_at(header_buffer + 24);
    }
    if (level >= 2) h = length;

    memcpy(header->method, header_buffer + 2, 5);
    header->packed_size = le32_at(header_buffer + 7);
    header->original_size = le32_at(header_buffer + 11);
    header->raw_time = le32_at(header_buffer + 15);
    NOT_IN_STUB(header->attribute = header_buffer[19]);
    header->level = level;
    header_cursor = header_buffer + 21;
    NOT_IN_STUB(header->header_size = (uint8_t)h);

    // Levels 0 and 1 carry the base name here; levels 2 and 3 only in extended headers.
    HeaderNames names = {header_buffer, 0, header_buffer, 0};  // no null to copy from
    uint32_t n = 0;
    if (level < 2) {
        n = take_u8();
        names.file_name = header_cursor;
        names.file_length = n;
        header_cursor += n;
    }
    // d = h - n tells whether the CRC-16 and the OS id follow (levels 2 and 3: d is
    // the header's whole length).
    uint32_t d = n > h ? 0 : h - n;
    if (d >= 24) {
        header->crc = take_u16();
        NOT_IN_STUB(header->os_id = take_u8());
        header->has_crc = 1;
    } else if (d == 22) {
        header->crc = take_u16();
        header->has_crc = 1;
    } else if (d != 20) {
        return HEADER_UNKNOWN_LAYOUT;
    }
#ifndef MAVUSFX_STUB_BUILD
    // A level-0 header of a Unix encoder goes on behind the OS id 'U' with a version
    // byte, the Unix time (4 bytes), the permissions (2), the user and group ids.
    if (level == 0 && header->os_id == 'U' && d >= 30) {
        header->mode = (uint16_t)le16_at(header_cursor + 5);
        header->has_mode = 1;
    }
#endif
    // A level-2 or level-3 header too short to hold its first extended-header size.
    if (length < base) return HEADER_DAMAGED;

    if (level != 0) {
        header_cursor = header_buffer + base - (level == 3 ? 4 : 2);
        uint32_t total = 0;
        if (!read_extended_headers(file, header, &names, &total)) return HEADER_DAMAGED;
        uint32_t end = (uint32_t)(header_cursor - header_buffer);
        if (level == 1 && total > 0) {
            // Level 1 counts its extended headers into the packed size.
            if (total > header->packed_size) return HEADER_DAMAGED;
            header->packed_size -= total;
            NOT_IN_STUB(header->header_size = (uint8_t)(header->header_size + total));
        } else if (level >= 2 && end != length + 2) {
            if (end > length || length > HEADER_BUFFER_SIZE ||
                !read_exactly(file, header_buffer + end, length - end))
                return HEADER_DAMAGED;
        }
    }
    if (!compose_name(header, &names)) return HEADER_DAMAGED;

    header->time = level >= 2 ? header->raw_time : dos_time_to_unix(header->raw_time);
    return HEADER_READ;
}
