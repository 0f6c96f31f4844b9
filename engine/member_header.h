// LHA member headers of levels 0 to 3 with their extended headers.
#pragma once

#include <stdint.h>

#include "decode/member_size.h"
#include "engine/extraction_run.h"

// The longest level-2 header (its length is 16 bits) and the two bytes an OS-9
// encoder leaves out of it; level 3 and level-1 extended headers are held to it too.
enum { HEADER_BUFFER_SIZE = 0xFFFF + 2 };

struct MemberHeader {
    uint8_t header_size;       // first byte (level 1: plus the extended headers, mod 256;
                               // levels 2, 3: the length's low byte); not in the stub
    char method[5];            // method id such as "-lh5-", not terminated
    MemberSize packed_size;    // member data in the archive, extended headers excluded
    MemberSize original_size;  // bytes after expansion
    uint32_t raw_time;         // MS-DOS time and date (levels 0, 1) or Unix seconds (2, 3)
    uint8_t attribute;         // MS-DOS attributes, never applied; not in the stub
    uint8_t level;
    char name[PATH_BUFFER_SIZE];  // relative path, '/' as separator
    uint16_t name_length;         // bytes of the name: a NUL inside the folder name stays visible
    uint16_t crc;
    uint8_t has_crc;
    uint8_t os_id;  // not in the stub
    // No file name, or a path ending in '/': a folder entry whatever its method says
    // (as is every -lhd- member).
    uint8_t named_as_folder;
    // Extended header 0x42 gave a size that MemberSize does not hold (the stub's 32
    // bits): the member is refused rather than cut to its low bits.
    uint8_t too_large;
    uint32_t time;  // seconds since 1970, UTC
#ifndef MAVUSFX_STUB_BUILD
    // What follows a NUL in the file name (the Amiga's file comment), its first 255
    // bytes, terminated.
    char comment[256];
    uint16_t comment_length;
    // The Unix permission bits a Unix encoder stored (extended header 0x50, or the
    // Unix extension of a level-0 header), all 16 bits as stored; has_mode is 0
    // when the header holds none.
    uint16_t mode;
    uint8_t has_mode;
#endif
};

enum HeaderResult {
    HEADER_END,            // a 0 byte or the end of the file where a header should begin
    HEADER_READ,           // a member header was read; archive_file stands on its data
    HEADER_DAMAGED,        // neither: short, or out of the format's bounds
    HEADER_UNKNOWN_LAYOUT  // damaged too: fields after the name of no known layout
};

// Reads the next member header from `file`; on HEADER_READ the file stands on the
// member's data.
HeaderResult read_member_header(FILE* file, MemberHeader* header);

// MS-DOS local standard time to seconds since 1970 UTC; 0 stays 0.  A month field
// of 13 to 15 names no month: such a stamp counts as 1980-01-01 00:00:00, the
// earliest an MS-DOS stamp holds, and the member is extracted all the same.
uint32_t dos_time_to_unix(uint32_t dos_time);
// The same with the zone offset given (seconds west of UTC), for tests.
uint32_t dos_time_to_unix_in_zone(uint32_t dos_time, int32_t timezone_offset);
