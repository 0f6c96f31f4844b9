#include "decode/decode_driver.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "decode/bit_input.h"
#include "decode/member_output.h"
#include "decode/window_copy.h"
#ifndef MAVUSFX_NO_WRITE_BEHIND
#include "decode/write_behind.h"
#endif

DecoderState decoder;

// The member being decoded, as the driver's loop sees it.
struct DecodeJob {
    uint32_t window_size;  // 2 ** the row's window bits
    ReadSymbolFn read_symbol;
    ReadPositionFn read_position;
    FILE* output_file;  // null: decode and check only
    MemberSize original_size;
};

static void release_member_buffers() {
    free(decoder.window.bytes);
    decoder.window.bytes = nullptr;
#ifndef MAVUSFX_NO_WRITE_BEHIND
    free(decoder.window.spare);
    decoder.window.spare = nullptr;
#endif
    free(decoder.input.data);
    decoder.input.data = nullptr;
}

#ifndef MAVUSFX_NO_WRITE_BEHIND
/* Fast path, writing behind: the full buffer goes to the writer and the decoder
 * goes on in the spare one, once the writer is done with it.  The last window's
 * worth of the full buffer is copied to the same place in the spare first: every
 * match source lies at most that far behind the write position, so from the spare
 * one it reads what the ring of one buffer would have held.  A writer that cannot
 * be had leaves the buffer to be written in turn, and the ring stays as it is. */
static bool pass_window_behind(FILE* out) {
    uint8_t* const full = decoder.window.bytes;
    const uint32_t size = decoder.window.mask + 1;
    if (!write_behind(full, size, out)) return false;
    const uint32_t history = 1u << decoder.dictionary_bits;
    memcpy(decoder.window.spare + size - history, full + size - history, history);
    decoder.window.bytes = decoder.window.spare;
    decoder.window.spare = full;
    return true;
}
#endif

void flush_full_window(FILE* out) {
#ifndef MAVUSFX_NO_WRITE_BEHIND
    if (decoder.window.spare == nullptr || !pass_window_behind(out))
#endif
        write_output(decoder.window.bytes, decoder.window.mask + 1, out);
    if (input_overrun()) decoder.member_damaged = true;
}

/* Advance: one byte was stored at window_position.  A full window is written whole
 * and writing starts again at 0; a match that is being copied is not disturbed, as
 * the window's content stays and its source index goes on modulo the window size.
 * Each full window is also the point where a stream that has run past its packed
 * data is caught, so damaged input cannot keep producing output. */
static inline void advance(uint32_t window_size, FILE* out) {
    if (++decoder.window.window_position == window_size) {
        flush_full_window(out);
        decoder.window.window_position = 0;
    }
}

/* One symbol, the simple way and the reference for every fast run: a literal goes
 * into the window; a match reads its position and is copied a byte at a time, each
 * source index modulo the window size, so that a source overlapping the bytes being
 * written repeats them. */
static void decode_symbol(DecodeJob* job, unsigned match_code_base) {
    const uint32_t window_size = job->window_size;
    const uint32_t mask = window_size - 1;
    unsigned symbol = job->read_symbol();
    if (symbol <= 255) {
        decoder.window.bytes[decoder.window.window_position] = (uint8_t)symbol;
        advance(window_size, job->output_file);
        decoder.decoded_count++;
        return;
    }
    uint32_t length = symbol - match_code_base;
    uint32_t p = job->read_position();
    // A last match that would carry the output past the member's size is cut
    // there: the output is exactly the member, and its CRC-16 tells whether the
    // stream was sound.
    const MemberSize left = job->original_size - decoder.decoded_count;
    if (length > left) length = (uint32_t)left;
    decoder.decoded_count += length;
    uint32_t source = (decoder.window.window_position - p - 1) & mask;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t* const bytes = decoder.window.bytes;
        bytes[decoder.window.window_position] = bytes[(source + i) & mask];
        advance(window_size, job->output_file);
    }
}

/* Stored data: each block read, written, CRC, progress, cancel check, in this
 * order.  A short read ends the copy as truncated, keeping what arrived. */
static DecodeResult copy_stored(FILE* archive, FILE* out, MemberSize count) {
    uint8_t* const buffer = decoder.stored_block;
    MemberSize copied = 0;
    DecodeResult result = DECODE_COMPLETE;
    while (count > 0) {
        uint32_t n = count < COPY_BLOCK_SIZE ? (uint32_t)count : (uint32_t)COPY_BLOCK_SIZE;
        uint32_t got = (uint32_t)fread(buffer, 1, n, archive);
        write_output(buffer, got, out);
        if (got < n) {
            result = DECODE_TRUNCATED;
            break;
        }
        copied += n;
        count -= n;
        update_progress(copied);
        // A stop after the last block leaves the data complete.
        if (decoder.stop_requested && count > 0) {
            result = DECODE_CANCELLED;
            break;
        }
    }
    return result;
}

/* Nothing of an earlier member is left: every field of the member's part up to
 * `cleared_to` is 0 (no window, no input block, nothing decoded or written, not
 * damaged) and so is every Huffman code, so a block that sends no lengths finds
 * empty tables rather than another member's.  The run's part, in front of it,
 * stays. */
static void start_member_part(FILE* archive, MemberSize packed_size, uint8_t window_bits,
                              uint8_t older_rule, size_t cleared_to) {
    const size_t run_part = offsetof(DecoderState, window);
    memset((char*)&decoder + run_part, 0, cleared_to - run_part);
    decoder.input_file = archive;
    decoder.bits.packed_bytes_left = packed_size;
    decoder.dictionary_bits = window_bits;
    decoder.older_encoders_rule = older_rule;
    decoder.window.mask = (1u << window_bits) - 1;
}

