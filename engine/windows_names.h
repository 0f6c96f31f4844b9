// Names Windows cannot hold.  A member path is Shift-JIS bytes with '/' or '\\'
// between its components; a file system on Windows refuses, or quietly turns into
// something else, the names below, so they are refused on every system alike: the
// same archive extracts to the same files wherever it runs.
#pragma once

#include <stddef.h>

// Why Windows could not create the file or folder `path` (`length` bytes, which may
// hold a NUL), in a few English words, or nullptr when every component is a name it
// can hold.  Refused: a NUL or other control character; one of < > : " | ? * outside
// a Shift-JIS character (':' also makes an alternate data stream on NTFS); a
// component ending in a dot or a space (Windows drops them); a device name (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$), alone or before an extension.
// Components "." and ".." are left to the check for paths that leave the destination.
const char* windows_name_problem(const char* path, size_t length);
