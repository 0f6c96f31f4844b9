// The shell patterns of --exclude, matched as fnmatch(3) does, on UTF-8 characters.
#pragma once

// Whether `text` matches `pattern`: '*' any run of characters, '?' one character,
// "[...]" one character of a set ("[!...]" or "[^...]" one not in it, "a-z" a range),
// '\' takes the next character as it is.  With `within_path` (FNM_PATHNAME) none of
// them matches a '/', which only a '/' of the pattern matches.
bool glob_matches(const char* pattern, const char* text, bool within_path);
