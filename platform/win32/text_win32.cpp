// Code page 932 conversions and normalisation through the system's wide characters.
#include <windows.h>
#include <locale.h>

#include "platform/text_conversion.h"

enum { CP_SHIFT_JIS = 932, WIDE_LIMIT = 4096 };

/* Both ways pass through UTF-16; a character that has no form in the target code
 * page, or a text that does not fit, fails rather than turning into '?'. */
static bool convert(UINT from, UINT to, const char* text, char* out, unsigned size) {
    WCHAR wide[WIDE_LIMIT];
    if (size == 0) return false;
    out[0] = 0;
    int count = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text, -1, wide, WIDE_LIMIT);
    if (count == 0) return false;
    BOOL lossy = FALSE;
    int written = WideCharToMultiByte(to, 0, wide, -1, out, (int)size, nullptr,
                                      to == CP_UTF8 ? nullptr : &lossy);
    if (written == 0 || lossy) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool platform_sjis_to_utf8(const char* text, char* out, unsigned size) {
    return convert(CP_SHIFT_JIS, CP_UTF8, text, out, size);
}

bool platform_utf8_to_sjis(const char* text, char* out, unsigned size) {
    return convert(CP_UTF8, CP_SHIFT_JIS, text, out, size);
}

// The runtime's characters become the ANSI code page's, so that the tool reads its
// own arguments as the system writes them.
void platform_use_locale() { setlocale(LC_CTYPE, ""); }

bool platform_sjis_to_local(const char* text, char* out, unsigned size) {
    return convert(CP_SHIFT_JIS, CP_UTF8, text, out, size);
}

bool platform_utf8_to_nfc(const char* text, char* out, unsigned size) {
    WCHAR wide[WIDE_LIMIT], composed[WIDE_LIMIT];
    if (size == 0) return false;
    out[0] = 0;
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, WIDE_LIMIT);
    if (count == 0) return false;
    int length = NormalizeString(NormalizationC, wide, -1, composed, WIDE_LIMIT);
    if (length <= 0) return false;
    if (WideCharToMultiByte(CP_UTF8, 0, composed, length, out, (int)size, nullptr, nullptr) == 0) {
        out[0] = 0;
        return false;
    }
    return true;
}
