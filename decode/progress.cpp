#include "decode/progress.h"

#include "decode/decoder_state.h"
#include "platform/reports.h"

static Progress& progress = decoder.progress;

/* The unit is the smallest power of two that brings the total within 32 bits.  A
 * member's count in units is rounded down, so the sums never pass the total. */
void start_progress(uint64_t total) {
    uint8_t shift = 0;
    while (total > UINT32_MAX) {
        total >>= 1;
        shift++;
    }
    progress.total = (uint32_t)total;
    progress.shift = shift;
    progress.done = 0;
    progress.last_percent = 0;
}

void progress_pass_member(MemberSize original_size) {
    progress.done += (uint32_t)(original_size >> progress.shift);
}

/* The percentage is exact up to a total of 1000 bytes; above, the divisor is the
 * total / 100 rounded down, so the last value can exceed 100 (a total of 1099 gives
 * 109), which the bar shows as full.  Position 0 is never sent: the last value
 * starts at 0. */
void update_progress(MemberSize member_done) {
    if (progress.total == 0) return;
    uint32_t done = progress.done + (uint32_t)(member_done >> progress.shift);
    uint32_t percent =
        progress.total <= 1000 ? done * 100 / progress.total : done / (progress.total / 100);
    if (percent == progress.last_percent) return;
    progress.last_percent = percent;
    platform_report_progress(percent);
}

/* The percentage of member_done' bytes equals the last one sent for every
 * member_done' from member_done up to the first whose units reach the next
 * multiple of the divisor, or up to where the 32-bit sum wraps and the percentage
 * falls back, whichever is first.  Exact percentages (a total up to 1000) and a
 * position still to be sent are looked at after every symbol. */
static MemberSize quiet_until(MemberSize member_done) {
    const MemberSize never = (MemberSize)-1;
    if (progress.total == 0) return never;
    if (progress.total <= 1000) return member_done;
    uint32_t divisor = progress.total / 100;
    uint32_t units = (uint32_t)(member_done >> progress.shift);
    uint32_t done = progress.done + units;
    if (done / divisor != progress.last_percent) return member_done;
    uint64_t next = ((uint64_t)(done / divisor) + 1) * divisor;
    if (next > 0x100000000u) next = 0x100000000u;
    uint64_t units_until = units + (next - done);
    if (units_until > (uint64_t)(never >> progress.shift)) return never;
    return (MemberSize)(units_until << progress.shift);
}

/* A bounded run (decoder.output_limit) also ends a quiet stretch at its bound, so
 * that the simple loop and the fast runs stop at the same symbol there. */
MemberSize progress_quiet_until(MemberSize member_done) {
    MemberSize until = quiet_until(member_done);
#ifndef MAVUSFX_STUB_BUILD
    const MemberSize limit = decoder.output_limit;
    if (limit != 0 && until > limit) until = limit > member_done ? limit : member_done;
#endif
    return until;
}
