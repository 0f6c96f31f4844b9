#include "frontend/end_report.h"

#include <string.h>

// "一部のファイルを正しく展開できませんでした"
static const char REPORT_SENTENCE[] =
    "\x88\xea\x95\x94\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x90\xb3\x82\xb5"
    "\x82\xad\x93\x57\x8a\x4a\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5"
    "\x82\xbd";
// "ファイルが壊れているか、途中までしかありません。もう一度入手してください"
static const char CUT_SHORT_SENTENCE[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x89\xf3\x82\xea\x82\xc4\x82\xa2\x82\xe9"
    "\x82\xa9\x81\x41\x93\x72\x92\x86\x82\xdc\x82\xc5\x82\xb5\x82\xa9\x82\xa0\x82\xe8"
    "\x82\xdc\x82\xb9\x82\xf1\x81\x42\x82\xe0\x82\xa4\x88\xea\x93\x78\x93\xfc\x8e\xe8"
    "\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";
// "ディスクの空き容量が足りません"
static const char NO_SPACE_SENTENCE[] =
    "\x83\x66\x83\x42\x83\x58\x83\x4e\x82\xcc\x8b\xf3\x82\xab\x97\x65\x97\xca\x82\xaa"
    "\x91\xab\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "展開先のフォルダに書き込めません"
static const char NOT_WRITABLE_SENTENCE[] =
    "\x93\x57\x8a\x4a\x90\xe6\x82\xcc\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xc9\x8f\x91"
    "\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
// "…"
static const char ELLIPSIS[] = "\x81\x63";

bool run_has_failures(const RunOutcome* outcome) {
    return outcome->failure_count != 0;
}

// Appends `text` and returns the new length; stops at the buffer's end.
static unsigned append(char* out, unsigned used, unsigned size, const char* text) {
    if (used + 1 >= size) return used;
    copy_text(out + used, text, size - used);
    return used + (unsigned)strlen(out + used);
}

/* A refused run (an archive damaged, cut short or missing, a destination that
 * cannot be written or has no room for it) extracted nothing: its one sentence says
 * why. */
void compose_end_report(const RunOutcome* outcome, char* out, unsigned size) {
    if (size == 0) return;
    out[0] = 0;
    if (outcome->refused != 0) {
        append(out, 0, size, outcome->refused == ARCHIVE_NO_SPACE       ? NO_SPACE_SENTENCE
                             : outcome->refused == ARCHIVE_NOT_WRITABLE ? NOT_WRITABLE_SENTENCE
                                                                        : CUT_SHORT_SENTENCE);
        return;
    }
    unsigned used = append(out, 0, size, REPORT_SENTENCE);
    for (unsigned i = 0; i < outcome->listed_count; i++) {
        used = append(out, used, size, "\n");
        used = append(out, used, size, outcome->listed_names[i]);
    }
    if (outcome->failure_count > outcome->listed_count) {
        used = append(out, used, size, "\n");
        append(out, used, size, ELLIPSIS);
    }
}
