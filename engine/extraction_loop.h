// The worker's procedure: walks the archive appended to the program's own file and
// extracts every member into the current folder.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/member_header.h"
#include "frontend/run_record.h"

enum { METHOD_COUNT = 12 };
enum {
    METHOD_LH0 = 0, METHOD_LH1, METHOD_LH2, METHOD_LH3, METHOD_LH4, METHOD_LH5,
    METHOD_LH6, METHOD_LH7, METHOD_LZS, METHOD_LZ5, METHOD_LZ4, METHOD_LHD
};

// The 12 method ids in lookup order, ended by an empty entry.
extern const char METHOD_IDS[METHOD_COUNT + 1][6];
// The window size of each compressed method as a power of two; 0 for the others.
extern const uint8_t METHOD_DICTIONARY_BITS[METHOD_COUNT];

// The cancel request: 1 at start, set to 0 by the stop button, never set back.
extern volatile int run_flag;

// Index of a 5-byte method id in METHOD_IDS, or -1.
int method_index(const char* method);

// The size of an open file in bytes; its position is left as it was.
long file_size(FILE* file);

// The thread procedure (its argument is the SfxApp).
void run_extraction(void* app);

// In the order of their refusals ARCHIVE_DAMAGED, ARCHIVE_CUT_SHORT, ARCHIVE_NOT_LHA.
enum ArchiveShape {
    SHAPE_SOUND,       // every member's data inside the file, then the end byte
    SHAPE_DAMAGED,     // a later header that cannot be read (an unknown layout: its box)
    SHAPE_CUT_SHORT,   // a member's data or the end byte lies past the file's end
    SHAPE_NO_ARCHIVE   // nothing, or no readable member header, where the archive begins
};

// Reads the member headers from the current position on, stepping over their data
// without decoding it: the archive's shape, and in `total` the sum of the original
// sizes.  The position is left as it was.
ArchiveShape walk_archive(SfxApp* app, uint64_t* total);

// Extracts one member; 1 when the run was stopped, else 0.
int extract_member(SfxApp* app, const MemberHeader* header);

// How the data of one member came out.
enum ExpandResult {
    EXPAND_COMPLETE, EXPAND_CANCELLED, EXPAND_DAMAGED, EXPAND_TRUNCATED, EXPAND_NO_MEMORY
};

// Writes the member's data to `out` (null: decode only); running_crc holds its
// CRC-16 afterwards.
ExpandResult expand_member(SfxApp* app, FILE* out, uint32_t original_size,
                           uint32_t packed_size, int method_index);
