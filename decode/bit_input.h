// The bit input: the member's compressed bytes in memory (InputBuffer) and a 16-bit
// look-ahead over them (BitReader).  Bits are taken most significant first.  Exactly
// the member's packed size is taken from the archive; beyond it the stream goes on
// with zero bits, so a decoder can never read into the next member.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct BitReader {
    uint16_t bit_buffer;         // next 16 bits of the stream, bit 15 first
    uint8_t pending_byte;        // bits taken but not yet in bit_buffer, left-aligned
    uint8_t pending_bits;        // how many of them are valid, 0 to 8
    uint32_t packed_bytes_left;  // compressed bytes of the member not yet taken
    // Zero bytes supplied after the data ran out; with the look-ahead they tell
    // whether a decoder consumed more bits than the member holds.
    uint32_t padding_bytes;
    uint8_t looks_ahead;         // 1 once init_bit_reader ran: 16 + pending bits held
};

struct InputBuffer {
    uint8_t* data;
    uint32_t size;        // block length and the length of every refill
    uint32_t read_index;  // next byte to hand out
};

extern BitReader bits;
extern InputBuffer input;
extern FILE* input_file;  // the archive stream of the member being decoded

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
