// A member's output file: a new file beside the member's path, written through a
// buffer, to be moved over the path once the data is complete.
#pragma once

#include <stdio.h>

#include "engine/extraction_run.h"

enum { TEMPORARY_NAME_SIZE = PATH_BUFFER_SIZE + 3 };

// Creates a new file beside `path` for a member's data, to be moved over `path` once
// it is complete: `path` with ".~0" appended, or ".~1" to ".~9" when that name is
// taken.  The file is created exclusively, so no existing name (a link included) is
// ever opened; missing folders are made once.  Its name goes to `temporary`
// (TEMPORARY_NAME_SIZE bytes).  Buffered until close_output_file, which closes it:
// non-zero when the final flush or the close failed.
FILE* open_output_file(ExtractionRun* run, const char* path, char* temporary);
int close_output_file(FILE* file);
