// Member headers as the packer writes them: levels 0, 1 and 2, with the names split
// the way each level wants them, the CRC-16 of the data, the time stamp, an MS-DOS
// attribute and (levels 1 and 2) the Unix permissions.
#pragma once

#include <stdint.h>
#include <time.h>

enum {
    ATTRIBUTE_FILE = 0x20,    // MS-DOS "archive"
    ATTRIBUTE_FOLDER = 0x10,  // MS-DOS "directory"
    MAX_MEMBER_HEADER = 512,  // no header the packer writes is longer
};

struct MemberEntry {
    char method[6];           // "-lh5-" and so on, "-lh0-", "-lhd-" for a folder
    uint32_t packed_size;     // the data alone, without extended headers
    uint32_t original_size;
    uint16_t crc;
    uint8_t attribute;
    bool has_mode;            // a file's Unix permissions are known: levels 1 and 2 keep them
    uint16_t mode;            // those permissions; bits above 0777 are not kept
    time_t modified;          // seconds since 1970, UTC
    // The member's path in Shift-JIS with '/' as the separator: the folder part with
    // its trailing '/' (empty at the top), and the file name (empty for a folder).
    const char* folder;
    const char* file_name;
};

// Writes the header for `entry` at header level 0, 1 or 2 into `out` (room for
// MAX_MEMBER_HEADER bytes) and returns its length, or 0 when the names do not fit
// the level: level 0 holds a path of 233 bytes, level 1 a file name of 230 bytes,
// level 2 a header of at most 255 bytes, and no level more than the 259 bytes a
// path may have.  A level-1 header's packed size counts its extended headers.
unsigned build_member_header(const MemberEntry* entry, int level, uint8_t* out);

// Seconds since 1970 (UTC) as an MS-DOS date and time in local standard time,
// `zone_west` seconds west of UTC.  Times before 1980 become 1980-01-01 00:00:00,
// times after 2107 the last second of 2107; odd seconds round down.
uint32_t unix_to_dos_time(time_t t, int32_t zone_west);
