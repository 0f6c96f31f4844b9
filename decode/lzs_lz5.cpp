// The plain sliding-window formats "-lzs-" (bits) and "-lz5-" (bytes): literals and
// matches that name an absolute window position.
#include <string.h>

#include "decode/bit_input.h"
#include "decode/decoder_state.h"
#include "decode/method_table.h"

static LzsLz5State& lz = decoder.lzs_lz5;

/* "-lzs-" items, through the bit input: 1 and 8 bits for a literal byte; 0, an
 * 11-bit window position and 4 bits of length - 2 for a match.  The window of 2 KiB
 * starts as spaces. */
void begin_lzs() { init_bit_reader(); }

uint16_t read_lzs_symbol() {
    if (read_bits(1)) return read_bits(8);
    lz.match_position = read_bits(11);
    return (uint16_t)(read_bits(4) + 256);
}

/* A match names an absolute window position; the encoder's window ran 18 bytes
 * ahead of the decoder's, so the copy starts at (match_position + 17) mod 2048. */
uint16_t read_lzs_position() {
    return (uint16_t)((decoder.window.window_position - lz.match_position - 18) & 0x7FF);
}

/* begin_lz5: the 4 KiB window starts with 18 spaces, 13 bytes of each byte value in
 * turn, the values rising, the values falling, 128 zeros and 110 spaces; matches
 * may copy from it before anything was written.  The spaces are the driver's. */
void begin_lz5() {
    lz.flag_bits = 0;
    if (decoder.dictionary_bits != 12) {  // the dictionary is laid out for 4 KiB only
        decoder.member_damaged = true;
        return;
    }
    uint8_t* w = decoder.window.bytes;
    for (int i = 0; i < 256; i++) {
        memset(w + 18 + 13 * i, i, 13);
        w[3346 + i] = (uint8_t)i;  // rising from 3346
        w[3857 - i] = (uint8_t)i;  // falling from 3602
    }
    memset(w + 3858, 0x00, 128);
}

/* read_lz5_symbol: whole bytes.  A flag byte, read when an item is due, governs
 * the next 8 items, lowest bit first: 1 a literal byte, 0 a match of two bytes
 * b1, b2 with the window position b1 + 256 * (b2 >> 4) and the length
 * (b2 & 15) + 3. */
uint16_t read_lz5_symbol() {
    if (lz.flag_bits <= 1) lz.flag_bits = 0x100u | take_member_byte();
    uint16_t c = take_member_byte();
    if ((lz.flag_bits & 1) == 0) {
        lz.match_position = c;
        uint8_t d = take_member_byte();
        lz.match_position += (uint32_t)(d & 0xF0) * 16;
        c = (uint16_t)((d & 0x0F) + 256);
    }
    lz.flag_bits >>= 1;
    return c;
}

/* The copy starts at (match_position + 18) mod 4096. */
uint16_t read_lz5_position() {
    return (uint16_t)((decoder.window.window_position - lz.match_position - 19) & 0xFFF);
}
