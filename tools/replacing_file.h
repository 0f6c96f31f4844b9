// The tool's one way of writing a file that may replace another: into a new
// temporary file beside it, moved over the old name only once complete, so that a
// failure leaves nothing half-written and an existing file as it was.
#pragma once

#include <stdio.h>

#include <string>

struct ReplacingFile {
    FILE* file;             // open for reading and writing
    std::string path;       // the name it will have
    std::string temporary;  // the name it has until then
};

// Creates the temporary file beside `path`.  False (errno set) when that fails.
bool begin_replacing(ReplacingFile* out, const char* path);
// Closes the file and moves it over `path`.  False (errno set) when either fails;
// the temporary file is then removed.
bool finish_replacing(ReplacingFile* out);
// Closes and removes the temporary file.
void abandon_replacing(ReplacingFile* out);
