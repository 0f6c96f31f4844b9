// Placeholder until the table builder lands: every build marks the member damaged.
#include "decode/huffman_table.h"

#include "decode/decode_driver.h"

uint8_t char_lengths[CHAR_CODES];
uint16_t char_table[1 << CHAR_TABLE_BITS];
uint8_t small_lengths[128];
uint16_t small_table[1 << SMALL_TABLE_BITS];
uint16_t left_child[NODE_ARRAY_SIZE];
uint16_t right_child[NODE_ARRAY_SIZE];

void build_huffman_table(int16_t, const uint8_t*, int, uint16_t*) { member_damaged = true; }

uint16_t decode_with_table(const uint16_t*, const uint8_t*, int, int) { return 0; }
