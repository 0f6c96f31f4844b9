// CRC-16/ARC, the check of every member's data and of level-2 headers.
#pragma once

#include <stdint.h>

// Builds the lookup tables; crc16 does it itself on its first call, the stub's
// entry once at start.
void make_crc_table();

// The CRC-16 of `bytes` continued from `crc` (0 for a fresh start).  No state.
uint16_t crc16(uint16_t crc, const uint8_t* bytes, uint32_t length);
