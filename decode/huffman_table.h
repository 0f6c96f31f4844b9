// Canonical Huffman codes given as code lengths, decoded through a direct table of
// table_bits bits with an overflow tree for the longer codes.
#pragma once

#include <stdint.h>

enum {
    CHAR_TABLE_BITS = 12,   // the character/length tables
    SMALL_TABLE_BITS = 8,   // every other table
    MAX_CODE_LENGTH = 16,
    CHAR_CODES = 510,       // largest alphabet
    NODE_ARRAY_SIZE = 2 * CHAR_CODES - 1
};

// The two length arrays and two tables of the process, and the shared tree nodes.
extern uint8_t char_lengths[CHAR_CODES];
extern uint16_t char_table[1 << CHAR_TABLE_BITS];
extern uint8_t small_lengths[128];
extern uint16_t small_table[1 << SMALL_TABLE_BITS];
extern uint16_t left_child[NODE_ARRAY_SIZE];
extern uint16_t right_child[NODE_ARRAY_SIZE];

// Rebuilds `table` (and the tree nodes it needs) from `lengths`.  Lengths that form
// no usable code mark the member damaged (member_damaged) and leave every array
// in bounds.
void build_huffman_table(int16_t symbol_count, const uint8_t* lengths, int table_bits,
                         uint16_t* table);

// Code lengths for `count` symbols that start at `first_length` and grow by one at
// each of the `steps` symbols listed in `grows_at` (ascending; one listed twice grows
// the length by two): the fixed position codes.
void set_growing_lengths(int first_length, const uint8_t* grows_at, unsigned steps, int count);

// A code of one symbol, `value`, that takes no bits: every length 0 and every table
// entry `value`.
void set_single_code(int symbol_count, uint8_t* lengths, int table_bits, uint16_t* table,
                     uint16_t value);

// The symbol whose code starts `look_ahead` (the next 16 bits of the stream, the
// first in bit 15) and, in *length, the bits that code takes.  Damage (a tree walk
// that does not end within 16 bits) marks the member and gives symbol 0.
unsigned lookup_code(const uint16_t* table, const uint8_t* lengths, int symbol_count,
                     int table_bits, unsigned look_ahead, unsigned* length);

// Decodes the next symbol from the bit input and consumes exactly its code length.
uint16_t decode_with_table(const uint16_t* table, const uint8_t* lengths,
                           int symbol_count, int table_bits);
