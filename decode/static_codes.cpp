#include "decode/static_codes.h"

#include "decode/adaptive_huffman.h"
#include "decode/bit_input.h"
#include "decode/decode_driver.h"
#include "decode/huffman_table.h"
#include "decode/methods.h"
#include "decode/output_sink.h"

uint32_t static_position_codes;
uint16_t lh3_codes_left;
// Set for an "-lh3-" block whose explicit position lengths are all 0: it has no
// position code and is sound only as long as none of its symbols is a match.
static bool position_code_missing;

const uint8_t READY_MADE_LENGTHS[2][16] = {
    {3, 1, 4, 12, 24, 48, 0},            // "-lh1-": 64 codes of 3 to 8 bits
    {2, 1, 1, 3, 6, 13, 31, 78, 0},      // "-lh3-": 128 codes of 2 to 9 bits
};

/* set_ready_made_lengths: a row gives the length of code 0, then the codes at which
 * the length grows by one, in ascending order (a code given twice grows it by two);
 * the zeros after them never match a code past 0. */
void set_ready_made_lengths(int row) {
    const uint8_t* values = READY_MADE_LENGTHS[row];
    int length = values[0];
    int k = 1;
    for (uint32_t i = 0; i < static_position_codes && i < 128; i++) {
        for (; k < 16 && values[k] == i; k++) length++;
        small_lengths[i] = (uint8_t)length;
    }
}

/* begin_lh1: characters and lengths 3 to 60 through the adaptive tree of 314
 * symbols, positions through the fixed 64-code table, built once per member. */
void begin_lh1() {
    adaptive_symbol_count = 314;
    longest_match = 60;
    init_bit_reader();
    static_position_codes = 64;
    position_code_missing = false;
    init_symbol_tree();
    set_ready_made_lengths(0);
    build_huffman_table(64, small_lengths, SMALL_TABLE_BITS, small_table);
}

void begin_lh3() {
    init_bit_reader();
    lh3_codes_left = 0;
    static_position_codes = 128;
    position_code_missing = false;
}

/* read_lh3_char_lengths: 286 entries, each a flag bit with 4 more bits (length
 * value + 1) after a 1.  Three lengths of 1 in front cannot start a prefix code:
 * they announce a 9-bit symbol that is the block's only one, taking no bits.  A
 * value outside the 286 symbols, or a list without any length, is no code. */
void read_lh3_char_lengths() {
    bool any = false;
    for (int i = 0; i < LH3_CHAR_CODES; i++) {
        char_lengths[i] = read_bits(1) ? (uint8_t)(read_bits(4) + 1) : 0;
        any |= char_lengths[i] != 0;
        if (i == 2 && char_lengths[0] == 1 && char_lengths[1] == 1 && char_lengths[2] == 1) {
            uint16_t only = read_bits(9);
            if (only >= LH3_CHAR_CODES) member_damaged = true;
            set_single_code(LH3_CHAR_CODES, char_lengths, CHAR_TABLE_BITS, char_table, only);
            return;
        }
    }
    if (!any) {
        member_damaged = true;
        return;
    }
    build_huffman_table(LH3_CHAR_CODES, char_lengths, CHAR_TABLE_BITS, char_table);
}

/* read_lh3_position_lengths: 128 lengths of 4 bits.  Three lengths of 1 in front
 * announce a 10-bit code that is the block's only one; the zero lengths then leave
 * the table filled with it untouched by the build that follows. */
void read_lh3_position_lengths() {
    bool any = false;
    for (int i = 0; i < 128; i++) {
        small_lengths[i] = (uint8_t)read_bits(4);
        any |= small_lengths[i] != 0;
        if (i == 2 && small_lengths[0] == 1 && small_lengths[1] == 1 && small_lengths[2] == 1) {
            uint16_t only = read_bits(10);
            if (only >= 128) member_damaged = true;
            set_single_code(128, small_lengths, SMALL_TABLE_BITS, small_table, only);
            return;
        }
    }
    position_code_missing = !any;
}

/* read_lh3_tables: block size (16 bits, 0 meaning 65,536), character lengths, then
 * a flag for explicit position lengths (else the ready-made row 1). */
static void read_lh3_tables() {
    lh3_codes_left = read_bits(16);
    read_lh3_char_lengths();
    position_code_missing = false;
    if (read_bits(1)) {
        read_lh3_position_lengths();
    } else {
        set_ready_made_lengths(1);
    }
    build_huffman_table(128, small_lengths, SMALL_TABLE_BITS, small_table);
}

