// The one walk over an archive's member headers, stepping over each member's data
// without decoding it: the archive's shape before anything is written, the sum of
// the original sizes, and each sound member's header for whoever lists them.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/extraction_run.h"
#include "engine/member_header.h"

// The size of an open file in bytes; its position is left as it was.
FileOffset file_size(FILE* file);

// In the order of their refusals ARCHIVE_DAMAGED, ARCHIVE_CUT_SHORT, ARCHIVE_NOT_LHA.
enum ArchiveShape {
    SHAPE_SOUND,       // every member's data inside the file, then the end byte or the file's end
    SHAPE_DAMAGED,     // a later header that cannot be read, or any of an unknown layout
    SHAPE_CUT_SHORT,   // a member's header or data runs past the file's end
    SHAPE_NO_ARCHIVE   // nothing, or no readable member header, where the archive begins
};

typedef void (*MemberVisit)(void* context, const MemberHeader& header);

// Reads the member headers from the current position on: the archive's shape, and in
// `total` the sum of the sound members' original sizes.  The sound members are those
// before the end, the damage or the cut, header and data inside the file; `visit`
// (may be null) sees each one's header in turn, standing on its data.  The position
// is left as it was.
ArchiveShape walk_archive(ExtractionRun* run, uint64_t* total, MemberVisit visit = nullptr,
                          void* context = nullptr);
