#include "engine/archive_walk.h"

#include "platform/reports.h"

FileOffset file_size(FILE* file) {
    FileOffset here = platform_tell(file);
    platform_seek(file, 0, SEEK_END);
    FileOffset size = platform_tell(file);
    platform_seek(file, here, SEEK_SET);
    return size;
}

/* Every header is read as the member loop will read it, and the data stepped over.
 * An archive ends at its 0 byte, or where the file ends right after a member's data
 * (several encoders write no end byte); what follows the end byte (a signature) is
 * not looked at.  Nothing, or no readable header, where the archive should begin is
 * no archive; a file that ends inside a header or a member's data is cut short.  A
 * header of an unknown layout is reported here, once, before anything is written. */
ArchiveShape walk_archive(ExtractionRun* run, uint64_t* total, MemberVisit visit, void* context) {
    FILE* file = run->archive_file;
    FileOffset start = platform_tell(file);
    FileOffset size = run->archive_size;
    *total = 0;
    ArchiveShape shape = SHAPE_NO_ARCHIVE;
    MemberHeader header;
    for (FileOffset at = start; at < size;) {
        HeaderResult read = read_member_header(file, &header);
        at = platform_tell(file);
        if (read == HEADER_END) {
            shape = SHAPE_SOUND;
        } else if (read == HEADER_UNKNOWN_LAYOUT) {
            platform_report_unknown_header();
            shape = SHAPE_DAMAGED;
        } else if (read == HEADER_DAMAGED && shape != SHAPE_NO_ARCHIVE) {
            shape = at < size ? SHAPE_DAMAGED : SHAPE_CUT_SHORT;
        }
        if (read != HEADER_READ) break;
        // The header was read, so it ended inside the file: at <= size.
        shape = SHAPE_CUT_SHORT;
        if (header.packed_size > (MemberSize)(size - at)) break;
        shape = SHAPE_SOUND;  // unless another header follows
#ifdef MAVUSFX_STUB_BUILD
        *total += header.original_size;
#else
        // Sizes of 64 bits may sum past the count: the total then stays at its largest.
        if (__builtin_add_overflow(*total, header.original_size, total)) *total = UINT64_MAX;
#endif
        if (visit != nullptr) visit(context, header);
        at += (FileOffset)header.packed_size;
        platform_seek(file, at, SEEK_SET);
    }
    platform_seek(file, start, SEEK_SET);
    return shape;
}
