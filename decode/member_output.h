// Where a member's bytes go: each piece is folded into the member's CRC-16 and
// counted, then written to its file, in decoder.output.
#pragma once

#include <stdint.h>
#include <stdio.h>

// Folds `bytes` into decoder.output's CRC-16, then writes them to `out` (a null
// `out` discards them, for testing an archive); a short write marks the output
// failed.  Returns the count written.
uint32_t write_output(const uint8_t* bytes, uint32_t length, FILE* out);
