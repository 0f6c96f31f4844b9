#include "tools/pack/member_writer.h"

#include <string.h>

#include "decode/crc16.h"
#include "platform/system_services.h"

enum {
    LEVEL0_MAX_NAME = 233,   // 22 + n in the header's first byte
    LEVEL1_MAX_NAME = 230,   // 25 + n in the header's first byte
    LEVEL2_MAX_HEADER = 255, // the reader takes only the length's low byte
    MAX_PATH_BYTES = 259,
    OS_ID_MSDOS = 'M',
    UNIX_REGULAR_FILE = 0100000,
};

static void put16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

/* Seconds since 1970 to an MS-DOS stamp of local standard time, clamped to the
 * years the stamp can hold.  The calendar date comes from the day number by the
 * proleptic Gregorian rules (eras of 400 years starting in March). */
uint32_t unix_to_dos_time(time_t t, int32_t zone_west) {
    int64_t local = (int64_t)t - zone_west;
    const int64_t first = 315532800;          // 1980-01-01 00:00:00
    const int64_t last = 4354819199;          // 2107-12-31 23:59:59
    if (local < first) local = first;
    if (local > last) local = last;
    int64_t days = local / 86400, seconds = local % 86400;
    int64_t z = days + 719468, era = z / 146097;
    int64_t day_of_era = z - era * 146097;
    int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 is March
    uint32_t day = (uint32_t)(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    uint32_t month = (uint32_t)(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    uint32_t year = (uint32_t)(year_of_era + era * 400 + (month <= 2));
    return (year - 1980) << 25 | month << 21 | day << 16 | (uint32_t)(seconds / 3600) << 11 |
           (uint32_t)(seconds / 60 % 60) << 5 | (uint32_t)(seconds % 60) / 2;
}

// Copies `text`, with every '/' made `separator` ('/' copies it as it is).  A '/'
// is never the second byte of a Shift-JIS character, so each one is a separator.
static void put_separated(uint8_t* out, const char* text, size_t length, uint8_t separator) {
    for (size_t i = 0; i < length; i++) out[i] = text[i] == '/' ? separator : (uint8_t)text[i];
}

/* The fields every level has at offsets 2 to 20: method, packed and original size,
 * time stamp, attribute and level.  Levels 1 and 2 keep 0x20 in the attribute's
 * place (readers refuse anything else there) and carry any other attribute in an
 * MS-DOS attribute extended header. */
static void put_common(uint8_t* h, const MemberEntry* e, uint32_t packed, uint32_t stamp, int level) {
    memcpy(h + 2, e->method, 5);
    put32(h + 7, packed);
    put32(h + 11, e->original_size);
    put32(h + 15, stamp);
    h[19] = level == 0 ? e->attribute : (uint8_t)ATTRIBUTE_FILE;
    h[20] = (uint8_t)level;
}

static unsigned attribute_header_size(const MemberEntry* e) { return e->attribute != ATTRIBUTE_FILE ? 5 : 0; }

// An extended header: its type and data, then the next one's size (0 for now).
static uint8_t* put_extended(uint8_t* p, uint8_t type, const char* data, size_t length, uint8_t separator) {
    p[0] = type;
    put_separated(p + 1, data, length, separator);
    put16(p + 1 + length, 0);
    return p + 1 + length;
}

static uint8_t* put_attribute_header(uint8_t* p, const MemberEntry* e) {
    char value[2] = {(char)e->attribute, 0};
    return put_extended(p, 0x40, value, 2, '/');
}

/* The Unix mode of a plain file, 2 bytes little-endian (extended header 0x50): the
 * file-type bits of a regular file, as Unix encoders store them, and the
 * permissions.  Readers on Windows pass it over; Unix readers give the extracted
 * file these permissions. */
static unsigned mode_header_size(const MemberEntry* e) { return e->has_mode ? 5 : 0; }

static uint8_t* put_mode_header(uint8_t* p, const MemberEntry* e) {
    uint32_t mode = UNIX_REGULAR_FILE | (e->mode & 0777u);
    char value[2] = {(char)(mode & 0xFF), (char)(mode >> 8)};
    return put_extended(p, 0x50, value, 2, '/');
}

// Levels 0 and 1 carry a checksum of the h bytes after the first two.
static void put_checksum(uint8_t* h) {
    uint8_t sum = 0;
    for (unsigned i = 2; i < (unsigned)h[0] + 2; i++) sum = (uint8_t)(sum + h[i]);
    h[1] = sum;
}

/* Level 0: the whole path in the base header with '\\' separators.  No OS id, so
 * the header is 22 + n bytes after its first two: name, then the CRC. */
static unsigned level0_header(const MemberEntry* e, size_t folder, size_t file, uint8_t* h) {
    size_t n = folder + file;
    if (n > LEVEL0_MAX_NAME) return 0;
    uint32_t stamp = unix_to_dos_time(e->modified, platform_timezone_offset());
    h[0] = (uint8_t)(22 + n);
    put_common(h, e, e->packed_size, stamp, 0);
    h[21] = (uint8_t)n;
    put_separated(h + 22, e->folder, folder, '\\');
    memcpy(h + 22 + folder, e->file_name, file);
    put16(h + 22 + n, e->crc);
    put_checksum(h);
    return (unsigned)(24 + n);
}

/* Level 1: the file name in the base header, then CRC, OS id and the first
 * extended header's size; the folder follows as a folder-name extended header with
 * 0xFF separators.  The packed size counts the extended headers. */
static unsigned level1_header(const MemberEntry* e, size_t folder, size_t file, uint8_t* h) {
    if (file > LEVEL1_MAX_NAME || folder + file > MAX_PATH_BYTES) return 0;
    uint32_t stamp = unix_to_dos_time(e->modified, platform_timezone_offset());
    unsigned folder_header = folder > 0 ? (unsigned)(3 + folder) : 0;
    unsigned extended = folder_header + attribute_header_size(e) + mode_header_size(e);
    h[0] = (uint8_t)(25 + file);
    put_common(h, e, e->packed_size + extended, stamp, 1);
    h[21] = (uint8_t)file;
    memcpy(h + 22, e->file_name, file);
    uint8_t* p = h + 22 + file;
    put16(p, e->crc);
    p[2] = OS_ID_MSDOS;
    uint8_t* next_size = p + 3;
    put16(next_size, 0);
    p += 5;
    if (folder > 0) {
        put16(next_size, folder_header);
        next_size = put_extended(p, 0x02, e->folder, folder, 0xFF);
        p = next_size + 2;
    }
    if (attribute_header_size(e) != 0) {
        put16(next_size, 5);
        next_size = put_attribute_header(p, e);
        p = next_size + 2;
    }
    if (mode_header_size(e) != 0) {
        put16(next_size, 5);
        next_size = put_mode_header(p, e);
        p = next_size + 2;
    }
    put_checksum(h);
    return (unsigned)(p - h);
}

/* Level 2: a fixed part of 26 bytes, then extended headers: the header's own
 * CRC-16, the file name, the folder name (0xFF separators), for a folder the
 * attribute, and the Unix permissions when they are known.  The header CRC is taken over the whole header with its own field at 0. */
static unsigned level2_header(const MemberEntry* e, size_t folder, size_t file, uint8_t* h) {
    size_t total = 26 + 5 + (file > 0 ? 3 + file : 0) + (folder > 0 ? 3 + folder : 0) +
                   attribute_header_size(e) + mode_header_size(e);
    if (total > LEVEL2_MAX_HEADER) return 0;
    put16(h, (uint32_t)total);
    uint32_t stamp = e->modified < 0 ? 0 : e->modified > (time_t)UINT32_MAX ? UINT32_MAX : (uint32_t)e->modified;
    put_common(h, e, e->packed_size, stamp, 2);
    put16(h + 21, e->crc);
    h[23] = OS_ID_MSDOS;
    put16(h + 24, 5);
    uint8_t* next_size = put_extended(h + 26, 0x00, "\0", 2, '/');
    uint8_t* header_crc = h + 27;
    if (file > 0) {
        put16(next_size, (uint32_t)(3 + file));
        next_size = put_extended(next_size + 2, 0x01, e->file_name, file, '/');
    }
    if (folder > 0) {
        put16(next_size, (uint32_t)(3 + folder));
        next_size = put_extended(next_size + 2, 0x02, e->folder, folder, 0xFF);
    }
    if (attribute_header_size(e) != 0) {
        put16(next_size, 5);
        next_size = put_attribute_header(next_size + 2, e);
    }
    if (mode_header_size(e) != 0) {
        put16(next_size, 5);
        next_size = put_mode_header(next_size + 2, e);
    }
    put16(header_crc, crc16(0, h, (uint32_t)total));
    return (unsigned)total;
}

unsigned build_member_header(const MemberEntry* entry, int level, uint8_t* out) {
    size_t folder = strlen(entry->folder);
    size_t file = strlen(entry->file_name);
    if (folder + file > MAX_PATH_BYTES) return 0;
    switch (level) {
    case 0: return level0_header(entry, folder, file, out);
    case 1: return level1_header(entry, folder, file, out);
    case 2: return level2_header(entry, folder, file, out);
    }
    return 0;
}
