// Shift-JIS texts and the system's wide characters.  The stub keeps every text in
// Shift-JIS (code page 932, whatever the system's own code page is) and hands the
// system UTF-16 through the wide functions, converted here.
#pragma once

#include <windows.h>

enum { CP_SHIFT_JIS = 932 };

// Appends the Shift-JIS `text` as UTF-16 to the terminated wide text in `out`, of
// `size` characters.  False, leaving `out` as it was, when the whole does not fit.
bool append_wide(WCHAR* out, unsigned size, const char* text);

// `text` as UTF-16 in `out`; empty when it does not fit.  Returns `out`.
WCHAR* to_wide(const char* text, WCHAR* out, unsigned size);

// The wide `text` in Shift-JIS.  False, with `out` empty, when a character has no
// Shift-JIS form (no near look-alike is taken for it) or the whole does not fit.
bool to_sjis(const WCHAR* text, char* out, unsigned size);
