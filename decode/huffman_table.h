// Canonical Huffman codes given as code lengths, decoded through a direct table of
// table_bits bits with an overflow tree for the longer codes.
#pragma once

#include <stdint.h>

enum {
    CHAR_TABLE_BITS = 12,  // the character/length tables
    SMALL_TABLE_BITS = 8,  // every other table
    MAX_CODE_LENGTH = 16,
    CHAR_CODES = 510,  // largest alphabet
    NODE_ARRAY_SIZE = 2 * CHAR_CODES - 1
};

// The two codes in force at once, each with its lengths and its direct table: the
// character/length code (CHAR_TABLE_BITS) and a small code (SMALL_TABLE_BITS), which
// holds the code-length code while the character lengths are read and the position
// code after them.  Their long codes hang from the tables as trees in one store of
// nodes: the small code's nodes stay below 256, under the character code's.  All of
// it lives in the HuffmanStore, cleared at the start of every member.
enum HuffmanCode { CHAR_CODE = 0, SMALL_CODE = 1 };

// The two codes and the tree nodes they share; an unused tree child holds 0.  The
// lengths and the tables each lie in one array, the character code's part first
// and the small code's after it, so that a code's part follows from its number.
// Kept in decoder.huffman.
enum {
    SMALL_LENGTHS_AT = CHAR_CODES,         // the small code's lengths, 128 of them
    SMALL_TABLE_AT = 1 << CHAR_TABLE_BITS  // the small code's table
};
struct HuffmanStore {
    uint8_t lengths[SMALL_LENGTHS_AT + 128];
    uint16_t tables[SMALL_TABLE_AT + (1 << SMALL_TABLE_BITS)];
    uint16_t left_child[NODE_ARRAY_SIZE];
    uint16_t right_child[NODE_ARRAY_SIZE];
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    // Fast path, the fast table filled with the build (fill_fast_table_with_build):
    // the table handed over for the next build of each code, the one that build
    // filled, and the first entry after its short codes' runs.
    uint16_t* fast_for_build[2];
    uint16_t* fast_built[2];
    uint32_t fast_built_runs_end[2];
#endif
};

// The lengths of `code` (CHAR_CODES or 128 of them), filled by its reader before
// build_huffman_table.
uint8_t* code_lengths(HuffmanCode code);
// The direct table of `code`: an entry below the alphabet's size is a symbol,
// another a tree node.
uint16_t* code_table(HuffmanCode code);

// Rebuilds the table of `code` (and the tree nodes it needs) from its lengths.
// Lengths that form no usable code mark the member damaged (member_damaged) and
// leave every array in bounds.
void build_huffman_table(HuffmanCode code, int symbol_count);

// The small code's lengths for `count` symbols that start at `first_length` and grow
// by one at each of the `steps` symbols listed in `grows_at` (ascending; one listed
// twice grows the length by two): the fixed position codes.
void set_growing_lengths(int first_length, const uint8_t* grows_at, unsigned steps, int count);

// A code of one symbol, `value`, that takes no bits: every length 0 and every table
// entry `value`.  A value outside the alphabet is no code: the member is damaged and
// the code is left as it was.
void set_single_code(HuffmanCode code, int symbol_count, unsigned value);

// The symbol whose code starts `look_ahead` (the next 16 bits of the stream, the
// first in bit 15) and, in *length, the bits that code takes.  Damage (a tree walk
// that does not end within 16 bits) marks the member and gives symbol 0.
unsigned lookup_code(HuffmanCode code, int symbol_count, unsigned look_ahead, unsigned* length);

// Decodes the next symbol from the bit input and consumes exactly its code length.
uint16_t decode_with_table(HuffmanCode code, int symbol_count);

// ---- fast path: a symbol and its length in one table entry ------------------
//
// For the fast runs: each entry of the table of `code` as symbol << 6 | length, or
// SLOW_ENTRY where the entry leads into a tree (its symbol, 0x3FF, lies outside every
// alphabet), so that one lookup gives both and the long codes go to lookup_code.  The
// length is the entry's low six bits, which is all of the entry that a shift of a
// 64-bit word by it looks at on x86: the word is shifted by the entry itself.
enum { FAST_SYMBOL_SHIFT = 6, FAST_LENGTH_MASK = 63, SLOW_ENTRY = 0xFFFF };
inline unsigned fast_symbol(unsigned entry) { return entry >> FAST_SYMBOL_SHIFT; }
inline unsigned fast_length(unsigned entry) { return entry & FAST_LENGTH_MASK; }
void derive_fast_table(HuffmanCode code, unsigned symbol_count, uint16_t* fast);
// Hands `fast` to the next build_huffman_table of `code`, which fills the entries of
// the short codes there as it builds; derive_fast_table of the same table after it
// then fills only the rest.  The same entries as deriving them all.
void fill_fast_table_with_build(HuffmanCode code, uint16_t* fast);