/* read_lh3_symbol: 0-255 bytes, 256-284 lengths 3 to 31, 285 followed by 8 plain
 * bits for the lengths 32 to 287.  Blocks follow one another without a marker. */
uint16_t read_lh3_symbol() {
    if (lh3_codes_left == 0) read_lh3_tables();
    lh3_codes_left--;
    if (member_damaged) return 0;
    uint16_t symbol = decode_with_table(char_table, char_lengths, LH3_CHAR_CODES,
                                        CHAR_TABLE_BITS);
    if (symbol == LH3_CHAR_CODES - 1) symbol = (uint16_t)(symbol + read_bits(8));
    return symbol;
}

/* read_static_position: the code gives the distance's upper part in units of 64,
 * 6 plain bits the lower part; the result is the distance minus one. */
uint16_t read_static_position() {
    if (position_code_missing) member_damaged = true;
    if (member_damaged) return 0;
    uint16_t high = decode_with_table(small_table, small_lengths, (int)static_position_codes,
                                      SMALL_TABLE_BITS);
    return (uint16_t)(high * 64 + read_bits(6));
}

#ifndef MAVUSFX_NO_LH1_FAST_RUN
/* run_lh1_symbols: the fast run of "-lh1-" (FastRunFn).  Symbol by symbol it does
 * what read_adaptive_symbol, read_static_position and the driver's simple loop do,
 * specialised where that is safe:
 * - the character tree is walked on the bits of a local word instead of 16-bit
 *   look-aheads, and counted with count_symbol as before.  A walk is allowed 34
 *   steps, far more than any tree the model keeps is deep (a leaf's weight halves
 *   at most every two levels and the root stays below 0x8001); a longer one is
 *   left unconsumed to the simple loop.  "-lh1-" has no escape;
 * - the position code takes one lookup in small_table (its codes fit the table's
 *   8 bits), else lookup_code as in decode_with_table, and then its 6 plain bits;
 *   a model that was found damaged reads no position, as read_static_position;
 * - a symbol thus takes at most 34 + 16 + 6 bits, and the word holds at least 56
 *   before each; FastBits keeps it away from the input's end;
 * - no match needs cutting: it runs only while more than 256 bytes of the member
 *   are still to come; no progress is due: it stops after the symbol that reaches
 *   the count where update_progress might send something;
 * - bytes go to the window through put_literal and put_match. */
uint32_t run_lh1_symbols(uint32_t original_size, FILE* out) {
    const uint32_t start = decoded_count;
    FastBits in;
    if (escape_symbol < adaptive_symbol_count || position_code_missing || original_size <= 256 ||
        start >= original_size - 256 || !take_fast_bits(in))
        return 0;
    uint32_t stop_at = progress_quiet_until(start);
    if (stop_at > original_size - 256) stop_at = original_size - 256;
    uint8_t* const bytes = window.bytes;
    const uint32_t mask = window.mask;
    const unsigned position_codes = static_position_codes;
    uint32_t position = window.window_position;
    uint32_t count = start;

    for (;;) {
        if (in.count < 56) refill_fast_bits(in);
        uint64_t word = in.word;
        int c = down_link[CHAR_ROOT];
        unsigned steps = 0;
        for (; c > 0 && steps < 34; steps++, word <<= 1) c = down_link[c - (int)(word >> 63)];
        if (c > 0) break;
        in.word = word;
        in.count -= steps;
        const unsigned symbol = (unsigned)(-1 - c);
        count_symbol(symbol);
        bool sound = !member_damaged;
        if (symbol <= 255) {
            sound &= put_literal(bytes, mask, position, symbol, out);
            count++;
        } else {
            uint32_t p = 0;
            if (sound) {
                unsigned length;
                unsigned high = small_table[in.word >> (64 - SMALL_TABLE_BITS)];
                if (high < position_codes) {
                    length = small_lengths[high];
                } else {
                    high = lookup_code(small_table, small_lengths, (int)position_codes,
                                       SMALL_TABLE_BITS, (unsigned)(in.word >> 48), &length);
                    sound = !member_damaged;
                }
                consume_fast_bits(in, length);
                p = high * 64 + (uint32_t)(in.word >> 58);
                consume_fast_bits(in, 6);
            }
            uint32_t match = symbol - 253;
            count += match;
            sound &= put_match(bytes, mask, position, p, match, out);
        }
        if (!sound || count >= stop_at || !fast_bits_room(in) || keep_going == 0) break;
    }
    decoded_count = count;
    window.window_position = position;
    give_back_fast_bits(in);
    return count - start;
}
#endif
