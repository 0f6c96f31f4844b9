#include "engine/extraction_run.h"

void copy_text(char* out, const char* text, unsigned size) {
    if (size == 0) return;
    unsigned i = 0;
    for (; i + 1 < size && text[i] != 0; i++) out[i] = text[i];
    out[i] = 0;
}

void record_failure(ExtractionRun* run, const char* name, FailureKind kind) {
    RunOutcome* outcome = &run->outcome;
    if (outcome->failure_count != UINT32_MAX) outcome->failure_count++;
    if (kind == ARCHIVE_DAMAGED) outcome->archive_damaged = 1;
    if (name != nullptr && outcome->listed_count < OUTCOME_LISTED_NAMES)
        copy_text(outcome->listed_names[outcome->listed_count++], name, PATH_BUFFER_SIZE);
    platform_report_failure(name, kind);
}
