// Path texts: appending a backslash or a name without breaking a Shift-JIS
// character, and turning every kind of separator into one.
#pragma once

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
