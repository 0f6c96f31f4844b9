#include "decode/huffman_table.h"

#include "decode/bit_input.h"
#include "decode/decoder_state.h"


static HuffmanStore& store = decoder.huffman;
static_assert(SMALL_CODE == 1 && CHAR_TABLE_BITS - SMALL_TABLE_BITS == 4,
              "a code's part of the store follows from its number");

#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
/* Fast path, the fast table filled with the build: a table handed over for the next
 * build of a code (fast_for_build) gets the runs of its short codes as the build
 * writes them into the code's own table; once the build has succeeded the table is
 * in fast_built, and derive_fast_table has only the entries after the runs left to
 * fill.  Any other change to the code's table takes fast_built away. */
void fill_fast_table_with_build(HuffmanCode code, uint16_t* fast) {
    store.fast_for_build[code] = fast;
}
#endif

uint8_t* code_lengths(HuffmanCode code) { return store.lengths + code * SMALL_LENGTHS_AT; }

uint16_t* code_table(HuffmanCode code) { return store.tables + code * SMALL_TABLE_AT; }

static int table_bits_of(HuffmanCode code) { return CHAR_TABLE_BITS - 4 * code; }

void set_single_code(HuffmanCode code, int symbol_count, unsigned value) {
    if (value >= (unsigned)symbol_count) {
        decoder.member_damaged = true;
        return;
    }
    uint8_t* lengths = code_lengths(code);
    uint16_t* table = code_table(code);
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    store.fast_built[code] = store.fast_for_build[code] = nullptr;
#endif
    for (int i = 0; i < symbol_count; i++) lengths[i] = 0;
    for (int i = 0; i < (1 << table_bits_of(code)); i++) table[i] = (uint16_t)value;
}

void set_growing_lengths(int first_length, const uint8_t* grows_at, unsigned steps, int count) {
    unsigned k = 0;
    for (int i = 0; i < count && i < 128; i++) {
        for (; k < steps && grows_at[k] == i; k++) first_length++;
        store.lengths[SMALL_LENGTHS_AT + i] = (uint8_t)first_length;
    }
}

/* build_huffman_table: canonical codes, shorter codes numerically smaller, codes of
 * one length consecutive in symbol order, read most significant bit first.
 *
 * Codes of up to table_bits bits fill runs of table entries.  The table entries from
 * the first one not covered by such codes to the end are cleared, and each longer
 * code hangs from its entry as a path of tree nodes (numbered from symbol_count up)
 * whose children start empty, so an empty slot is one that still needs a node.
 * Lengths that do not over-subscribe the code space give a prefix-free code: the
 * codes of each length lie in a range of their own, so a path never meets a leaf.
 *
 * Lengths above 16, codes whose lengths over-subscribe the code space, and codes that
 * would need more tree nodes than the arrays hold for them (the small tables' nodes
 * stay below 256, under the character tree's, as both trees live at once) are
 * refused: the member is damaged and nothing is written outside the arrays.
 * All-zero lengths leave the table as it was; an incomplete code is accepted, its
 * unused entries and unused tree children decoding as symbol 0. */
