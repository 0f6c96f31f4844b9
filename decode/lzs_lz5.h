// The plain sliding-window formats "-lzs-" (bits) and "-lz5-" (bytes): literals and
// matches that name an absolute window position.
#pragma once

#include <stdint.h>

extern uint32_t match_position;  // window position named by the last match item
extern uint8_t flag_byte;        // "-lz5-": lowest bit belongs to the next item
extern unsigned flags_left;      // "-lz5-": items still governed by flag_byte
