#include "tools/pack/member_names.h"

#include "engine/shift_jis.h"
#include "platform/text_conversion.h"
#include "engine/windows_names.h"

namespace {

enum { NAME_BUFFER = 4096 };

}  // namespace

/* JIS X 0208 characters that Unicode holds twice: the code-page-932 form reads back
 * from Shift-JIS, the other converts to the same bytes but does not come back. */
const NameForm MEMBER_NAME_FORMS[7] = {
    {"\xE3\x80\x9C", "\xEF\xBD\x9E"},  // U+301C WAVE DASH -> U+FF5E FULLWIDTH TILDE
    {"\xE2\x80\x96", "\xE2\x88\xA5"},  // U+2016 DOUBLE VERTICAL LINE -> U+2225 PARALLEL TO
    {"\xE2\x88\x92", "\xEF\xBC\x8D"},  // U+2212 MINUS SIGN -> U+FF0D FULLWIDTH HYPHEN-MINUS
    {"\xE2\x80\x94", "\xE2\x80\x95"},  // U+2014 EM DASH -> U+2015 HORIZONTAL BAR
    {"\xC2\xA2", "\xEF\xBF\xA0"},      // U+00A2 CENT SIGN -> U+FFE0 FULLWIDTH CENT SIGN
    {"\xC2\xA3", "\xEF\xBF\xA1"},      // U+00A3 POUND SIGN -> U+FFE1 FULLWIDTH POUND SIGN
    {"\xC2\xAC", "\xEF\xBF\xA2"},      // U+00AC NOT SIGN -> U+FFE2 FULLWIDTH NOT SIGN
};

bool composed_name(const std::string& name, std::string* composed) {
    char out[NAME_BUFFER];
    if (!platform_utf8_to_nfc(name.c_str(), out, sizeof out)) return false;
    *composed = out;
    return true;
}

static std::string with_name_forms(std::string text) {
    for (const NameForm& form : MEMBER_NAME_FORMS) {
        std::string from = form.from;
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
            text.replace(at, from.size(), form.to);
    }
    return text;
}

/* A 0x5C that is not the trail byte of a double-byte character. */
static bool has_single_backslash(const std::string& sjis) {
    const char* end = sjis.data() + sjis.size();
    for (const char* p = sjis.data(); p < end; p += sjis_char_length(p, end))
        if (*p == 0x5C) return true;
    return false;
}

std::string shift_jis_name(const std::string& path, std::string* sjis) {
    if (path.find('\\') != std::string::npos)
        return "the name holds a backslash, which LHA readers take as a folder separator";
    std::string wanted = with_name_forms(path);
    char converted[NAME_BUFFER], back[NAME_BUFFER];
    if (!platform_utf8_to_sjis(wanted.c_str(), converted, sizeof converted))
        return "the name cannot be written in Shift-JIS (code page 932)";
    std::string bytes = converted;
    if (has_single_backslash(bytes))
        return "a character of the name (such as U+00A5 YEN SIGN) becomes the byte 0x5C in Shift-JIS, "
               "which Windows reads as a folder separator";
    if (!platform_sjis_to_utf8(converted, back, sizeof back) || wanted != back)
        return std::string("the name does not come back the same from Shift-JIS (it would extract as \"") +
               back + "\")";
    if (const char* problem = windows_name_problem(bytes.data(), bytes.size()))
        return std::string("Windows cannot create this name: ") + problem;
    *sjis = bytes;
    return "";
}
