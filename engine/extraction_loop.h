// The worker's procedure: walks the archive appended to the program's own file and
// extracts every member into the current folder.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/decode_driver.h"
#include "engine/member_header.h"
#include "engine/extraction_run.h"

// The size of an open file in bytes; its position is left as it was.
long file_size(FILE* file);

// The thread procedure (its argument is the ExtractionRun).
void run_extraction(void* run);

// In the order of their refusals ARCHIVE_DAMAGED, ARCHIVE_CUT_SHORT, ARCHIVE_NOT_LHA.
enum ArchiveShape {
    SHAPE_SOUND,       // every member's data inside the file, then the end byte
    SHAPE_DAMAGED,     // a later header that cannot be read, or any of an unknown layout
    SHAPE_CUT_SHORT,   // a member's data or the end byte lies past the file's end
    SHAPE_NO_ARCHIVE   // nothing, or no readable member header, where the archive begins
};

// Reads the member headers from the current position on, stepping over their data
// without decoding it: the archive's shape, and in `total` the sum of the original
// sizes.  The position is left as it was.
ArchiveShape walk_archive(ExtractionRun* run, uint64_t* total);
