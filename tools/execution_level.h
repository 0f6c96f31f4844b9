// The execution level that the stub's manifest requests, which `make` sets in the
// stub it joins: the manifest holds the level in a field of fixed width, padded
// with blanks, that is rewritten in place, so the image keeps its size and layout.
#pragma once

#include <stdint.h>
#include <stdio.h>

enum ExecutionLevel {
    LEVEL_AS_INVOKER,
    LEVEL_HIGHEST_AVAILABLE,
    LEVEL_REQUIRE_ADMINISTRATOR,
    LEVEL_NONE  // no level field in the image
};

// The level's name as the manifest spells it ("asInvoker" ...); "none" for LEVEL_NONE.
const char* execution_level_name(ExecutionLevel level);

// invoker, highest or admin, as --elevation takes them.  False for anything else.
bool parse_execution_level(const char* word, ExecutionLevel* level);

// What a destination needs when no level is chosen: administrators only may write
// under Program Files, whether the destination is placed there (`under_program_files`
// with a name without a drive) or named there with its drive ("C:\Program Files...",
// "Program Files (x86)" included).  `dest` is the configured name, UTF-8 or Shift-JIS.
ExecutionLevel level_for_destination(bool under_program_files, const char* dest);

// The level the image's manifest requests; LEVEL_NONE when it has no level field.
ExecutionLevel read_execution_level(const uint8_t* image, uint32_t size);

// Rewrites the level field of the image's manifest.  False when it has none.
bool write_execution_level(uint8_t* image, uint32_t size, ExecutionLevel level);

// The level requested by the stub of `stub_size` bytes at the start of `file`; the
// file's position is kept.
ExecutionLevel read_file_execution_level(FILE* file, uint32_t stub_size);
