// Member names as the packer writes them: a path below the packed folder, in UTF-8
// from the file system, becomes a Shift-JIS name only when it comes back the same,
// so the archive extracts to the names that were packed.
#pragma once

#include <string>

// `name` (UTF-8, any normalisation form) in Normalization Form C; false when it is
// not UTF-8.  Folders written on macOS hold decomposed names ("か" + U+3099 for
// "が"); Shift-JIS has only the composed characters.
bool composed_name(const std::string& name, std::string* composed);

// The Shift-JIS name of `path` ('/' between its components, NFC), or why there is
// none, in a few words ("" when the name is good).  Before the conversion the usual
// code-page-932 forms take the place of their look-alikes (U+301C WAVE DASH becomes
// U+FF5E FULLWIDTH TILDE and so on: MEMBER_NAME_FORMS); what the conversion gives
// must then read back as the same text, hold no byte 0x5C of its own (Windows reads
// it as a folder separator: U+00A5 YEN SIGN converts to it) and be a name Windows
// can create.
std::string shift_jis_name(const std::string& path, std::string* sjis);

// The look-alikes replaced before the conversion, and what replaces them (UTF-8).
struct NameForm {
    const char* from;
    const char* to;
};
extern const NameForm MEMBER_NAME_FORMS[7];
