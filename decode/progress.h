// The run's progress arithmetic: the percentage of all members' bytes decoded so
// far, sent to the platform's report whenever it changes.
#pragma once

#include <stdint.h>

#include "decode/member_size.h"

// Kept in decoder.progress, from one member to the next.  A run of more than 4 GiB
// counts in units of 2 ** shift bytes, so that its sums stay in 32 bits.
struct Progress {
    uint32_t total;         // sum of all original sizes, in units
    uint32_t done;          // sum over the members already passed, in units
    uint32_t last_percent;  // last position sent, 0 at start
    uint8_t shift;          // bytes to units: shifted right this far
};

// Starts the run's progress over `total` bytes (0: none is sent): nothing passed,
// nothing sent yet.
void start_progress(uint64_t total);
// Sends a new progress position when the percentage for `member_done` bytes of the
// current member differs from the last one sent.
void update_progress(MemberSize member_done);
// The count of the current member's bytes below which update_progress sends
// nothing, from member_done on: a fast path calls it only once that count is
// reached.  Never above the true point, nor above a bounded run's limit
// (decoder.output_limit); the largest count when nothing is ever sent.
MemberSize progress_quiet_until(MemberSize member_done);
// The current member, of `original_size` bytes, is passed: the next one's bytes
// count from there.
void progress_pass_member(MemberSize original_size);
