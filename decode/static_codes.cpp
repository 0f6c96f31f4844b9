// The static codes of "-lh3-": characters and lengths sent in blocks, and positions
// as a Huffman code for the distance's upper part in units of 64, then 6 plain bits.
#include "decode/bit_input.h"
#include "decode/decoder_state.h"
#include "decode/huffman_table.h"
#include "decode/method_table.h"

enum { LH3_CHAR_CODES = 286 };  // 256 bytes, lengths 3 to 31, 285 the escape

enum { LH3_POSITION_CODES = 128 };  // 64 distances each: the 8 KiB window

static StaticCodesState& lh3 = decoder.lh3;

// The position code of blocks that send no lengths: code 0 takes 2 bits, and the
// length grows by one at each code listed (a code given twice grows it by two):
// 128 codes of 2 to 9 bits.
static const uint8_t READY_MADE_GROWTH[] = {1, 1, 3, 6, 13, 31, 78};

static void set_ready_made_lengths() {
    set_growing_lengths(2, READY_MADE_GROWTH, sizeof READY_MADE_GROWTH, LH3_POSITION_CODES);
}

void begin_lh3() {
    init_bit_reader();
    lh3.codes_left = 0;
    lh3.position_code_missing = false;
}

/* read_lh3_lengths: `count` lengths of `code`, each 4 bits, or, for the character
 * code (`flagged`), a flag bit with 4 more bits (length value + 1) after a 1.  Three
 * lengths of 1 in front cannot start a prefix code: they announce a code that is
 * the block's only one, taking no bits, given in `single_bits` bits (the lengths are
 * then all 0, so the build that follows leaves its table as it is).  Returns whether
 * the list gives any code at all. */
static bool read_lh3_lengths(HuffmanCode code, int count, bool flagged, unsigned single_bits) {
    uint8_t* const lengths = code_lengths(code);
    bool any = false;
    for (int i = 0; i < count; i++) {
        unsigned length = !flagged || read_bits(1) ? read_bits(4) + flagged : 0u;
        lengths[i] = (uint8_t)length;
        any |= length != 0;
        if (i == 2 && lengths[0] == 1 && lengths[1] == 1 && length == 1) {
            set_single_code(code, count, read_bits(single_bits));
            return true;
        }
    }
    return any;
}

/* read_lh3_tables: block size (16 bits, 0 meaning 65,536), the 286 character lengths
 * (a 9-bit single symbol; a list without any length is no code), then a flag for
 * 128 explicit position lengths (a 10-bit single code, 7 bits by the older encoders'
 * rule), else the ready-made code. */
static void read_lh3_tables() {
    lh3.codes_left = read_bits(16);
    if (!read_lh3_lengths(CHAR_CODE, LH3_CHAR_CODES, true, 9)) decoder.member_damaged = true;
    build_huffman_table(CHAR_CODE, LH3_CHAR_CODES);
    lh3.position_code_missing = false;
    if (read_bits(1)) {
        lh3.position_code_missing = !read_lh3_lengths(SMALL_CODE, LH3_POSITION_CODES, false,
                                                      decoder.older_encoders_rule ? 7 : 10);
    } else {
        set_ready_made_lengths();
    }
    build_huffman_table(SMALL_CODE, LH3_POSITION_CODES);
}

/* read_lh3_symbol: 0-255 bytes, 256-284 lengths 3 to 31, 285 followed by 8 plain
 * bits for the lengths 32 to 287.  Blocks follow one another without a marker. */
uint16_t read_lh3_symbol() {
    if (lh3.codes_left == 0) read_lh3_tables();
    lh3.codes_left--;
    if (decoder.member_damaged) return 0;
    uint16_t symbol = decode_with_table(CHAR_CODE, LH3_CHAR_CODES);
    if (symbol == LH3_CHAR_CODES - 1) symbol = (uint16_t)(symbol + read_bits(8));
    return symbol;
}

/* read_lh3_position: the code gives the distance's upper part in units of 64,
 * 6 plain bits the lower part; the result is the distance minus one. */
uint16_t read_lh3_position() {
    if (lh3.position_code_missing) decoder.member_damaged = true;
    if (decoder.member_damaged) return 0;
    uint16_t high = decode_with_table(SMALL_CODE, LH3_POSITION_CODES);
    return (uint16_t)(high * 64 + read_bits(6));
}
