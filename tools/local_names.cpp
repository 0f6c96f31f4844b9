#include "tools/local_names.h"

#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "engine/shift_jis.h"
#include "platform/report_hooks.h"
#include "platform/text_conversion.h"
#include "tools/tool.h"

namespace {

void append_escaped(std::string* out, const char* bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        char escaped[5];
        snprintf(escaped, sizeof escaped, "\\x%02x", (unsigned char)bytes[i]);
        *out += escaped;
    }
}

}  // namespace

/* One character at a time, so that a byte that does not convert costs only itself.
 * ASCII is the same in Shift-JIS and in every encoding a locale has. */
std::string shown_sjis(const char* sjis) {
    std::string shown;
    for (const char* p = sjis; *p != 0;) {
        unsigned char c = (unsigned char)*p;
        size_t length = sjis_char_length(p);
        if (c < 0x20 || c == 0x7F) {
            append_escaped(&shown, p, 1);
        } else if (c < 0x80) {
            shown += (char)c;
        } else {
            char character[3] = {p[0], length == 2 ? p[1] : (char)0, 0};
            char local[16];
            if (platform_sjis_to_local(character, local, sizeof local)) shown += local;
            else append_escaped(&shown, p, length);
        }
        p += length;
    }
    return shown;
}

std::string shown_local(const char* text) {
    std::string shown;
    mbstate_t state = {};
    size_t left = strlen(text);
    for (const char* p = text; left > 0;) {
        wchar_t character;
        size_t length = mbrtowc(&character, p, left, &state);
        if (length == (size_t)-1 || length == (size_t)-2) {
            append_escaped(&shown, p, 1);
            state = mbstate_t();
            length = 1;
        } else if (iswcntrl((wint_t)character)) {
            append_escaped(&shown, p, length);
        } else {
            shown.append(p, length);
        }
        p += length;
        left -= length;
    }
    return shown;
}

void print_sjis(FILE* out, const char* text) { fputs(shown_sjis(text).c_str(), out); }

static bool is_ascii(const std::string& text) {
    for (char c : text)
        if ((unsigned char)c >= 0x80) return false;
    return true;
}

/* A component of ASCII alone is its own local form (see shown_sjis), and is taken
 * without the conversion, which the engine asks for several times a member. */
bool local_file_name(const char* sjis, char* out, unsigned size) {
    std::string name;
    for (const char* component = sjis;;) {
        const char* end = strchr(component, '/');
        std::string part = end != nullptr ? std::string(component, end) : std::string(component);
        char local[4 * PATH_BUFFER_SIZE];
        if (!part.empty() && is_ascii(part)) {
            if (part == "." || part == "..") return false;
            name += part;
        } else if (!part.empty() && platform_sjis_to_local(part.c_str(), local, sizeof local)) {
            if (strcmp(local, ".") == 0 || strcmp(local, "..") == 0) return false;
            name += local;
        } else {
            name += part;
        }
        if (end == nullptr) break;
        name += '/';
        component = end + 1;
    }
    if (name.size() + 1 > size) return false;
    memcpy(out, name.c_str(), name.size() + 1);
    return true;
}

static bool engine_file_name(void*, const char* path, char* out, unsigned size) {
    return local_file_name(path, out, size);
}

void map_member_names(PlatformHooks* hooks) { hooks->file_name = engine_file_name; }