void build_huffman_table(HuffmanCode code, int symbol_count) {
    const uint8_t* lengths = code_lengths(code);
    uint16_t* table = code_table(code);
    const int table_bits = table_bits_of(code);
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    uint16_t* const fast = store.fast_for_build[code];
    store.fast_for_build[code] = store.fast_built[code] = nullptr;
#endif
    // Codes are kept left-aligned in 16 bits: a code of length l covers 2^(16 - l)
    // of the 2^16 values.  start[l] first counts the codes of length l (a length of
    // 0 counts into start[0], which is not used), then becomes their first code.
    uint32_t start[MAX_CODE_LENGTH + 1] = {0};
    for (int s = 0; s < symbol_count; s++) {
        if (lengths[s] > MAX_CODE_LENGTH) {
            decoder.member_damaged = true;
            return;
        }
        start[lengths[s]]++;
    }
    uint32_t total = 0;
    for (int l = 1; l <= MAX_CODE_LENGTH; l++) {
        const uint32_t space = start[l] << (16 - l);
        start[l] = total;
        total += space;
    }
    if (total == 0) return;
    if (total > 0x10000) {
        decoder.member_damaged = true;
        return;
    }
    // Long codes hang from the entries after the last short code.  Without any short
    // code (only an incomplete code can be so) that is the whole table, so no entry
    // of an earlier build is left where a tree root belongs.
    const int shift = 16 - table_bits;
    const uint32_t table_size = 1u << table_bits;
    uint32_t first_free = start[table_bits + 1] >> shift;
    for (uint32_t i = first_free; i < table_size; i++) table[i] = 0;

    uint32_t next_node = (uint32_t)symbol_count;
    const uint32_t node_limit = symbol_count >= 256 ? NODE_ARRAY_SIZE : 256;
    for (int s = 0; s < symbol_count; s++) {
        int l = lengths[s];
        if (l == 0) continue;
        const uint32_t first = start[l];
        start[l] = first + (0x10000u >> l);
        if (l <= table_bits) {
            uint16_t* entry = &table[first >> shift];
            for (uint32_t i = 0; i < (1u << (table_bits - l)); i++) entry[i] = (uint16_t)s;
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
            if (fast != nullptr) {
                uint16_t* const fast_entry = &fast[first >> shift];
                for (uint32_t i = 0; i < (1u << (table_bits - l)); i++)
                    fast_entry[i] = (uint16_t)(s << FAST_SYMBOL_SHIFT | l);
            }
#endif
        } else {
            uint16_t* slot = &table[first >> shift];
            for (int k = 0; k < l - table_bits; k++) {
                if (*slot == 0) {
                    if (next_node >= node_limit) {
                        decoder.member_damaged = true;
                        return;
                    }
                    *slot = (uint16_t)next_node;
                    store.left_child[next_node] = store.right_child[next_node] = 0;
                    next_node++;
                }
                uint32_t node = *slot;
                bool one = (first >> (15 - table_bits - k)) & 1;
                slot = one ? &store.right_child[node] : &store.left_child[node];
            }
            *slot = (uint16_t)s;
        }
    }
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    store.fast_built[code] = fast;
    store.fast_built_runs_end[code] = first_free;
#endif
}

/* lookup_code, walk_code: the next table_bits bits index the table.  A symbol there has its
 * whole code in them; a node number leads into the tree, one further bit per step
 * (bit 15 - table_bits of the look-ahead first), for at most 16 - table_bits steps.
 * The code takes the symbol's own length, so a tree child that no code reaches (an
 * incomplete code) decodes as symbol 0 with symbol 0's length, just as an unused
 * table entry does.  A walk that does not end in time is damage: symbol 0 taking
 * table_bits bits.  Every entry and child holds a symbol or a node below
 * NODE_ARRAY_SIZE (the build and set_single_code write nothing else), so the walk
 * stays inside the node arrays. */
static unsigned walk_code(const uint16_t* table, const uint8_t* lengths, int symbol_count,
                          int table_bits, unsigned look_ahead, unsigned* length) {
    unsigned s = table[look_ahead >> (16 - table_bits)];
    unsigned mask = 1u << (15 - table_bits);
    unsigned steps = 0;
    while (s >= (unsigned)symbol_count) {
        if (steps == (unsigned)(MAX_CODE_LENGTH - table_bits)) {
            decoder.member_damaged = true;
            *length = (unsigned)table_bits;
            return 0;
        }
        s = (look_ahead & mask) ? store.right_child[s] : store.left_child[s];
        mask >>= 1;
        steps++;
    }
    *length = lengths[s];
    return s;
}

unsigned lookup_code(HuffmanCode code, int symbol_count, unsigned look_ahead, unsigned* length) {
    return walk_code(code_table(code), code_lengths(code), symbol_count, table_bits_of(code),
                     look_ahead, length);
}

