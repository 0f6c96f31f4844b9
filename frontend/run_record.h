// The stub's record of a run: the program's module, its own file, the progress
// window, the engine's record (the archive, the destination, the outcome) and the
// configuration read from the combined file.  The stub keeps one, `sfx_app`: its
// window and dialog procedures reach it there, the other operations of the front end
// get a pointer to it, the engine its `run`.
// Portable: window and module handles are opaque here.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "engine/extraction_run.h"

struct SfxApp {
    void* instance;                              // module instance handle
    char own_path[PATH_BUFFER_SIZE];             // the program's own file
    void* main_window;                           // the progress window
    void* status_text;                           // the status line
    void* cancel_dialog;                         // the modeless cancel dialog
    ExtractionRun run;                           // archive_file: own file, opened "rb"
    char* title;                                 // owned texts
    char* shortcut_target;
    char* launch_target;
    uint8_t start_menu_option;                   // option bits, see config_block.h
    uint8_t desktop_option;
    uint8_t send_to_option;
    uint8_t has_config;                          // 1 once a complete block was read
};

// The three option bytes side by side, in the order of the destination dialog's
// check boxes and of the shortcut folders: start menu, desktop, "send to".
static_assert(offsetof(SfxApp, desktop_option) == offsetof(SfxApp, start_menu_option) + 1 &&
                  offsetof(SfxApp, send_to_option) == offsetof(SfxApp, start_menu_option) + 2,
              "the option bytes side by side");
inline uint8_t* shortcut_options(SfxApp* app) { return &app->start_menu_option; }

void init_app(SfxApp* app, void* instance);
void release_app(SfxApp* app);

// Replaces an owned text with a heap copy of `text` (or null); the old one is freed.
// Returns false when no memory was left, leaving the field null.
bool replace_owned_text(char** field, const char* text);
