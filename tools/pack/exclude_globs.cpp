#include "tools/pack/exclude_globs.h"

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace {

/* UTF-8 as code points; a byte that does not begin a well-formed sequence stands
 * for itself, so every text has a form and equal texts have the same one. */
std::vector<uint32_t> code_points(const char* text) {
    std::vector<uint32_t> out;
    const unsigned char* p = (const unsigned char*)text;
    while (*p != 0) {
        unsigned length = *p >= 0xF0 && *p < 0xF5 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC2 && *p < 0xE0 ? 2 : 1;
        if (*p >= 0xF5) length = 1;
        uint32_t c = length == 1 ? *p : *p & (0x7F >> length);
        unsigned i = 1;
        for (; i < length && (p[i] & 0xC0) == 0x80; i++) c = c << 6 | (p[i] & 0x3F);
        if (i < length) {
            length = 1;
            c = *p;
        }
        out.push_back(c);
        p += length;
    }
    return out;
}

/* One set "[...]" at pattern[at] (on the '['): whether `c` is in it, and where the
 * pattern goes on.  False with `*next` untouched when the set is not closed: the
 * '[' is then an ordinary character. */
bool set_holds(const std::vector<uint32_t>& pattern, size_t at, uint32_t c, bool* holds, size_t* next) {
    size_t p = at + 1;
    bool negated = p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^');
    if (negated) p++;
    bool found = false;
    bool first = true;
    for (; p < pattern.size() && (first || pattern[p] != ']'); first = false) {
        uint32_t low = pattern[p++];
        if (low == '\\' && p < pattern.size()) low = pattern[p++];
        uint32_t high = low;
        if (p + 1 < pattern.size() && pattern[p] == '-' && pattern[p + 1] != ']') {
            high = pattern[p + 1];
            p += 2;
            if (high == '\\' && p < pattern.size()) high = pattern[p++];
        }
        if (c >= low && c <= high) found = true;
    }
    if (p >= pattern.size()) return false;
    *holds = found != negated;
    *next = p + 1;
    return true;
}

/* Whether the pattern element at `at` (not a '*') takes the text character `c`. */
bool element_takes(const std::vector<uint32_t>& pattern, size_t at, uint32_t c, bool within_path,
                   size_t* next) {
    uint32_t e = pattern[at];
    if (within_path && c == '/' && e != '/' && e != '\\') return false;
    if (e == '?') {
        *next = at + 1;
        return true;
    }
    bool holds;
    if (e == '[' && set_holds(pattern, at, c, &holds, next)) return holds;
    if (e == '\\') {  // a backslash ending the pattern escapes nothing and matches nothing
        *next = at + 2;
        return at + 1 < pattern.size() && pattern[at + 1] == c;
    }
    *next = at + 1;
    return e == c;
}

}  // namespace

/* The usual walk with one remembered '*': on a mismatch the last '*' takes one more
 * character and the rest is tried again from there.  Under `within_path` a '*' that
 * would take a '/' fails instead. */
bool glob_matches(const char* pattern_text, const char* text_chars, bool within_path) {
    std::vector<uint32_t> pattern = code_points(pattern_text), text = code_points(text_chars);
    const size_t NONE = (size_t)-1;
    size_t p = 0, t = 0, star = NONE, star_text = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            star_text = t;
            continue;
        }
        size_t next;
        if (p < pattern.size() && element_takes(pattern, p, text[t], within_path, &next)) {
            p = next;
            t++;
            continue;
        }
        if (star != NONE && !(within_path && text[star_text] == '/')) {
            p = star;
            t = ++star_text;
            continue;
        }
        return false;
    }
    while (p < pattern.size() && pattern[p] == '*') p++;
    return p == pattern.size();
}
