// The stub's record of a run: the program's module, its own file, the progress
// window, the engine's record (the archive, the destination, the outcome) and the
// configuration read from the combined file.  WinMain keeps it on its stack; every
// operation of the front end gets a pointer to it, the engine its `run`.
// Portable: window and module handles are opaque here.
#pragma once

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

void init_app(SfxApp* app, void* instance);
void release_app(SfxApp* app);

// Replaces an owned text with a heap copy of `text` (or null); the old one is freed.
// Returns false when no memory was left, leaving the field null.
bool replace_owned_text(char** field, const char* text);
