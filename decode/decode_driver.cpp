#include "decode/decode_driver.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "decode/bit_input.h"
#include "decode/methods.h"
#include "engine/extraction_loop.h"
#include "engine/output_sink.h"
#include "platform/platform.h"

/* The stub is built without the fast runs: the simple loop decodes alike. */
#ifdef MAVUSFX_NO_BLOCK_FAST_RUN
#define BLOCK_FAST_RUN nullptr
#else
#define BLOCK_FAST_RUN run_block_symbols
#endif
#ifdef MAVUSFX_NO_LH1_FAST_RUN
#define LH1_FAST_RUN nullptr
#else
#define LH1_FAST_RUN run_lh1_symbols
#endif

const DecodeMethod DECODE_METHODS[10] = {
    {nullptr, nullptr, nullptr, nullptr},
    {read_adaptive_symbol, read_static_position, begin_lh1, LH1_FAST_RUN},          // -lh1-
    {read_adaptive_symbol, read_adaptive_position, begin_lh2, nullptr},             // -lh2-
    {read_lh3_symbol, read_static_position, begin_lh3, nullptr},                    // -lh3-
    {read_block_symbol, read_block_position, begin_block_method, BLOCK_FAST_RUN},  // -lh4-
    {read_block_symbol, read_block_position, begin_block_method, BLOCK_FAST_RUN},  // -lh5-
    {read_block_symbol, read_block_position, begin_block_method, BLOCK_FAST_RUN},  // -lh6-
    {read_block_symbol, read_block_position, begin_block_method, BLOCK_FAST_RUN},  // -lh7-
    {read_lzs_symbol, read_lzs_position, begin_lzs, nullptr},                       // -lzs-
    {read_lz5_symbol, read_lz5_position, begin_lz5, nullptr},                       // -lz5-
};

SlidingWindow window;
uint16_t dictionary_bits;
uint32_t decoded_count;
bool member_damaged;

enum { INPUT_BLOCK_SIZE = 64 * 1024, FALLBACK_INPUT_SIZE = 16384 };

/* buffer_member_input: the block is the whole packed size up to INPUT_BLOCK_SIZE and
 * to the available physical memory; a larger member is refilled by fetch_input_byte
 * as the block runs empty.  Decoding runs from memory either way.  The cap is for
 * speed: every page of a fresh block costs a fault when the read first touches it,
 * and a block that is refilled in place pays that only once (reading a 4 MiB member
 * whole took about a third of its decoding time in faults).  A failed allocation
 * falls back to 16 KiB.  Bytes the file could not deliver are zero. */
bool buffer_member_input(uint32_t packed_size) {
    uint32_t size = packed_size < INPUT_BLOCK_SIZE ? packed_size : (uint32_t)INPUT_BLOCK_SIZE;
    uint32_t available = platform_available_memory();
    if (available != 0 && size > available) size = available;
    if (size == 0) size = 1;  // keeps the block a valid allocation; never refilled
    input.data = (uint8_t*)malloc(size);
    if (input.data == nullptr) {
        size = FALLBACK_INPUT_SIZE;
        input.data = (uint8_t*)malloc(size);
        if (input.data == nullptr) return false;
    }
    input.size = size;
    input.read_index = 0;
    size_t got = fread(input.data, 1, size, input_file);
    if (got < size) memset(input.data + got, 0, size - got);
    return true;
}

static void release_member_buffers() {
    free(window.bytes);
    window.bytes = nullptr;
    free(input.data);
    input.data = nullptr;
}

void flush_full_window(FILE* out) {
    write_output(window.bytes, window.mask + 1, out);
    if (input_overrun()) member_damaged = true;
}

/* Advance: one byte was stored at window_position.  A full window is written whole
 * and writing starts again at 0; a match that is being copied is not disturbed, as
 * the window's content stays and its source index goes on modulo the window size.
 * Each full window is also the point where a stream that has run past its packed
 * data is caught, so damaged input cannot keep producing output. */
static inline void advance(uint32_t window_size, FILE* out) {
    if (++window.window_position == window_size) {
        flush_full_window(out);
        window.window_position = 0;
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
        window.bytes[window.window_position] = (uint8_t)symbol;
        advance(window_size, job->output_file);
        decoded_count++;
        return;
    }
    uint32_t length = symbol - match_code_base;
    uint32_t p = job->read_position();
    // A last match that would carry the output past the member's size belongs to
    // no valid stream: cut it there and end as damaged.
    if (length > job->original_size - decoded_count) {
        length = job->original_size - decoded_count;
        member_damaged = true;
    }
    decoded_count += length;
    uint32_t source = (window.window_position - p - 1) & mask;
    for (uint32_t i = 0; i < length; i++) {
        window.bytes[window.window_position] = window.bytes[(source + i) & mask];
        advance(window_size, job->output_file);
    }
}

bool fast_runs_enabled = true;

DecodeResult decode_member(DecodeJob* job) {
    return decode_with_method(job, DECODE_METHODS[job->method_index]);
}

DecodeResult decode_with_method(DecodeJob* job, const DecodeMethod& row) {
    input_file = job->archive_file;
    bits = BitReader();
    bits.packed_bytes_left = job->packed_size;
    dictionary_bits = job->dictionary_bits;
    member_damaged = false;

    job->read_symbol = row.read_symbol;
    job->read_position = row.read_position;
    job->begin_member = row.begin_member;
    running_crc = 0;

    job->window_size = 1u << job->dictionary_bits;
    window.bytes = (uint8_t*)malloc(job->window_size);
    if (window.bytes == nullptr) exit(errno != 0 ? errno : ENOMEM);
    memset(window.bytes, ' ', job->window_size);
    if (!buffer_member_input(job->packed_size)) {
        release_member_buffers();
        return DECODE_NO_MEMORY;
    }
    job->begin_member();

    const uint32_t mask = job->window_size - 1;
    const unsigned match_code_base = job->method_index == METHOD_LZS ? 254 : 253;
    decoded_count = 0;
    window.window_position = 0;
    window.mask = mask;

    // Each turn decodes one symbol, or a fast run of them, and then reports the
    // progress and checks for a cancel.  Fast path: update_progress is called only
    // once the count reaches the point where it may send something; below it the
    // call would change nothing.
    const FastRunFn fast_run = fast_runs_enabled ? row.fast_run : nullptr;
    uint32_t quiet_until = 0;
    DecodeResult result = DECODE_COMPLETE;
    while (decoded_count < job->original_size && !member_damaged) {
        if (fast_run == nullptr || fast_run(job->original_size, job->output_file) == 0)
            decode_symbol(job, match_code_base);
#ifdef MAVUSFX_NO_QUIET_PROGRESS
        (void)quiet_until;
        update_progress(decoded_count);
#else
        if (decoded_count >= quiet_until) {
            update_progress(decoded_count);
            quiet_until = progress_quiet_until(decoded_count);
        }
#endif
        // A stop after the last symbol leaves the member complete.
        if (run_flag == 0 && decoded_count < job->original_size) {
            release_member_buffers();
            return DECODE_CANCELLED;
        }
    }
    if (member_damaged || input_overrun()) result = DECODE_DAMAGED;
    if (window.window_position != 0)
        write_output(window.bytes, window.window_position, job->output_file);
    release_member_buffers();
    return result;
}
