// Code page 932 conversions and the locale's encoding through iconv, normalisation
// through utf8proc.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <utf8proc.h>

#include "platform/text_conversion.h"

static bool convert_with(iconv_t cd, const char* text, char* out, unsigned size) {
    char* in = const_cast<char*>(text);
    size_t in_left = strlen(text);
    char* put = out;
    size_t out_left = size - 1;
    size_t done = iconv(cd, &in, &in_left, &put, &out_left);
    bool ok = done != (size_t)-1 && in_left == 0 &&
              iconv(cd, nullptr, nullptr, &put, &out_left) != (size_t)-1;
    *put = 0;
    return ok;
}

static bool convert(const char* from, const char* to, const char* text, char* out, unsigned size) {
    if (size == 0) return false;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    bool ok = convert_with(cd, text, out, size);
    iconv_close(cd);
    return ok;
}

bool platform_sjis_to_utf8(const char* text, char* out, unsigned size) {
    return convert("CP932", "UTF-8", text, out, size);
}

bool platform_utf8_to_sjis(const char* text, char* out, unsigned size) {
    return convert("UTF-8", "CP932", text, out, size);
}

void platform_use_locale() {
    setlocale(LC_ALL, "");
    if (strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) setlocale(LC_CTYPE, "C.UTF-8");
}

/* The tool converts every name it shows or writes, one character at a time when it
 * shows them: the conversion is opened once, for the locale in force at the first
 * call. */
bool platform_sjis_to_local(const char* text, char* out, unsigned size) {
    static iconv_t to_local = iconv_open(nl_langinfo(CODESET), "CP932");
    if (size == 0 || to_local == (iconv_t)-1) return false;
    iconv(to_local, nullptr, nullptr, nullptr, nullptr);
    return convert_with(to_local, text, out, size);
}

bool platform_utf8_to_nfc(const char* text, char* out, unsigned size) {
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t length = utf8proc_map((const utf8proc_uint8_t*)text, 0, &composed,
                                           (utf8proc_option_t)(UTF8PROC_NULLTERM | UTF8PROC_STABLE |
                                                               UTF8PROC_COMPOSE));
    bool ok = length >= 0 && (size_t)length < size;
    if (ok) memcpy(out, composed, (size_t)length + 1);
    free(composed);
    return ok;
}
