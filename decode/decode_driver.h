// The decode driver: runs one compressed member through the sliding window with the
// method's three operations and writes whole windows through the output sink.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

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

// A fast run is a marked specialisation of the driver's loop for one method
// family: it decodes symbols straight into the window, with the method's tables
// inline and the bit input in a local word (FastBits), while it is far from every
// boundary where the simple loop does more than store bytes: the block's end, the
// member's last 256 bytes (where a match may be cut), the input's end and the next
// progress change.  It stops after any symbol that damaged the member or after
// which run_flag was found 0.  It returns the number of bytes it decoded; the driver
// then reports progress and checks run_flag for its last symbol, exactly as after
// a symbol of the simple loop, and takes the next symbol itself when it got 0.
typedef uint32_t (*FastRunFn)(uint32_t original_size, FILE* out);

// A method's three operations, and its fast run where it has one.  read_symbol:
// 0-255 a literal, 256 and above a match of symbol - MATCH_CODE_BASE bytes.
// read_position: called once right after each match symbol; the match starts p + 1
// bytes behind the next write position.  begin_member: once per member, after the
// window is filled with spaces and the input is loaded, before the first symbol.
struct DecodeMethod {
    ReadSymbolFn read_symbol;
    ReadPositionFn read_position;
    BeginMemberFn begin_member;
    FastRunFn fast_run;  // null: the simple loop only
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

// ---- fast path: the methods' fast runs --------------------------------------
//

// On unless turned off: the tests and fuzz targets turn the fast runs off to hold
// them against the simple loop.
extern bool fast_runs_enabled;

// Writes the whole window through the output sink, the point where a stream that
// ran past its packed data is caught.  The caller starts the window again at 0.
void flush_full_window(FILE* out);

// Fast path of the match copy: the bytes of [source, source + length) go to
// [position, position + length) in order, exactly as the byte loop copies them.
// The caller makes sure that both ranges and sixteen bytes after them lie inside
// the window, so nothing wraps and no flush falls inside.  It moves eight bytes at
// a time, at least two words, and may write up to sixteen bytes past the match:
// those bytes still belong to the window's history, so they are kept beforehand
// and put back.
// - A source at least eight bytes behind: each word read holds final bytes.
// - A source at least eight bytes ahead (a distance of nearly the whole window):
//   each word is read before any write reaches it, as the byte loop reads old
//   bytes there.
// - A source one to seven bytes behind repeats a short pattern: the first bytes go
//   one at a time until a whole multiple of the pattern of at least eight bytes is
//   there, and the words then copy from that far back.
// - A source one to seven bytes ahead goes byte by byte; the source itself leaves
//   the bytes as they are.
inline void copy_in_window(uint8_t* bytes, uint32_t position, uint32_t source,
                           uint32_t length) {
    uint8_t* to = bytes + position;
    const uint8_t* from = bytes + source;
    const uint32_t behind = position - source;  // wraps round when the source is ahead
    uint32_t i = 0;
    if (behind - 8 > 0xFFFFFFFFu - 15) {  // less than eight bytes apart
        if (behind == 0) return;
        if (source > position) {
            for (; i < length; i++) to[i] = from[i];
            return;
        }
        uint32_t period = behind;
        while (period < 8) period += behind;
        for (; i < period && i < length; i++) to[i] = from[i];
        if (i >= length) return;
        from = to - period;
    }
    uint64_t kept[2], word;
    memcpy(kept, to + length, 16);
    memcpy(&word, from + i, 8);
    memcpy(to + i, &word, 8);
    memcpy(&word, from + i + 8, 8);
    memcpy(to + i + 8, &word, 8);
    for (i += 16; i < length; i += 8) {
        memcpy(&word, from + i, 8);
        memcpy(to + i, &word, 8);
    }
    memcpy(to + length, kept, 16);
}

// The window side of a fast run, as the simple loop stores bytes.  A literal goes to
// the write position; a match whose source and destination, with sixteen bytes
// after each, lie inside the window moves with copy_in_window, any other byte by
// byte with the flush.  Both return false when a flush found the member damaged
// (the run then stops after its symbol).
inline bool put_literal(uint8_t* bytes, uint32_t mask, uint32_t& position, unsigned byte,
                        FILE* out) {
    bytes[position] = (uint8_t)byte;
    if (++position <= mask) return true;
    flush_full_window(out);
    position = 0;
    return !member_damaged;
}

inline bool put_match(uint8_t* bytes, uint32_t mask, uint32_t& position, uint32_t p,
                      uint32_t length, FILE* out) {
    uint32_t source = (position - p - 1) & mask;
    if ((position > source ? position : source) + length + 16 <= mask + 1) {
        copy_in_window(bytes, position, source, length);
        position += length;
        return true;
    }
    bool sound = true;
    for (uint32_t i = 0; i < length; i++)
        sound &= put_literal(bytes, mask, position, bytes[(source + i) & mask], out);
    return sound;
}

// Loads the InputBuffer with the member's compressed bytes: all of them when memory
// allows, else a block that the bit input refills.  False when no block was given.
bool buffer_member_input(uint32_t packed_size);
