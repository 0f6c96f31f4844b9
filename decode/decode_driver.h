// The decode driver: runs one compressed member through the sliding window with the
// method's three operations and writes whole windows through the output sink.
#pragma once

#include <stdint.h>
#include <stdio.h>

typedef uint16_t (*ReadSymbolFn)();
typedef uint16_t (*ReadPositionFn)();
typedef void (*BeginMemberFn)();

// What one compressed member hands to the driver.
struct DecodeJob {
    uint32_t window_size;           // set by decode_member: 2 ** dictionary_bits
    ReadSymbolFn read_symbol;       // copied in from the method's row
    ReadPositionFn read_position;
    BeginMemberFn begin_member;
    FILE* archive_file;             // positioned on the member's compressed data
    FILE* output_file;              // null: decode and check only
    uint32_t original_size;
    uint32_t packed_size;
    uint16_t dictionary_bits;       // 11 to 16
    int method_index;               // 1 to 9
};

// A method's three operations.  read_symbol: 0-255 a literal, 256 and above a match
// of symbol - MATCH_CODE_BASE bytes.  read_position: called once right after each
// match symbol; the match starts p + 1 bytes behind the next write position.
// begin_member: once per member, after the window is filled with spaces and the
// input is loaded, before the first symbol.
struct DecodeMethod {
    ReadSymbolFn read_symbol;
    ReadPositionFn read_position;
    BeginMemberFn begin_member;
};

// One row per method_index 1 to 9; entry 0 is empty.
extern const DecodeMethod DECODE_METHODS[10];

// The dictionary of the member.
struct SlidingWindow {
    uint8_t* bytes;            // window_size bytes from the heap
    uint32_t window_position;  // next byte to be written
    uint32_t mask;             // window_size - 1
};

// Shared decoder state, one instance, serving one member at a time.
extern SlidingWindow window;
extern uint16_t dictionary_bits;
extern uint32_t decoded_count;
// Set by a method when its stream cannot be valid (a table that would overrun its
// arrays, a value outside its alphabet); the driver then ends the member as damaged.
extern bool member_damaged;

enum DecodeResult {
    DECODE_COMPLETE = 0,   // original_size bytes were produced
    DECODE_CANCELLED = 1,  // run_flag was found cleared
    DECODE_DAMAGED = 2,    // the stream is not valid; at most original_size bytes written
    DECODE_NO_MEMORY = 3   // no input block could be allocated
};

// Decodes the member with the row DECODE_METHODS[job->method_index].
DecodeResult decode_member(DecodeJob* job);
// The same with a given row: the driver's loop itself.
DecodeResult decode_with_method(DecodeJob* job, const DecodeMethod& row);

// Loads the InputBuffer with the member's compressed bytes: all of them when memory
// allows, else a block that the bit input refills.  False when no block was given.
bool buffer_member_input(uint32_t packed_size);
