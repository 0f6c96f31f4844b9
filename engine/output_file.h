// A member's output file: a new file in the member's folder, written through a
// buffer, and moved over the member's name once its data is complete.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/extraction_run.h"
#include "platform/reports.h"
#include "platform/system_services.h"

// The new file's name in the member's folder: of a fixed short length, so that a
// member whose own name reaches the file system's limit still has one.
enum { TEMPORARY_NAME_SIZE = 14 };

struct OutputFile {
    FILE* file;
    OpenFolder folder;      // the member's folder, held until the file is settled
    const char* name;       // the member's own name in `folder` (in the member path)
    char temporary[TEMPORARY_NAME_SIZE];  // the new file's name in `folder`
};

// Opens the folder of the member path `path` (made when missing, never through a
// link) and creates a new file in it, "mavusfx~0.tmp", or "mavusfx~1.tmp" to
// "mavusfx~9.tmp" when that name is taken; the file is created exclusively, so no
// existing name (a link included) is ever opened.  NO_FAILURE, or why not:
// FAILED_LINK_IN_PATH for a link on the way or under the member's own name,
// FAILED_CANNOT_CREATE.  `path` must outlive `out`.  The file is buffered until
// close_output_file closes it: non-zero when the final flush or the close failed.
// With `folder_only`, every component of `path` is a folder: they are made and
// nothing more (NO_FAILURE leaves `file` null and nothing open).
FailureKind open_output_file(char* path, bool folder_only, OutputFile* out);
int close_output_file(FILE* file);
// After the close: with `keep`, stamps the file with `time` and moves it over the
// member's name (false when that fails); without, deletes it.  Releases the folder.
bool settle_output_file(OutputFile* out, bool keep, uint32_t time);
#ifndef MAVUSFX_STUB_BUILD
// Closes the member folder that the host tool holds from one member to the next
// (the end of a run does it).
void release_held_folder();
#endif
