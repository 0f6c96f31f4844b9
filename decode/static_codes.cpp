// The static codes of "-lh3-": characters and lengths sent in blocks, and positions
// as a Huffman code for the distance's upper part in units of 64, then 6 plain bits.
#include "decode/bit_input.h"
#include "decode/decode_driver.h"
#include "decode/huffman_table.h"
#include "decode/methods.h"

enum { LH3_CHAR_CODES = 286 };  // 256 bytes, lengths 3 to 31, 285 the escape

enum { LH3_POSITION_CODES = 128 };  // 64 distances each: the 8 KiB window
static uint16_t lh3_codes_left;         // symbols left in the "-lh3-" block; 0: new block
// Set for an "-lh3-" block whose explicit position lengths are all 0: it has no
// position code and is sound only as long as none of its symbols is a match.
static bool position_code_missing;

// The position code of blocks that send no lengths: code 0 takes 2 bits, and the
// length grows by one at each code listed (a code given twice grows it by two):
// 128 codes of 2 to 9 bits.
static const uint8_t READY_MADE_GROWTH[] = {1, 1, 3, 6, 13, 31, 78};

static void set_ready_made_lengths() {
    set_growing_lengths(2, READY_MADE_GROWTH, sizeof READY_MADE_GROWTH, LH3_POSITION_CODES);
}

void begin_lh3() {
    init_bit_reader();
    lh3_codes_left = 0;
    position_code_missing = false;
}

/* read_lh3_char_lengths: 286 entries, each a flag bit with 4 more bits (length
 * value + 1) after a 1.  Three lengths of 1 in front cannot start a prefix code:
 * they announce a 9-bit symbol that is the block's only one, taking no bits.  A
 * value outside the 286 symbols, or a list without any length, is no code. */
static void read_lh3_char_lengths() {
    uint8_t* const lengths = code_lengths(CHAR_CODE);
    bool any = false;
    for (int i = 0; i < LH3_CHAR_CODES; i++) {
        lengths[i] = read_bits(1) ? (uint8_t)(read_bits(4) + 1) : 0;
        any |= lengths[i] != 0;
        if (i == 2 && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
            uint16_t only = read_bits(9);
            if (only >= LH3_CHAR_CODES) decoder.member_damaged = true;
            set_single_code(CHAR_CODE, LH3_CHAR_CODES, only);
            return;
        }
    }
    if (!any) {
        decoder.member_damaged = true;
        return;
    }
    build_huffman_table(CHAR_CODE, LH3_CHAR_CODES);
}

/* read_lh3_position_lengths: 128 lengths of 4 bits.  Three lengths of 1 in front
 * announce a 10-bit code that is the block's only one (7 bits by the older
 * encoders' rule); the zero lengths then leave the table filled with it untouched
 * by the build that follows. */
static void read_lh3_position_lengths() {
    uint8_t* const lengths = code_lengths(SMALL_CODE);
    bool any = false;
    for (int i = 0; i < 128; i++) {
        lengths[i] = (uint8_t)read_bits(4);
        any |= lengths[i] != 0;
        if (i == 2 && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
            uint16_t only = read_bits(decoder.older_encoders_rule ? 7 : 10);
            if (only >= 128) decoder.member_damaged = true;
            set_single_code(SMALL_CODE, 128, only);
            return;
        }
    }
    position_code_missing = !any;
}

/* read_lh3_tables: block size (16 bits, 0 meaning 65,536), character lengths, then
 * a flag for explicit position lengths (else the ready-made code). */
static void read_lh3_tables() {
    lh3_codes_left = read_bits(16);
    read_lh3_char_lengths();
    position_code_missing = false;
    if (read_bits(1)) {
        read_lh3_position_lengths();
    } else {
        set_ready_made_lengths();
    }
    build_huffman_table(SMALL_CODE, 128);
}

/* read_lh3_symbol: 0-255 bytes, 256-284 lengths 3 to 31, 285 followed by 8 plain
 * bits for the lengths 32 to 287.  Blocks follow one another without a marker. */
uint16_t read_lh3_symbol() {
    if (lh3_codes_left == 0) read_lh3_tables();
    lh3_codes_left--;
    if (decoder.member_damaged) return 0;
    uint16_t symbol = decode_with_table(CHAR_CODE, LH3_CHAR_CODES);
    if (symbol == LH3_CHAR_CODES - 1) symbol = (uint16_t)(symbol + read_bits(8));
    return symbol;
}

/* read_lh3_position: the code gives the distance's upper part in units of 64,
 * 6 plain bits the lower part; the result is the distance minus one. */
uint16_t read_lh3_position() {
    if (position_code_missing) decoder.member_damaged = true;
    if (decoder.member_damaged) return 0;
    uint16_t high = decode_with_table(SMALL_CODE, LH3_POSITION_CODES);
    return (uint16_t)(high * 64 + read_bits(6));
}
