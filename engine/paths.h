// Folders and paths: output files with their missing folders, recursive folder
// creation, backslash and separator helpers that respect Shift-JIS, and shell
// announcements.  Paths are bytes of the ANSI code page read as Shift-JIS by a
// fixed rule: 0x80-0x9F and 0xE0-0xFC are lead bytes, the next byte belongs to them.
#pragma once

#include <stdio.h>

#include "engine/extraction_run.h"

// With bit 5 flipped, the two ranges become the one range 0xA0-0xDC.
inline bool is_sjis_lead_byte(unsigned char c) {
    return (unsigned char)((c ^ 0x20) - 0xA0) <= 0xDC - 0xA0;
}

// Opens `path` ("wb"); on failure creates its missing folders and tries once more.
// The file is buffered until close_output_file, which closes it (fclose's result).
FILE* open_output_file(ExtractionRun* run, const char* path);
int close_output_file(FILE* file);

// Creates every missing folder of the part of `path` before its last '/'.  True when
// that folder exists afterwards.
bool make_parent_folders(ExtractionRun* run, const char* path);

// Appends a backslash unless the text is empty or already ends in one (a 0x5C that
// is the second byte of a Shift-JIS character does not count).  The buffer must hold
// one more byte.
void append_backslash(char* text);

// Appends `text` to the terminated text in `out` if the whole fits `size` bytes with
// its terminator; otherwise leaves `out` as it was and returns false.
bool append_text(char* out, unsigned size, const char* text);

// `folder`, a backslash unless it is empty or ends in one (as append_backslash),
// then `name`, into `out`.  False, with `out` empty, when that would not fit `size`.
bool compose_in_folder(const char* folder, const char* name, char* out, unsigned size);

// Turns every '\\', '/' and 0xFF outside Shift-JIS characters into `c`.
void convert_separators(char* text, char c);

// Announces a made folder (the path as given) or a created member file (the
// destination folder, a backslash and the member path with backslashes).
void notify_shell(ExtractionRun* run, bool folder_made, const char* path);

// True when a member path would be written outside the destination: after the one
// leading '/' is dropped it is absolute ('/', '\\', a drive prefix such as "C:",
// a UNC prefix) or has a ".." component.
bool is_unsafe_member_path(const char* path);
