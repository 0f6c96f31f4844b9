// The state of the member being decoded, in one place: the sliding window, the bit
// input over the member's bytes and the counts the methods read.  One instance,
// `decoder`, serving one member at a time; the driver sets every field at the start
// of a member and the method's begin_member starts the bit input.  The families keep
// their own models and tables in their units (adaptive_huffman.cpp, huffman_table.cpp,
// block_codes.cpp, static_codes.cpp, lzs_lz5.cpp), each started again by its
// begin_member or the driver.
#pragma once

#include <stdint.h>
#include <stdio.h>

// The dictionary of the member.
struct SlidingWindow {
    uint8_t* bytes;            // window_size bytes from the heap
    uint32_t window_position;  // next byte to be written
    uint32_t mask;             // window_size - 1
#ifndef MAVUSFX_NO_WRITE_BEHIND
    // Writing behind (write_behind.h): the ring's other buffer, which the writer may
    // still be reading; bytes and spare change places at every flush.  Null when the
    // window is written in turn.
    uint8_t* spare;
#endif
};

// A 16-bit look-ahead over the member's bytes, most significant bit first.
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

// The member's compressed bytes in memory.
struct InputBuffer {
    uint8_t* data;
    uint32_t size;        // block length and the length of every refill
    uint32_t read_index;  // next byte to hand out
};

struct DecoderState {
    SlidingWindow window;
    BitReader bits;
    InputBuffer input;
    FILE* input_file;         // the archive stream, standing in the member's data
    uint32_t decoded_count;   // bytes of the member produced so far
    uint16_t dictionary_bits; // the row's window bits
    // Set by a method when its stream cannot be valid (a table that would overrun its
    // arrays, a value outside its alphabet); the driver then ends the member as damaged.
    bool member_damaged;
    // 1 while a member is read by its older encoders' rule (a row with older_reading):
    // "-lh2-" counts the position tree's single starting leaf before the tree first
    // grows, "-lh3-" reads its single position code in 7 bits instead of 10.
    uint8_t older_encoders_rule;
};

extern DecoderState decoder;
