// Where a member's bytes go: the output file, the CRC-16 over every byte written,
// the write error, and the progress arithmetic over the whole run.  One instance,
// serving one member at a time.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct OutputSink {
    uint16_t crc;                    // CRC-16 of the current member's bytes so far
    bool write_failed;               // a write failed during the current member
#ifndef MAVUSFX_STUB_BUILD
    int write_error;                 // errno of that write, for the host tool's message
#endif
    uint32_t progress_total;         // sum of all original sizes
    uint32_t progress_done;          // sum over the members already passed
    uint32_t progress_last_percent;  // last position sent, 0 at start
};
extern OutputSink output_sink;

// Folds `bytes` into output_sink.crc, then writes them to `out` (a null `out` discards
// them, for testing an archive).  Returns the count written.
uint32_t write_output(const uint8_t* bytes, uint32_t length, FILE* out);

// Starts the run's progress over `total` bytes (0: none is sent): nothing passed,
// nothing sent yet.
void start_progress(uint32_t total);
// Sends a new progress position when the percentage for `member_done` bytes of the
// current member differs from the last one sent.
void update_progress(uint32_t member_done);
// The count of the current member's bytes below which update_progress sends
// nothing, from member_done on: a fast path calls it only once that count is
// reached.  Never above the true point; UINT32_MAX when nothing is ever sent.
uint32_t progress_quiet_until(uint32_t member_done);
