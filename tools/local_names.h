// Member names, stored in Shift-JIS, as this system knows names: in the locale's
// encoding for the files the tool writes, and for the terminal with control
// characters and bytes that do not convert shown as \xNN.
#pragma once

#include <stdio.h>

#include <string>

#include "platform/report_hooks.h"

// Shift-JIS text as the terminal shows it.
std::string shown_sjis(const char* sjis);
// Text in the locale's encoding (a path from the command line or the file system)
// with its control characters, and bytes that are no character, as \xNN.
std::string shown_local(const char* text);

// A member path (Shift-JIS, '/' between components) as the name of a file here:
// each component in the locale's encoding, or as its bytes when it has no form
// there.  False when the result does not fit `size` bytes, or when a converted
// component would read as "." or "..".
bool local_file_name(const char* sjis, char* out, unsigned size);

// Has the engine's paths become local file names (local_file_name) through `hooks`.
void map_member_names(PlatformHooks* hooks);
