// The decode driver: one member's data from the archive to its output, by the kind
// of its method row.  Stored data is copied; coded data runs through the sliding
// window with the row's three operations, whole windows written through
// write_output (member_output.h).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "decode/decoder_state.h"
#include "decode/method_table.h"

enum DecodeResult {
    DECODE_COMPLETE = 0,   // original_size bytes were produced
    DECODE_CANCELLED = 1,  // decoder.stop_requested was found set
    DECODE_DAMAGED = 2,    // the stream is not valid; at most original_size bytes written
    DECODE_NO_MEMORY = 3,  // no window or input block could be allocated
    DECODE_TRUNCATED = 4   // stored data: the archive ended inside it
};

// One member to decode.  In the stub it is aligned to 4 bytes, as the stub's stack
// is (-mpreferred-stack-boundary=2): aligned to 8, as its sizes would have it, it
// would make the frame that holds it realign the stack.
#ifdef MAVUSFX_STUB_BUILD
#pragma pack(push, 4)
#endif
struct MemberJob {
    uint64_t packed_size;     // bytes of data in the archive
    uint64_t original_size;   // bytes it decodes to
    FILE* archive;            // standing on the member's data
    FILE* output;             // null: decode and check only
    const MethodRow* method;  // its row of METHOD_TABLE
    // 1: read it by the method's older encoders' rule (older_encoders_rule).
    uint8_t older_rule;
};
#ifdef MAVUSFX_STUB_BUILD
#pragma pack(pop)
#endif

// What became of it: the decoding's end and its output's CRC-16, write failure and
// count (MemberOutput).
struct MemberResult {
    DecodeResult result;
    MemberOutput output;
};

// Decodes one member.  A folder row produces nothing.
MemberResult decode_member(const MemberJob& job);

// Starts the decoder's state for a member read from `archive` (standing on its data,
// packed_size bytes) through a window of 2 ** window_bits bytes: the member's part
// of the state cleared (every Huffman code too), then those set.  decode_member
// runs it first; a test that calls a method's operations one by one runs it instead.
void start_member_state(FILE* archive, uint32_t packed_size, uint8_t window_bits,
                        uint8_t older_rule);

// ---- fast path: the methods' fast runs --------------------------------------
//

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
// The body of copy_in_window, as above, and of copy_in_ring (below), which differ
// only in their word copies.  The bytes after the match that each touches:
// WINDOW_COPY_PAST (put back), RING_SLACK (written over).
enum { WINDOW_COPY_PAST = 16, RING_SLACK = 32 };

template <bool IN_RING>
inline void copy_match(uint8_t* bytes, uint32_t position, uint32_t source, uint32_t length) {
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
    uint64_t word;
    if (IN_RING) {
        do {
            memcpy(&word, from + i, 8);
            memcpy(to + i, &word, 8);
            memcpy(&word, from + i + 8, 8);
            memcpy(to + i + 8, &word, 8);
            memcpy(&word, from + i + 16, 8);
            memcpy(to + i + 16, &word, 8);
            memcpy(&word, from + i + 24, 8);
            memcpy(to + i + 24, &word, 8);
            i += 32;
        } while (i < length);
        return;
    }
    uint64_t kept[2];
    static_assert(sizeof kept == WINDOW_COPY_PAST, "the bytes past the match are kept");
    memcpy(kept, to + length, WINDOW_COPY_PAST);
    memcpy(&word, from + i, 8);
    memcpy(to + i, &word, 8);
    memcpy(&word, from + i + 8, 8);
    memcpy(to + i + 8, &word, 8);
    for (i += 16; i < length; i += 8) {
        memcpy(&word, from + i, 8);
        memcpy(to + i, &word, 8);
    }
    memcpy(to + length, kept, WINDOW_COPY_PAST);
}

inline void copy_in_window(uint8_t* bytes, uint32_t position, uint32_t source,
                           uint32_t length) {
    copy_match<false>(bytes, position, source, length);
}

// Fast path of copy_in_window for a ring larger than the window by RING_SLACK
// bytes or more (writing behind gives one): the RING_SLACK bytes after a match are
// then no byte's history, as any later match starts at most a window behind its
// destination, so they may be written over and need not be kept.  It moves at least
// four words and may write up to RING_SLACK bytes past the match.  The caller makes
// sure that both ranges and RING_SLACK bytes after them lie inside the ring.  A
// source one to seven bytes behind or ahead goes as in copy_in_window.

inline void copy_in_ring(uint8_t* bytes, uint32_t position, uint32_t source, uint32_t length) {
    copy_match<true>(bytes, position, source, length);
}

// The window side of a fast run, as the simple loop stores bytes.  A literal goes to
// the write position; a match whose source and destination, with sixteen bytes
// after each, lie inside the window moves with copy_in_window, any other byte by
// byte with the flush.  `bytes` is the run's copy of decoder.window.bytes, taken
// again after a flush (which moves it when writing behind).  Both return false when
// a flush found the member damaged (the run then stops after its symbol).
inline bool put_literal(uint8_t*& bytes, uint32_t mask, uint32_t& position, unsigned byte,
                        FILE* out) {
    bytes[position] = (uint8_t)byte;
    if (++position <= mask) return true;
    flush_full_window(out);
    bytes = decoder.window.bytes;
    position = 0;
    return !decoder.member_damaged;
}

inline bool put_match(uint8_t*& bytes, uint32_t mask, uint32_t& position, uint32_t p,
                      uint32_t length, FILE* out) {
    uint32_t source = (position - p - 1) & mask;
    if ((position > source ? position : source) + length + WINDOW_COPY_PAST <= mask + 1) {
        copy_in_window(bytes, position, source, length);
        position += length;
        return true;
    }
    bool sound = true;
    for (uint32_t i = 0; i < length; i++)
        sound &= put_literal(bytes, mask, position, bytes[(source + i) & mask], out);
    return sound;
}

// Gives the InputBuffer a block for the member's compressed bytes: all of them when
// memory allows, else a block that the bit input refills.  The block starts used up,
// so the first byte taken reads it.  False when no block was given.
bool buffer_member_input(uint32_t packed_size);
