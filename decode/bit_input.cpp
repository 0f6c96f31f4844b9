#include "decode/bit_input.h"

#include <string.h>

/* fetch_input_byte: the block holds `size` bytes of the member's data; when
 * read_index reaches size the block is refilled with one read of `size` bytes.
 * Positions the archive did not deliver (a truncated file) are zero, never bytes
 * of an earlier read. */
uint8_t fetch_input_byte() {
    if (decoder.input.read_index == decoder.input.size) {
        size_t got = fread(decoder.input.data, 1, decoder.input.size, decoder.input_file);
        if (got < decoder.input.size) memset(decoder.input.data + got, 0, decoder.input.size - got);
        decoder.input.read_index = 0;
    }
    return decoder.input.data[decoder.input.read_index++];
}

uint8_t take_member_byte() {
    if (decoder.bits.packed_bytes_left == 0) {
        if (decoder.bits.padding_bytes != UINT32_MAX) decoder.bits.padding_bytes++;
        return 0;
    }
    decoder.bits.packed_bytes_left--;
    return fetch_input_byte();
}

/* skip_bits: drops the top n bits of bit_buffer and moves the next n bits of the
 * stream in at its low end, a byte at a time through pending_byte.  All shift
 * counts stay within 0..8; an 8-bit value shifted by 8 is 0. */
void skip_bits(unsigned n) {
    BitReader& b = decoder.bits;
    while (n > b.pending_bits) {
        n -= b.pending_bits;
        b.bit_buffer =
            (uint16_t)((b.bit_buffer << b.pending_bits) + (b.pending_byte >> (8 - b.pending_bits)));
        b.pending_byte = take_member_byte();
        b.pending_bits = 8;
    }
    b.pending_bits = (uint8_t)(b.pending_bits - n);
    b.bit_buffer = (uint16_t)((b.bit_buffer << n) + (b.pending_byte >> (8 - n)));
    b.pending_byte = (uint8_t)(b.pending_byte << n);
}

uint16_t read_bits(unsigned n) {
    if (n == 0) return 0;
    uint16_t value = (uint16_t)(decoder.bits.bit_buffer >> (16 - n));
    skip_bits(n);
    return value;
}

void init_bit_reader() {
    decoder.bits.bit_buffer = 0;
    decoder.bits.pending_byte = 0;
    decoder.bits.pending_bits = 0;
    decoder.bits.looks_ahead = 1;
    skip_bits(16);
}

/* Bits moved in = 8 * (data bytes + padding bytes); of those, 16 + pending_bits are
 * still unconsumed.  The decoder went past the data when the padding exceeds what
 * is still held. */
bool input_overrun() {
    uint32_t held = decoder.bits.looks_ahead ? 16u + decoder.bits.pending_bits : 0u;
    return (uint64_t)decoder.bits.padding_bytes * 8 > held;
}
