// The configuration block between the stub and the archive: title, destination,
// shortcut options and targets.  Every length is one byte; strings carry no
// terminator and are bytes of the ANSI code page (Shift-JIS in practice).
//
//   present (0: no configuration, the block is this one byte)
//   title_length, title, under_program_files, dest_length, dest_name,
//   target_length, shortcut_target, start_menu_option, desktop_option,
//   send_to_option, launch_length, launch_target
#pragma once

#include <stdint.h>

#include "frontend/run_record.h"

// Option bits, the same in all three option bytes.
enum { OPTION_ENABLED = 0x01, OPTION_CHECKED = 0x02 };

extern const char DEFAULT_TITLE[];  // "Mavu SFX"

// Reads the block's raw fields from `file` (standing on it).  False when the file
// ends inside the block.
bool read_config_block(FILE* file, SfxConfig* config);

// Reads the block from app->run.archive_file (standing on it) into app->config and
// fills the record: title, shortcut_target and launch_target point into the block,
// dest_folder is composed, and has_config set.
// False when the file ends inside the block, or when the composed destination would
// not fit 259 bytes.  On true the file stands on the archive's first byte.
bool read_config(SfxApp* app);

// Reads `count` bytes one at a time into `out`, testing for the end of the file
// after each; false at the first byte that met it.  A count of 0 or less is true.
bool read_config_bytes(FILE* file, int count, char* out);

// The destination from a configured name: with a drive letter the name itself;
// under Program Files the system folder's drive (the Windows drive), "\Program
// Files\" and the name; otherwise the current folder, a backslash unless it ends in
// one, and the name.
// False when the result would not fit `size` bytes (nothing is written past it).
bool compose_destination(const char* dest_name, bool under_program_files,
                         const char* system_folder, const char* current_folder,
                         char* out, unsigned size);

// Serialises a block; returns its length (1 + ... as above), at most 1029 bytes.
uint32_t write_config_block(const SfxConfig* config, uint8_t* out);
