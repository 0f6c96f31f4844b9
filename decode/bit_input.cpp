#include "decode/bit_input.h"

#include <stdlib.h>
#include <string.h>

#include "platform/system_services.h"

enum { INPUT_BLOCK_SIZE = 64 * 1024, FALLBACK_INPUT_SIZE = 16384 };

/* buffer_member_input: the block is the whole packed size up to INPUT_BLOCK_SIZE and
 * to the available physical memory; a larger member is refilled by fetch_input_byte
 * as the block runs empty.  Decoding runs from memory either way.  The cap is for
 * speed: every page of a fresh block costs a fault when the read first touches it,
 * and a block that is refilled in place pays that only once (bench/README.md has
 * the figures).  A failed allocation falls back to 16 KiB.  The block is read by fetch_input_byte when the first byte is
 * taken, as every later time it runs empty. */
bool buffer_member_input(MemberSize packed_size) {
    uint32_t size =
        packed_size < INPUT_BLOCK_SIZE ? (uint32_t)packed_size : (uint32_t)INPUT_BLOCK_SIZE;
#ifndef MAVUSFX_STUB_BUILD
    /* Fast path: a block no larger than the fallback's is not lowered, as lowering
     * it could not take it below what a failed allocation falls back to; the system
     * is asked only about larger ones (a call a member, for archives of small
     * files, cost more than the block's reading). */
    if (size > FALLBACK_INPUT_SIZE)
#endif
    {
        uint32_t available = platform_available_memory();
        if (available != 0 && size > available) size = available;
    }
    if (size == 0) size = 1;  // keeps the block a valid allocation; never refilled
    decoder.input.data = (uint8_t*)malloc(size);
    if (decoder.input.data == nullptr) {
        size = FALLBACK_INPUT_SIZE;
        decoder.input.data = (uint8_t*)malloc(size);
        if (decoder.input.data == nullptr) return false;
    }
    // The block starts used up: the first byte taken fills it.
    decoder.input.size = size;
    decoder.input.read_index = size;
    return true;
}

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
 * stream in at its low end, a byte at a time through pending_byte.  The two are
 * worked on as one 24-bit value, bit_buffer over pending_byte, whose bits below the
 * valid pending ones are 0: shifted by the valid bits, it takes the next byte into
 * its low 8 bits. */
void skip_bits(unsigned n) {
    BitReader& b = decoder.bits;
    uint32_t bits = (uint32_t)b.bit_buffer << 8 | b.pending_byte;
    unsigned valid = b.pending_bits;
    while (n > valid) {
        bits <<= valid;
        n -= valid;
        bits |= take_member_byte();
        valid = 8;
    }
    bits <<= n;
    b.pending_bits = (uint8_t)(valid - n);
    b.bit_buffer = (uint16_t)(bits >> 8);
    b.pending_byte = (uint8_t)bits;
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
 * still unconsumed.  The decoder went past the data when the padding bits exceed
 * what is still held, that is when the padding bytes exceed the whole bytes held. */
bool input_overrun() {
    uint32_t held = decoder.bits.looks_ahead ? 16u + decoder.bits.pending_bits : 0u;
    return decoder.bits.padding_bytes > held / 8;
}
