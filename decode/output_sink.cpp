#include "decode/output_sink.h"

#include <errno.h>

#include "decode/crc16.h"
#include "platform/reports.h"

OutputSink output_sink;

uint32_t write_output(const uint8_t* bytes, uint32_t length, FILE* out) {
    output_sink.crc = crc16(output_sink.crc, bytes, length);
    if (out == nullptr) return length;
    uint32_t written = (uint32_t)fwrite(bytes, 1, length, out);
    if (written != length) {
        output_sink.write_failed = true;
#ifndef MAVUSFX_STUB_BUILD
        output_sink.write_error = errno;
#endif
    }
    return written;
}

void start_progress(uint32_t total) {
    output_sink.progress_total = total;
    output_sink.progress_done = 0;
    output_sink.progress_last_percent = 0;
}

/* The percentage is exact up to a total of 1000 bytes; above, the divisor is the
 * total / 100 rounded down, so the last value can exceed 100 (a total of 1099 gives
 * 109), which the bar shows as full.  Position 0 is never sent: the last value
 * starts at 0. */
void update_progress(uint32_t member_done) {
    if (output_sink.progress_total == 0) return;
    uint32_t done = output_sink.progress_done + member_done;
    uint32_t percent = output_sink.progress_total <= 1000 ? done * 100 / output_sink.progress_total
                                                   : done / (output_sink.progress_total / 100);
    if (percent == output_sink.progress_last_percent) return;
    output_sink.progress_last_percent = percent;
    platform_report_progress(percent);
}

/* The percentage of member_done' bytes equals the last one sent for every
 * member_done' from member_done up to the next multiple of the divisor, or up to
 * where the 32-bit sum wraps and the percentage falls back, whichever is first.
 * Exact percentages (a total up to 1000) and a position still to be sent are
 * looked at after every symbol. */
uint32_t progress_quiet_until(uint32_t member_done) {
    if (output_sink.progress_total == 0) return UINT32_MAX;
    if (output_sink.progress_total <= 1000) return member_done;
    uint32_t divisor = output_sink.progress_total / 100;
    uint32_t done = output_sink.progress_done + member_done;
    if (done / divisor != output_sink.progress_last_percent) return member_done;
    uint64_t next = ((uint64_t)(done / divisor) + 1) * divisor;
    if (next > 0x100000000u) next = 0x100000000u;
    uint64_t until = member_done + (next - done);
    return until > UINT32_MAX ? UINT32_MAX : (uint32_t)until;
}
