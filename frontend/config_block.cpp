#include "frontend/config_block.h"

#include <stddef.h>
#include <string.h>

#include "engine/path_text.h"
#include "platform/system_services.h"

const char DEFAULT_TITLE[] = "Mavu SFX";

bool read_config_bytes(FILE* file, int count, char* out) {
    for (int i = 0; i < count; i++) {
        int c = fgetc(file);
        if (c == EOF) return false;
        out[i] = (char)c;
    }
    return true;
}

/* The fields in the block's order and in SfxConfig's, `present` first: 't' a text,
 * whose length byte is followed in the record by its 256-byte buffer, 'b' a byte. */
static const char BLOCK_FIELDS[] = "btbttbbbt";
static_assert(offsetof(SfxConfig, title_length) == offsetof(SfxConfig, present) + 1 &&
                  offsetof(SfxConfig, title) == offsetof(SfxConfig, title_length) + 1 &&
                  offsetof(SfxConfig, under_program_files) == offsetof(SfxConfig, title) + 256 &&
                  offsetof(SfxConfig, dest_name) == offsetof(SfxConfig, dest_length) + 1 &&
                  offsetof(SfxConfig, target_length) == offsetof(SfxConfig, dest_name) + 256 &&
                  offsetof(SfxConfig, start_menu_option) ==
                      offsetof(SfxConfig, shortcut_target) + 256 &&
                  offsetof(SfxConfig, launch_target) == offsetof(SfxConfig, launch_length) + 1,
              "each field of the block where the one before it ends");

/* A `present` of 0 is the whole block; past it `present` is not 0, so the one test
 * in the loop ends the walk only there. */
bool read_config_block(FILE* file, SfxConfig* c) {
    memset(c, 0, sizeof *c);
    uint8_t* field = &c->present;
    for (const char* kind = BLOCK_FIELDS; *kind != 0; kind++) {
        if (!read_config_bytes(file, 1, (char*)field)) return false;
        if (c->present == 0) return true;
        if (*kind == 'b') {
            field++;
            continue;
        }
        // A length byte and that many bytes of text, terminated.
        uint8_t length = *field;
        if (!read_config_bytes(file, length, (char*)field + 1)) return false;
        field[1 + length] = 0;
        field += 1 + 256;
    }
    return true;
}

bool compose_destination(const char* dest_name, bool under_program_files,
                         const char* system_folder, const char* current_folder, char* out,
                         unsigned size) {
    out[0] = 0;
    if (dest_name[0] != 0 && dest_name[1] == ':') return append_text(out, size, dest_name);
    if (under_program_files) {
        // The drive of the system folder (the Windows drive), a letter and a colon.
        if (size > 2 && system_folder[0] != 0 && system_folder[1] == ':') {
            out[0] = system_folder[0];
            out[1] = ':';
            out[2] = 0;
        }
        return append_text(out, size, "\\Program Files\\") && append_text(out, size, dest_name);
    }
    return compose_in_folder(current_folder, dest_name, out, size);
}

/* Without a block, the fields read as a block of zeros would: the default title,
 * the current folder; the targets stay null and has_config 0.  A current folder
 * that the system cannot give in 259 bytes of Shift-JIS (a Korean name, a long
 * path) is taken as empty, which leaves an empty destination rather than ending the
 * run without a word: the dialog then shows an empty box to fill, and without a
 * dialog the members go into the current folder all the same. */
bool read_config(SfxApp* app) {
    SfxConfig& c = app->config;
    if (!read_config_block(app->run.archive_file, &c)) return false;
    app->title = c.title_length == 0 ? DEFAULT_TITLE : c.title;
    char current_folder[PATH_BUFFER_SIZE], composed[PATH_BUFFER_SIZE];
    platform_current_folder(current_folder, sizeof current_folder);
    const char* destination = current_folder;
    if (c.dest_length != 0) {
        // The Windows drive is the system folder's; a system folder the system cannot
        // give is taken as empty as well.
        char system_folder[PATH_BUFFER_SIZE];
        platform_system_folder(system_folder, sizeof system_folder);
        if (!compose_destination(c.dest_name, c.under_program_files != 0, system_folder,
                                 current_folder, composed, sizeof composed))
            return false;
        destination = composed;
    }
    if (!replace_owned_text(&app->run.dest_folder, destination)) return false;
    if (c.present == 0) return true;
    app->shortcut_target = c.shortcut_target;
    app->launch_target = c.launch_target;
    app->has_config = 1;
    return true;
}

static uint8_t* put_text(uint8_t* out, uint8_t length, const char* text) {
    *out++ = length;
    memcpy(out, text, length);
    return out + length;
}

uint32_t write_config_block(const SfxConfig* c, uint8_t* out) {
    uint8_t* p = out;
    *p++ = c->present;
    if (c->present == 0) return 1;
    p = put_text(p, c->title_length, c->title);
    *p++ = c->under_program_files;
    p = put_text(p, c->dest_length, c->dest_name);
    p = put_text(p, c->target_length, c->shortcut_target);
    *p++ = c->start_menu_option;
    *p++ = c->desktop_option;
    *p++ = c->send_to_option;
    p = put_text(p, c->launch_length, c->launch_target);
    return (uint32_t)(p - out);
}
