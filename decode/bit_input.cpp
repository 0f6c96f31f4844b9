#include "decode/bit_input.h"

#include <string.h>

BitReader bits;
InputBuffer input;
FILE* input_file;

/* fetch_input_byte: the block holds `size` bytes of the member's data; when
 * read_index reaches size the block is refilled with one read of `size` bytes.
 * Positions the archive did not deliver (a truncated file) are zero, never bytes
 * of an earlier read. */
uint8_t fetch_input_byte() {
    if (input.read_index == input.size) {
        size_t got = fread(input.data, 1, input.size, input_file);
        if (got < input.size) memset(input.data + got, 0, input.size - got);
        input.read_index = 0;
    }
    return input.data[input.read_index++];
}

uint8_t take_member_byte() {
    if (bits.packed_bytes_left == 0) {
        if (bits.padding_bytes != UINT32_MAX) bits.padding_bytes++;
        return 0;
    }
    bits.packed_bytes_left--;
    return fetch_input_byte();
}

/* skip_bits: drops the top n bits of bit_buffer and moves the next n bits of the
 * stream in at its low end, a byte at a time through pending_byte.  All shift
 * counts stay within 0..8; an 8-bit value shifted by 8 is 0. */
void skip_bits(unsigned n) {
    while (n > bits.pending_bits) {
        n -= bits.pending_bits;
        bits.bit_buffer = (uint16_t)((bits.bit_buffer << bits.pending_bits) +
                                     (bits.pending_byte >> (8 - bits.pending_bits)));
        bits.pending_byte = take_member_byte();
        bits.pending_bits = 8;
    }
    bits.pending_bits = (uint8_t)(bits.pending_bits - n);
    bits.bit_buffer = (uint16_t)((bits.bit_buffer << n) + (bits.pending_byte >> (8 - n)));
    bits.pending_byte = (uint8_t)(bits.pending_byte << n);
}

uint16_t read_bits(unsigned n) {
    if (n == 0) return 0;
    uint16_t value = (uint16_t)(bits.bit_buffer >> (16 - n));
    skip_bits(n);
    return value;
}

void init_bit_reader() {
    bits.bit_buffer = 0;
    bits.pending_byte = 0;
    bits.pending_bits = 0;
    bits.looks_ahead = 1;
    skip_bits(16);
}

/* Bits moved in = 8 * (data bytes + padding bytes); of those, 16 + pending_bits are
 * still unconsumed.  The decoder went past the data when the padding exceeds what
 * is still held. */
bool input_overrun() {
    uint32_t held = bits.looks_ahead ? 16u + bits.pending_bits : 0u;
    return (uint64_t)bits.padding_bytes * 8 > held;
}
