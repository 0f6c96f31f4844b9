#include "decode/progress.h"

#include "decode/decoder_state.h"
#include "platform/reports.h"

static Progress& progress = decoder.progress;

void start_progress(uint32_t total) {
    progress.total = total;
    progress.done = 0;
    progress.last_percent = 0;
}

void progress_pass_member(uint32_t original_size) { progress.done += original_size; }

/* The percentage is exact up to a total of 1000 bytes; above, the divisor is the
 * total / 100 rounded down, so the last value can exceed 100 (a total of 1099 gives
 * 109), which the bar shows as full.  Position 0 is never sent: the last value
 * starts at 0. */
void update_progress(uint32_t member_done) {
    if (progress.total == 0) return;
    uint32_t done = progress.done + member_done;
    uint32_t percent =
        progress.total <= 1000 ? done * 100 / progress.total : done / (progress.total / 100);
    if (percent == progress.last_percent) return;
    progress.last_percent = percent;
    platform_report_progress(percent);
}

/* The percentage of member_done' bytes equals the last one sent for every
 * member_done' from member_done up to the next multiple of the divisor, or up to
 * where the 32-bit sum wraps and the percentage falls back, whichever is first.
 * Exact percentages (a total up to 1000) and a position still to be sent are
 * looked at after every symbol. */
uint32_t progress_quiet_until(uint32_t member_done) {
    if (progress.total == 0) return UINT32_MAX;
    if (progress.total <= 1000) return member_done;
    uint32_t divisor = progress.total / 100;
    uint32_t done = progress.done + member_done;
    if (done / divisor != progress.last_percent) return member_done;
    uint64_t next = ((uint64_t)(done / divisor) + 1) * divisor;
    if (next > 0x100000000u) next = 0x100000000u;
    uint64_t until = member_done + (next - done);
    return until > UINT32_MAX ? UINT32_MAX : (uint32_t)until;
}
