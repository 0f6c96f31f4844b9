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

// True when Windows could not hold `path` but a POSIX file system can: a name that
// windows_name_problem refuses while no byte of it is a NUL or another control
// character (a trailing dot, a device name, one of < > : " | ? *).  Whether the
// path stays inside the destination is is_unsafe_member_path's to say.  The stub
// writes for Windows alone.
#ifdef MAVUSFX_STUB_BUILD
inline bool only_windows_refuses(const char*, size_t) { return false; }
#else
bool only_windows_refuses(const char* path, size_t length);
#endif
