// The bit input: the member's compressed bytes in memory (decoder.input) and a
// 16-bit look-ahead over them (decoder.bits).  Bits are taken most significant
// first.  Exactly the member's packed size is taken from the archive; beyond it the
// stream goes on with zero bits, so a decoder can never read into the next member.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/decoder_state.h"

// Gives the InputBuffer a block for the member's compressed bytes: all of them when
// memory allows, else a block that the bit input refills.  The block starts used up,
// so the first byte taken reads it.  False when no block was given.
bool buffer_member_input(MemberSize packed_size);

void init_bit_reader();
void skip_bits(unsigned n);
uint16_t read_bits(unsigned n);
// Next byte of the InputBuffer, refilled from input_file when used up.  Bytes the
// archive could not deliver read as 0.
uint8_t fetch_input_byte();
// Next byte of the member's data, or 0 once packed_bytes_left is 0: the byte-wise
// counterpart of the bit input, for formats that read whole bytes.
uint8_t take_member_byte();

// True when the decoder has consumed more of the stream than the member holds.
bool input_overrun();

// ---- fast path: the bit input held in a 64-bit word -------------------------
//
// A fast run takes the bit input over into local variables (FastBits), reads the
// InputBuffer eight bytes at a time, and gives it back with every BitReader and
// InputBuffer field exactly as skip_bits would have left them after the same bits.
// It only runs while the InputBuffer and the member's packed bytes both hold at
// least FAST_INPUT_MARGIN bytes beyond its position, so it never refills the block,
// never reaches the zero bits past the data, and its eight-byte loads stay in the
// block.
// A refill tops the word up to FAST_BITS_HELD bits or more: a fast run refills
// before each symbol, and each of its symbols takes at most that many bits.
enum { FAST_INPUT_MARGIN = 16, FAST_BITS_HELD = 56 };

struct FastBits {
    uint64_t word;        // the next `count` bits of the stream from bit 63 down
    unsigned count;       // valid bits in word, at most 63
    const uint8_t* next;  // first byte not yet in word
    const uint8_t* end;   // end of the bytes the run may take
};

// True while a refill cannot reach beyond the bytes the run may take.
inline bool fast_bits_room(const FastBits& in) { return in.end - in.next >= FAST_INPUT_MARGIN; }

// Tops the word up to FAST_BITS_HELD to 63 valid bits.  The bits below `count` are
// either 0 or the same stream bits the new load brings, so they can be or-ed over;
// the count's top bits are or-ed in the same way.
inline void refill_fast_bits(FastBits& in) {
    const uint8_t* p = in.next;
    uint64_t load = (uint64_t)p[0] << 56 | (uint64_t)p[1] << 48 | (uint64_t)p[2] << 40 |
                    (uint64_t)p[3] << 32 | (uint64_t)p[4] << 24 | (uint64_t)p[5] << 16 |
                    (uint64_t)p[6] << 8 | (uint64_t)p[7];
    in.word |= load >> in.count;
    in.next += (63 - in.count) >> 3;
    static_assert(FAST_BITS_HELD == 0x38, "the count's top three bits, or-ed in");
    in.count |= FAST_BITS_HELD;
}

inline void consume_fast_bits(FastBits& in, unsigned n) {
    in.word <<= n;
    in.count -= n;
}

/* The BitReader holds 16 + pending_bits unconsumed bits, pending_bits 0 to 7, so its
 * state after any number of consumed bits is fixed: as many bytes taken as those
 * bits need.  The word starts as bit_buffer and the pending bits (whose unused low
 * bits are 0); at the end one more refill makes sure 16 bits are there, and the
 * whole bytes beyond the 23 the BitReader can hold go back to the InputBuffer.
 * Both are inline so that the run keeps the word in registers. */

// Takes the bit input over; false when too few bytes are left for a fast run.
inline bool take_fast_bits(FastBits& in) {
    uint32_t left = decoder.input.size - decoder.input.read_index;
    if (left > decoder.bits.packed_bytes_left) left = (uint32_t)decoder.bits.packed_bytes_left;
    if (!decoder.bits.looks_ahead || left < FAST_INPUT_MARGIN) return false;
    in.word = (uint64_t)decoder.bits.bit_buffer << 48 | (uint64_t)decoder.bits.pending_byte << 40;
    in.count = 16u + decoder.bits.pending_bits;
    in.next = decoder.input.data + decoder.input.read_index;
    in.end = in.next + left;
    return true;
}

// Gives the bit input back: the unused whole bytes return to the InputBuffer and
// the BitReader holds the next 16 bits and the pending ones.
inline void give_back_fast_bits(FastBits in) {
    refill_fast_bits(in);
    unsigned extra = (in.count - 16) >> 3;
    in.count -= 8 * extra;
    in.next -= extra;
    uint32_t taken = (uint32_t)(in.next - (decoder.input.data + decoder.input.read_index));
    decoder.input.read_index += taken;
    decoder.bits.packed_bytes_left -= taken;
    decoder.bits.pending_bits = (uint8_t)(in.count - 16);
    decoder.bits.bit_buffer = (uint16_t)(in.word >> 48);
    decoder.bits.pending_byte = (uint8_t)((in.word >> 40) & (0xFF00u >> decoder.bits.pending_bits));
}
