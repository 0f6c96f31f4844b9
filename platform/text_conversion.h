// Text conversion for the host tool: code page 932, the locale's encoding and
// Unicode normalisation.  platform/posix/text_posix.cpp (iconv, utf8proc) and
// platform/win32/text_win32.cpp (the system's wide characters) implement them.
#pragma once

// Code page 932 (Shift-JIS) to UTF-8 and back.  False when the text does not
// convert or does not fit `size` bytes with its terminator.
bool platform_sjis_to_utf8(const char* text, char* out, unsigned size);
bool platform_utf8_to_sjis(const char* text, char* out, unsigned size);

// Takes the locale from the environment.  On POSIX a locale whose characters are
// plain ASCII (the "C" locale) gives way to C.UTF-8 for characters, as names on
// such systems are UTF-8 nearly everywhere.
void platform_use_locale();
// Shift-JIS text in the locale's encoding, as file names and the terminal take it
// (on Windows: UTF-8 for the console).  False when it does not convert or fit.
bool platform_sjis_to_local(const char* text, char* out, unsigned size);
// UTF-8 text in Normalization Form C (composed, as Windows and most Linux programs
// write names; macOS writes them decomposed).  False when the text is not UTF-8 or
// does not fit.
bool platform_utf8_to_nfc(const char* text, char* out, unsigned size);