void start_member_state(FILE* archive, MemberSize packed_size, uint8_t window_bits,
                        uint8_t older_rule) {
    start_member_part(archive, packed_size, window_bits, older_rule, sizeof decoder);
}

#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
/* Fast path: the block codes' fast tables are derived whole from each block's codes
 * before the fast run reads them, so a member of theirs starts with the method's
 * state cleared up to them, and the 10 KiB of tables are left as they are. */
static size_t member_part_cleared(const MethodRow& row) {
    return row.family->begin_member == begin_block_method ? offsetof(DecoderState, block.char_fast)
                                                          : sizeof decoder;
}
#endif

/* Coded data: the window starts as spaces; a window that cannot be had ends the
 * member as out of memory, as an input block that cannot be had does. */
static DecodeResult decode_coded(FILE* archive, FILE* out, const MethodRow& row,
                                 MemberSize packed_size, MemberSize original_size,
                                 uint8_t older_rule) {
#ifdef MAVUSFX_NO_BLOCK_FAST_RUN
    start_member_state(archive, packed_size, row.window_bits, older_rule);
#else
    start_member_part(archive, packed_size, row.window_bits, older_rule, member_part_cleared(row));
#endif

    DecodeJob job;
    job.window_size = 1u << row.window_bits;
    const MethodFamily& family = *row.family;
    job.read_symbol = family.read_symbol;
    job.read_position = family.read_position;
    job.output_file = out;
    job.original_size = original_size;
#ifndef MAVUSFX_NO_WRITE_BEHIND
    /* Fast path: a member larger than the ring is written behind, where a larger
     * ring decodes alike.  Both buffers are the ring's size, and the first starts
     * as spaces, as the window does. */
    const uint32_t ring = write_behind_ring();
    if (!decoder.writes_in_turn && row.matches_within_window && original_size > ring &&
        job.window_size <= ring / 2) {
        decoder.window.bytes = (uint8_t*)malloc(ring);
        decoder.window.spare = (uint8_t*)malloc(ring);
        if (decoder.window.bytes == nullptr || decoder.window.spare == nullptr) {
            release_member_buffers();
        } else {
            job.window_size = ring;
            decoder.window.mask = ring - 1;
        }
    }
    if (decoder.window.bytes == nullptr)
#endif
        decoder.window.bytes = (uint8_t*)malloc(job.window_size);
    if (decoder.window.bytes == nullptr || !buffer_member_input(packed_size)) {
        release_member_buffers();
        return DECODE_NO_MEMORY;
    }
    memset(decoder.window.bytes, ' ', job.window_size);
    family.begin_member();


    // Each turn decodes one symbol, or a fast run of them, and then reports the
    // progress and checks for a cancel.  Fast path: update_progress is called only
    // once the count reaches the point where it may send something; below it the
    // call would change nothing.
#ifdef MAVUSFX_NO_FAST_RUNS
    const FastRunFn fast_run = nullptr;
#else
    const FastRunFn fast_run = decoder.simple_loop_only ? nullptr : family.fast_run;
#endif
    const unsigned match_base = row.match_base;
    MemberSize quiet_until = 0;
    DecodeResult result = DECODE_COMPLETE;
    while (decoder.decoded_count < original_size && !decoder.member_damaged) {
        if (fast_run == nullptr || fast_run(original_size, out) == 0)
            decode_symbol(&job, match_base);
#ifdef MAVUSFX_NO_QUIET_PROGRESS
        (void)quiet_until;
        update_progress(decoder.decoded_count);
#else
        if (decoder.decoded_count >= quiet_until) {
            update_progress(decoder.decoded_count);
            quiet_until = progress_quiet_until(decoder.decoded_count);
#ifndef MAVUSFX_STUB_BUILD
            // A bounded run ends the member at its bound, where the quiet stretch ends.
            if (decoder.output_limit != 0 && decoder.decoded_count >= decoder.output_limit &&
                decoder.decoded_count < original_size)
                decoder.member_damaged = true;
#endif
        }
#endif
        // A stop after the last symbol leaves the member complete.
        if (decoder.stop_requested && decoder.decoded_count < original_size) {
            result = DECODE_CANCELLED;
            break;
        }
    }
#ifndef MAVUSFX_NO_WRITE_BEHIND
    // Everything handed to the writer is in the file and the CRC before the rest.
    if (decoder.window.spare != nullptr) write_behind_wait();
#endif
    if (result != DECODE_CANCELLED) {
        if (decoder.member_damaged || input_overrun()) result = DECODE_DAMAGED;
        if (decoder.window.window_position != 0)
            write_output(decoder.window.bytes, decoder.window.window_position, out);
    }
    release_member_buffers();
    return result;
}

/* Stored data is the member's own bytes: a count beyond them would copy the next
 * member's header into this file, so the copy stops there and the member is
 * damaged. */
MemberResult decode_member(const MemberJob& job) {
    const MethodRow& method = *job.method;
    const MemberSize packed_size = job.packed_size;
    const MemberSize original_size = job.original_size;
    decoder.output = MemberOutput();
    DecodeResult result = DECODE_COMPLETE;
    if (method.kind == METHOD_CODED) {
        result = decode_coded(job.archive, job.output, method, packed_size, original_size,
                              job.older_rule);
    } else if (method.kind == METHOD_STORED) {
        MemberSize count = original_size < packed_size ? original_size : packed_size;
        result = copy_stored(job.archive, job.output, count);
        if (result == DECODE_COMPLETE && count < original_size) result = DECODE_DAMAGED;
    }
    return MemberResult{result, decoder.output};
}
