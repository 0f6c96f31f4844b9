// The decode driver: one member's data from the archive to its output, by the kind
// of its method row.  Stored data is copied; coded data runs through the sliding
// window with the row's family's three operations, whole windows written through
// write_output (member_output.h).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/decoder_state.h"
#include "decode/method_table.h"

enum DecodeResult {
    DECODE_COMPLETE = 0,   // original_size bytes were produced
    DECODE_CANCELLED = 1,  // decoder.stop_requested was found set
    DECODE_DAMAGED = 2,    // the stream is not valid; at most original_size bytes written
    DECODE_NO_MEMORY = 3,  // no window or input block could be allocated
    DECODE_TRUNCATED = 4   // stored data: the archive ended inside it
};

// One member to decode.
struct MemberJob {
    MemberSize packed_size;    // bytes of data in the archive
    MemberSize original_size;  // bytes it decodes to
    FILE* archive;             // standing on the member's data
    FILE* output;              // null: decode and check only
    const MethodRow* method;   // its row of METHOD_TABLE
    // 1: read it by the method's older encoders' rule (older_encoders_rule).
    uint8_t older_rule;
};

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
void start_member_state(FILE* archive, MemberSize packed_size, uint8_t window_bits,
                        uint8_t older_rule);
