// The run's progress arithmetic: the percentage of all members' bytes decoded so
// far, sent to the platform's report whenever it changes.
#pragma once

#include <stdint.h>

// Kept in decoder.progress, from one member to the next.
struct Progress {
    uint32_t total;         // sum of all original sizes
    uint32_t done;          // sum over the members already passed
    uint32_t last_percent;  // last position sent, 0 at start
};

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
// The current member, of `original_size` bytes, is passed: the next one's bytes
// count from there.
void progress_pass_member(uint32_t original_size);
