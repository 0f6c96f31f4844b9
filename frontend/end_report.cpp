#include "frontend/end_report.h"

#include <string.h>

// "一部のファイルを正しく展開できませんでした"
static const char REPORT_SENTENCE[] =
    "\x88\xea\x95\x94\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x90\xb3\x82\xb5"
    "\x82\xad\x93\x57\x8a\x4a\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5"
    "\x82\xbd";
// "…"
static const char ELLIPSIS[] = "\x81\x63";

bool run_has_failures(const RunOutcome* outcome) {
    return outcome->failure_count != 0 || outcome->archive_damaged != 0;
}

// Appends `text` and returns the new length; stops at the buffer's end.
static unsigned append(char* out, unsigned used, unsigned size, const char* text) {
    if (used + 1 >= size) return used;
    copy_text(out + used, text, size - used);
    return used + (unsigned)strlen(out + used);
}

/* The damaged archive counts among the failures without a name, so only the
 * failures beyond it can be members left out of the list. */
void compose_end_report(const RunOutcome* outcome, char* out, unsigned size) {
    if (size == 0) return;
    out[0] = 0;
    unsigned used = append(out, 0, size, REPORT_SENTENCE);
    for (unsigned i = 0; i < outcome->listed_count; i++) {
        used = append(out, used, size, "\n");
        used = append(out, used, size, outcome->listed_names[i]);
    }
    uint32_t named = outcome->failure_count;
    if (outcome->archive_damaged && named != 0) named--;
    if (named > outcome->listed_count) {
        used = append(out, used, size, "\n");
        append(out, used, size, ELLIPSIS);
    }
}