uint16_t decode_with_table(HuffmanCode code, int symbol_count) {
    unsigned length;
    unsigned s = lookup_code(code, symbol_count, decoder.bits.bit_buffer, &length);
    skip_bits(length);
    return (uint16_t)s;
}

/* Entry by entry without a branch: a node number looks up symbol 0's length, which is
 * in bounds, and the entry is then SLOW_ENTRY all the same. */
static inline void derive_each_entry(const uint16_t* table, const uint8_t* lengths,
                                     unsigned symbol_count, uint32_t first, uint32_t end,
                                     uint16_t* fast) {
    for (uint32_t i = first; i < end; i++) {
        const unsigned s = table[i];
        const bool symbol = s < symbol_count;
        const unsigned entry = s << FAST_SYMBOL_SHIFT | lengths[symbol ? s : 0];
        fast[i] = symbol ? (uint16_t)entry : (uint16_t)SLOW_ENTRY;
    }
}

/* derive_entries: a table that build_huffman_table made from these lengths holds each
 * code of l <= table_bits bits as a run of 2^(table_bits - l) entries, the runs in
 * canonical order from entry 0 on.  The fast table gets the same runs straight from
 * the lengths, each one entry value filled over, and only the entries after the last
 * run (tree roots and, in an incomplete code, unused entries) are looked up in the
 * table.  Lengths that built no table (all zero: the table stayed as it was) or were
 * refused go entry by entry through whatever the table holds. */
static inline void derive_entries(const uint16_t* table, const uint8_t* lengths,
                                  unsigned symbol_count, int table_bits, uint16_t* fast) {
    const uint32_t table_size = 1u << table_bits;
    uint32_t count[MAX_CODE_LENGTH + 1] = {0};
    bool sound = true;
    for (unsigned s = 0; s < symbol_count; s++) {
        const bool in_range = lengths[s] <= MAX_CODE_LENGTH;
        sound &= in_range;
        count[in_range ? lengths[s] : 0]++;
    }
    uint32_t total = 0;
    for (int l = 1; l <= MAX_CODE_LENGTH; l++) total += count[l] << (16 - l);
    if (!sound || total == 0 || total > 0x10000) {
        derive_each_entry(table, lengths, symbol_count, 0, table_size, fast);
        return;
    }
    uint32_t start[MAX_CODE_LENGTH + 1];
    uint32_t first_free = 0;
    for (int l = 1; l <= table_bits; l++) {
        start[l] = first_free;
        first_free += count[l] << (table_bits - l);
    }
    for (unsigned s = 0; s < symbol_count; s++) {
        const int l = lengths[s];
        if (l == 0 || l > table_bits) continue;
        const uint16_t entry = (uint16_t)(s << FAST_SYMBOL_SHIFT | (unsigned)l);
        uint16_t* const run = fast + start[l];
        const uint32_t run_length = 1u << (table_bits - l);
        for (uint32_t k = 0; k < run_length; k++) run[k] = entry;
        start[l] += run_length;
    }
    derive_each_entry(table, lengths, symbol_count, first_free, table_size, fast);
}

/* Each code with its table bits as a constant, so that derive_entries' shifts and
 * run lengths are fixed. */
void derive_fast_table(HuffmanCode code, unsigned symbol_count, uint16_t* fast) {
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    if (store.fast_built[code] == fast) {
        derive_each_entry(code_table(code), code_lengths(code), symbol_count,
                          store.fast_built_runs_end[code], 1u << table_bits_of(code), fast);
        return;
    }
#endif
    if (code == CHAR_CODE)
        derive_entries(code_table(CHAR_CODE), code_lengths(CHAR_CODE), symbol_count,
                       CHAR_TABLE_BITS, fast);
    else
        derive_entries(code_table(SMALL_CODE), code_lengths(SMALL_CODE), symbol_count,
                       SMALL_TABLE_BITS, fast);
}
