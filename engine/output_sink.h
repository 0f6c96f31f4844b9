// The output side of a member: CRC-16/ARC over every byte written, the write-
// through of the decode window, the progress arithmetic and the stored copy.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "frontend/run_record.h"

enum { COPY_BLOCK_SIZE = 2048 };

extern uint16_t crc_table[256];
extern uint16_t running_crc;
extern uint32_t progress_total;         // sum of all original sizes
extern uint32_t progress_done;          // sum over the members already passed
extern uint32_t progress_last_percent;  // last position sent, 0 at start
extern void* progress_bar;              // the progress bar control (stub only)
// Set when a write to the output failed during the current member.
extern bool output_write_failed;

void make_crc_table();
void update_crc(const uint8_t* bytes, uint32_t length);

// Folds `bytes` into running_crc, then writes them to `out` (a null `out` discards
// them, for testing an archive).  Returns the count written.
uint32_t write_output(const uint8_t* bytes, uint32_t length, FILE* out);

// Sends a new progress position when the percentage for `member_done` bytes of the
// current member differs from the last one sent.
void update_progress(uint32_t member_done);
// The count of the current member's bytes below which update_progress sends
// nothing, from member_done on: a fast path calls it only once that count is
// reached.  Never above the true point; UINT32_MAX when nothing is ever sent.
uint32_t progress_quiet_until(uint32_t member_done);

enum CopyResult { COPY_COMPLETE, COPY_CANCELLED, COPY_TRUNCATED, COPY_NO_MEMORY };

// Copies `count` bytes of stored member data from app->archive_file to `out` in
// blocks of COPY_BLOCK_SIZE, keeping the CRC and the progress.  A short read ends
// the copy as truncated.
CopyResult copy_stored(SfxApp* app, FILE* out, uint32_t count);
