#include "frontend/run_record.h"

#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

void init_app(SfxApp* app, void* instance) {
    memset(app, 0, sizeof *app);
    app->instance = instance;
}

void release_app(SfxApp* app) {
    if (app->archive_file != nullptr) {
        fclose(app->archive_file);
        app->archive_file = nullptr;
    }
    free(app->shortcut_target);
    free(app->title);
    free(app->dest_folder);
    free(app->launch_target);
    app->shortcut_target = app->title = app->dest_folder = app->launch_target = nullptr;
}

bool replace_owned_text(char** field, const char* text) {
    free(*field);
    *field = nullptr;
    if (text == nullptr) return true;
    size_t size = strlen(text) + 1;
    char* copy = (char*)malloc(size);
    if (copy == nullptr) return false;
    memcpy(copy, text, size);
    *field = copy;
    return true;
}

void copy_text(char* out, const char* text, unsigned size) {
    if (size == 0) return;
    unsigned i = 0;
    for (; i + 1 < size && text[i] != 0; i++) out[i] = text[i];
    out[i] = 0;
}

void record_failure(SfxApp* app, const char* name, FailureKind kind) {
    RunOutcome* outcome = &app->outcome;
    if (outcome->failure_count != UINT32_MAX) outcome->failure_count++;
    if (kind == ARCHIVE_DAMAGED) outcome->archive_damaged = 1;
    if (kind >= ARCHIVE_DAMAGED) outcome->refused = (uint8_t)kind;
    if (name != nullptr && outcome->listed_count < OUTCOME_LISTED_NAMES)
        copy_text(outcome->listed_names[outcome->listed_count++], name, PATH_BUFFER_SIZE);
    platform_report_failure(app, name, kind);
}
