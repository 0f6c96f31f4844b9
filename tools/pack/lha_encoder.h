// The encoder of "-lh5-", "-lh6-" and "-lh7-": LZ77 over the method's window with
// hash chains and lazy matching, coded in blocks of static Huffman codes that the
// block decoder reads.
#pragma once

#include <stdint.h>
#include <stdio.h>

enum EncodeOutcome {
    ENCODED,              // the output is smaller than the input
    ENCODE_NOT_SMALLER,   // gave up: the output reached the input's size
    ENCODE_READ_ERROR,
    ENCODE_WRITE_ERROR,
    ENCODE_TOO_LARGE,     // 4 GiB or more: beyond the format's 32-bit sizes
    ENCODE_NO_MEMORY
};

// Called after every chunk of input with the bytes read so far.
struct EncodeProgress {
    void (*advance)(void* context, uint64_t bytes_read);
    void* context;
};

struct EncodedMember {
    uint32_t original_size;
    uint32_t packed_size;
    uint16_t crc;          // CRC-16 of the input
};

// How hard the match finder works; the defaults are what `mavusfx pack` uses.
struct MatchEffort {
    unsigned max_chain;       // candidates looked at per position
    unsigned good_length;     // a previous match this long: look at a quarter of them
    unsigned nice_length;     // a match this long ends the search
    unsigned max_lazy;        // a previous match this long is taken without a look ahead
    unsigned far_three;       // 3-byte matches farther than this are not worth a position
    unsigned segment_symbols; // blocks are cut at multiples of this many symbols (256 or more)
    unsigned max_block_symbols;    // no block is longer (at most 65535)
    unsigned block_overhead_bits;  // what the cut reckons a block's tables cost, beyond the lengths
};
extern const MatchEffort DEFAULT_EFFORT;

// Reads `in` to its end and writes the compressed data to `out`.  dictionary_bits
// is 13, 15 or 16 ("-lh5-", "-lh6-", "-lh7-").  As soon as the output reaches
// `give_up_at` bytes (or at the end, when it is not smaller than the input) the
// result is ENCODE_NOT_SMALLER and the bytes written to `out` are to be discarded.
// `progress` may be null.
EncodeOutcome encode_member(FILE* in, FILE* out, unsigned dictionary_bits, uint64_t give_up_at,
                            const EncodeProgress* progress, EncodedMember* result,
                            const MatchEffort* effort = &DEFAULT_EFFORT);
