// The static codes of "-lh3-" (characters and lengths sent in blocks) and the
// position codes of "-lh3-" and "-lh1-": a Huffman code for the distance's upper
// part in units of 64, then 6 plain bits.
#pragma once

#include <stdint.h>

enum { LH3_CHAR_CODES = 286 };  // 256 bytes, lengths 3 to 31, 285 the escape

extern uint32_t static_position_codes;  // 64 for "-lh1-", 128 for "-lh3-"
extern uint16_t lh3_codes_left;         // symbols left in the "-lh3-" block; 0: new block

// Position code lengths as a start length and the codes where it grows by one:
// row 0 for "-lh1-", row 1 for "-lh3-" blocks that send no lengths.
extern const uint8_t READY_MADE_LENGTHS[2][16];
void set_ready_made_lengths(int row);

void read_lh3_char_lengths();
void read_lh3_position_lengths();
