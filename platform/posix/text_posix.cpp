// Code page 932 conversions through iconv, normalisation through utf8proc.
#include <iconv.h>
#include <stdlib.h>
#include <string.h>
#include <utf8proc.h>

#include "platform/platform.h"

static bool convert(const char* from, const char* to, const char* text, char* out, unsigned size) {
    if (size == 0) return false;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    char* in = const_cast<char*>(text);
    size_t in_left = strlen(text);
    char* put = out;
    size_t out_left = size - 1;
    size_t done = iconv(cd, &in, &in_left, &put, &out_left);
    bool ok = done != (size_t)-1 && in_left == 0 &&
              iconv(cd, nullptr, nullptr, &put, &out_left) != (size_t)-1;
    iconv_close(cd);
    *put = 0;
    return ok;
}

bool platform_sjis_to_utf8(const char* text, char* out, unsigned size) {
    return convert("CP932", "UTF-8", text, out, size);
}

bool platform_utf8_to_sjis(const char* text, char* out, unsigned size) {
    return convert("UTF-8", "CP932", text, out, size);
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
