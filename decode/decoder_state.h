// Every piece of the decoder's state, in one struct and one instance, `decoder`:
// the run's settings and progress, kept from one member to the next, and the
// member's own state, cleared at the start of each member (start_member_state):
// the sliding window, the bit input, where its bytes went, the two Huffman codes and
// the state of the method family that reads it (or the block of a stored copy).
// Those exclude one another, so they share a union.  Outside it decode/ holds only constant tables (and the
// CRC-16's tables, made once).  All of it is 0 at start, as is every default, so
// the stub keeps it in zero-initialised memory; a test starts again with
// `decoder = {}`.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/adaptive_huffman.h"
#include "decode/huffman_table.h"
#include "decode/member_size.h"
#include "decode/progress.h"

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
    uint16_t bit_buffer;           // next 16 bits of the stream, bit 15 first
    uint8_t pending_byte;          // bits taken but not yet in bit_buffer, left-aligned
    uint8_t pending_bits;          // how many of them are valid, 0 to 8
    MemberSize packed_bytes_left;  // compressed bytes of the member not yet taken
    // Zero bytes supplied after the data ran out; with the look-ahead they tell
    // whether a decoder consumed more bits than the member holds.
    uint32_t padding_bytes;
    uint8_t looks_ahead;  // 1 once init_bit_reader ran: 16 + pending bits held
};

// The member's compressed bytes in memory.
struct InputBuffer {
    uint8_t* data;
    uint32_t size;        // block length and the length of every refill
    uint32_t read_index;  // next byte to hand out
};

// What became of the member's bytes so far (member_output.h).  Written by the
// writer thread while it writes behind, and read only once it is done.  The stub
// has no use for the count, and without it a member's result comes back in two
// registers.
struct MemberOutput {
    uint16_t crc;       // CRC-16 of the bytes so far
    bool write_failed;  // a write to the member's file failed
#ifndef MAVUSFX_STUB_BUILD
    // errno of that write (or of closing the file, which the engine notes here),
    // for the host tool's message.
    int write_error;
    uint64_t written;  // bytes put out (to the file, when there is one)
#endif
};

#ifndef MAVUSFX_NO_WRITE_BEHIND
// One hand-off to the writer thread (write_behind.cpp), filled only once the writer
// is done with the last one.
struct WriteItem {
    const uint8_t* bytes;
    uint32_t length;
    FILE* out;
};
#endif

// ---- the method families' state (one at a time) -----------------------------

// The fast run's first steps down the "-lh1-" character tree (adaptive_huffman.cpp).
enum { TOP_WALK_BITS = 5 };
struct TopWalk {
    int32_t entries[1 << TOP_WALK_BITS];
    uint16_t mark[NODE_COUNT];  // the nodes whose down_link the entries read
    uint16_t generation;
    bool stale;
};

// "-lh1-" and "-lh2-" (adaptive_huffman.cpp).
struct AdaptiveState {
    AdaptiveModel model;
#ifndef MAVUSFX_NO_LH1_FAST_RUN
    TopWalk top;
    // The fast run's table of the fixed position code, derived once per member.
    uint16_t lh1_position_fast[1 << SMALL_TABLE_BITS];
#endif
};

// "-lh4-" to "-lh7-" (block_codes.cpp).
struct BlockCodesState {
    uint16_t codes_left;      // symbols still to come in this block; 0: new block
    int position_codes;       // 14, 16 or 17
    int position_count_bits;  // 4 or 5
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    // The fast run's tables, derived from the block's codes: a symbol and its code
    // length in one entry (derive_fast_table), and position_fast with what each
    // position code stands for worked out.
    uint16_t char_fast[1 << CHAR_TABLE_BITS];
    uint16_t position_fast[1 << SMALL_TABLE_BITS];
    uint32_t position_steps[1 << SMALL_TABLE_BITS];
    uint16_t length_fast[1 << SMALL_TABLE_BITS];
#endif
};

// "-lh3-" (static_codes.cpp).
struct StaticCodesState {
    uint16_t codes_left;  // symbols left in the block; 0: new block
    // Set for a block whose explicit position lengths are all 0: it has no position
    // code and is sound only as long as none of its symbols is a match.
    bool position_code_missing;
};

// Stored data goes from the archive to the output in blocks of this size
// (decode_driver.cpp).
enum { COPY_BLOCK_SIZE = 2048 };

// "-lzs-" and "-lz5-" (lzs_lz5.cpp).
struct LzsLz5State {
    uint32_t match_position;  // window position named by the last match item
    // "-lz5-": the flag byte's bits still to use, lowest first, above them a 1 that
    // marks their end; 1 or 0 when the next item starts with a new flag byte.
    unsigned flag_bits;
};

struct DecoderState {
    // ---- the run's part: kept from one member to the next, 0 by default ----
    // Set (to 1) by the stop button, on another thread, and never cleared during a
    // run.  Every loop that moves data looks at it between its steps.
    volatile uint8_t stop_requested;
    // Turned on by the tests and fuzz targets, to hold the fast paths against the
    // simple ways: no fast runs, no writing behind.
    bool simple_loop_only;
    bool writes_in_turn;
    // Writing behind: each buffer's size, a power of two at least twice the
    // largest window; 0: WRITE_BEHIND_RING.  The tests take smaller rings.
    uint32_t ring_size;
#ifndef MAVUSFX_STUB_BUILD
    // A bound for the fuzz targets, whose members may claim gigabytes: a coded member
    // that has produced this many bytes and more is due ends there, as damaged, with
    // what it produced written.  0: none.
    uint32_t output_limit;
#endif
    Progress progress;

    // ---- the member's part: cleared at the start of each member ----
    SlidingWindow window;
    BitReader bits;
    InputBuffer input;
    MemberOutput output;
    FILE* input_file;          // the archive stream, standing in the member's data
    MemberSize decoded_count;  // bytes of the member produced so far
    uint16_t dictionary_bits;  // the row's window bits
    // Set by a method when its stream cannot be valid (a table that would overrun its
    // arrays, a value outside its alphabet); the driver then ends the member as damaged.
    bool member_damaged;
    // 1 while a member is read by its older encoders' rule (a row with older_reading):
    // "-lh2-" counts the position tree's single starting leaf before the tree first
    // grows, "-lh3-" reads its single position code in 7 bits instead of 10.
    uint8_t older_encoders_rule;
#ifndef MAVUSFX_NO_WRITE_BEHIND
    WriteItem handed_over;
#endif
    HuffmanStore huffman;
    union {
        AdaptiveState adaptive;  // the largest first: `= {}` clears all of it
        BlockCodesState block;
        StaticCodesState lh3;
        LzsLz5State lzs_lz5;
        uint8_t stored_block[COPY_BLOCK_SIZE];  // stored data on its way
    };
};

static_assert(sizeof(AdaptiveState) >= sizeof(BlockCodesState) &&
                  sizeof(AdaptiveState) >= sizeof(StaticCodesState) &&
                  sizeof(AdaptiveState) >= sizeof(LzsLz5State) &&
                  sizeof(AdaptiveState) >= COPY_BLOCK_SIZE,
              "the union's first member covers it whole");

extern DecoderState decoder;
