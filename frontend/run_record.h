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

// The configuration block's fields as stored (config_block.h), each text terminated
// once read.
struct SfxConfig {
    uint8_t present;
    uint8_t title_length;
    char title[256];
    uint8_t under_program_files;
    uint8_t dest_length;
    char dest_name[256];
    uint8_t target_length;
    char shortcut_target[256];
    uint8_t start_menu_option;
    uint8_t desktop_option;
    uint8_t send_to_option;
    uint8_t launch_length;
    char launch_target[256];
};

struct SfxApp {
    void* instance;                              // module instance handle
    char own_path[PATH_BUFFER_SIZE];             // the program's own file
    void* main_window;                           // the progress window
    void* status_text;                           // the status line
    void* cancel_dialog;                         // the modeless cancel dialog
    ExtractionRun run;                           // archive_file: own file, opened "rb"
    const char* title;                           // texts of `config`, or the default title
    const char* shortcut_target;                 // null without a block
    const char* launch_target;
    uint8_t has_config;                          // 1 once a complete block was read
    SfxConfig config;                            // the block as read
};

// The three option bytes of the block side by side, in the order of the destination
// dialog's check boxes and of the shortcut folders: start menu, desktop, "send to".
// Option bits: see config_block.h.
static_assert(offsetof(SfxConfig, desktop_option) == offsetof(SfxConfig, start_menu_option) + 1 &&
                  offsetof(SfxConfig, send_to_option) == offsetof(SfxConfig, start_menu_option) + 2,
              "the option bytes side by side");
inline uint8_t* shortcut_options(SfxApp* app) { return &app->config.start_menu_option; }

void init_app(SfxApp* app, void* instance);
void release_app(SfxApp* app);

// Replaces an owned text with a heap copy of `text` (or null); the old one is freed.
// Returns false when no memory was left, leaving the field null.
bool replace_owned_text(char** field, const char* text);
