#include "frontend/run_record.h"

#include <stdlib.h>
#include <string.h>


void init_app(SfxApp* app, void* instance) {
    memset(app, 0, sizeof *app);
    app->instance = instance;
}

void release_app(SfxApp* app) {
    if (app->run.archive_file != nullptr) {
        fclose(app->run.archive_file);
        app->run.archive_file = nullptr;
    }
    free(app->run.dest_folder);
    app->run.dest_folder = nullptr;
    app->shortcut_target = app->title = app->launch_target = nullptr;
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
