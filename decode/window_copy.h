// The window side of the fast runs: the match copies that move a word at a time
// instead of a byte, and the literal and match stores with the flush that the fast
// runs share with the driver's simple loop (decode_driver.cpp).  The margins each
// copy needs past a match are named here, and the callers leave them.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "decode/decoder_state.h"

// Writes the whole window through write_output, the point where a stream that ran
// past its packed data is caught.  The caller starts the window again at 0.
void flush_full_window(FILE* out);

// Fast path of the match copy: the bytes of [source, source + length) go to
// [position, position + length) in order, exactly as the byte loop copies them.
// The caller makes sure that both ranges and WINDOW_COPY_PAST bytes after them lie
// inside the window, so nothing wraps and no flush falls inside.  It moves eight
// bytes at a time, at least two words, and may write up to WINDOW_COPY_PAST bytes
// past the match: those bytes still belong to the window's history, so they are
// kept beforehand and put back.
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
enum {
    COPY_WORD = 8,                     // bytes moved at once
    WINDOW_COPY_PAST = 2 * COPY_WORD,  // copy_in_window: the first two words
    RING_SLACK = 4 * COPY_WORD         // copy_in_ring: four words a step
};

template <bool IN_RING>
inline void copy_match(uint8_t* bytes, uint32_t position, uint32_t source, uint32_t length) {
    uint8_t* to = bytes + position;
    const uint8_t* from = bytes + source;
    const uint32_t behind = position - source;  // wraps round when the source is ahead
    uint32_t i = 0;
    if (behind - COPY_WORD > 0xFFFFFFFFu - (2 * COPY_WORD - 1)) {  // less than a word apart
        if (behind == 0) return;
        if (source > position) {
            for (; i < length; i++) to[i] = from[i];
            return;
        }
        uint32_t period = behind;
        while (period < COPY_WORD) period += behind;
        for (; i < period && i < length; i++) to[i] = from[i];
        if (i >= length) return;
        from = to - period;
    }
    uint64_t word;
    static_assert(sizeof word == COPY_WORD, "a word is what each copy moves");
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
            i += RING_SLACK;
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
    for (i += WINDOW_COPY_PAST; i < length; i += COPY_WORD) {
        memcpy(&word, from + i, 8);
        memcpy(to + i, &word, 8);
    }
    memcpy(to + length, kept, WINDOW_COPY_PAST);
}

inline void copy_in_window(uint8_t* bytes, uint32_t position, uint32_t source, uint32_t length) {
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
// the write position; a match whose source and destination, with WINDOW_COPY_PAST
// bytes after each, lie inside the window moves with copy_in_window, any other byte by
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
