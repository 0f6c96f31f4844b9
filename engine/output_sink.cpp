#include "engine/output_sink.h"

#include <stdlib.h>

#include "engine/extraction_loop.h"
#include "platform/platform.h"

uint16_t crc_table[256];
uint16_t running_crc;
uint32_t progress_total;
uint32_t progress_done;
uint32_t progress_last_percent;
void* progress_bar;
bool output_write_failed;

/* CRC-16/ARC: polynomial 0x8005 bit-reversed (0xA001), initial 0, reflected, no
 * final XOR.  Check value over "123456789": 0xBB3D.
 *
 * Fast path, slicing by sixteen: crc_slices[k - 1][x] is what byte x contributes
 * when k zero bytes follow it (crc_table being k = 0), so sixteen bytes fold in
 * with sixteen independent lookups instead of a chain of sixteen.  The 16-bit
 * register reaches into the first two bytes only; the other fourteen lookups do
 * not wait for it.  The slices are computed at run time, not stored in the
 * program. */
#ifndef MAVUSFX_NO_CRC_SLICES
enum { CRC_SLICES = 16 };
static uint16_t crc_slices[CRC_SLICES - 1][256];
#endif

void make_crc_table() {
    for (unsigned i = 0; i < 256; i++) {
        unsigned r = i;
        for (int k = 0; k < 8; k++) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
        crc_table[i] = (uint16_t)r;
    }
#ifndef MAVUSFX_NO_CRC_SLICES
    for (unsigned i = 0; i < 256; i++) {
        unsigned r = crc_table[i];
        for (int k = 0; k < CRC_SLICES - 1; k++) {
            r = (r >> 8) ^ crc_table[r & 0xFF];
            crc_slices[k][i] = (uint16_t)r;
        }
    }
#endif
}

#ifndef MAVUSFX_NO_CRC_SLICES

// Four bytes, the first in the low bits: a single load on a little-endian machine.
static inline uint32_t four_bytes(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// What the four bytes in `word` contribute when `after` zero bytes follow them.
static inline unsigned slice_four(uint32_t word, int after) {
    return crc_slices[after + 2][word & 0xFF] ^ crc_slices[after + 1][(word >> 8) & 0xFF] ^
           crc_slices[after][(word >> 16) & 0xFF] ^
           (after == 0 ? crc_table[word >> 24] : crc_slices[after - 1][word >> 24]);
}

#endif

void update_crc(const uint8_t* bytes, uint32_t length) {
    unsigned crc = running_crc;
#ifndef MAVUSFX_NO_CRC_SLICES
    for (; length >= CRC_SLICES; bytes += CRC_SLICES, length -= CRC_SLICES) {
        uint32_t first = four_bytes(bytes);
        unsigned rest = crc_slices[12][(first >> 16) & 0xFF] ^ crc_slices[11][first >> 24] ^
                        slice_four(four_bytes(bytes + 4), 8) ^
                        slice_four(four_bytes(bytes + 8), 4) ^
                        slice_four(four_bytes(bytes + 12), 0);
        first ^= crc;
        crc = crc_slices[14][first & 0xFF] ^ crc_slices[13][(first >> 8) & 0xFF] ^ rest;
    }
#endif
    for (; length > 0; bytes++, length--) crc = crc_table[(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
    running_crc = (uint16_t)crc;
}

uint32_t write_output(const uint8_t* bytes, uint32_t length, FILE* out) {
    update_crc(bytes, length);
    if (out == nullptr) return length;
    uint32_t written = (uint32_t)fwrite(bytes, 1, length, out);
    if (written != length) output_write_failed = true;
    return written;
}

/* The percentage is exact up to a total of 1000 bytes; above, the divisor is the
 * total / 100 rounded down, so the last value can exceed 100 (a total of 1099 gives
 * 109), which the bar shows as full.  Position 0 is never sent: the last value
 * starts at 0. */
void update_progress(uint32_t member_done) {
    if (progress_total == 0) return;
    uint32_t done = progress_done + member_done;
    uint32_t percent = progress_total <= 1000 ? done * 100 / progress_total
                                              : done / (progress_total / 100);
    if (percent == progress_last_percent) return;
    progress_last_percent = percent;
    platform_report_progress(percent);
}

/* The percentage of member_done' bytes equals the last one sent for every
 * member_done' from member_done up to the next multiple of the divisor, or up to
 * where the 32-bit sum wraps and the percentage falls back, whichever is first.
 * Exact percentages (a total up to 1000) and a position still to be sent are
 * looked at after every symbol. */
uint32_t progress_quiet_until(uint32_t member_done) {
    if (progress_total == 0) return UINT32_MAX;
    if (progress_total <= 1000) return member_done;
    uint32_t divisor = progress_total / 100;
    uint32_t done = progress_done + member_done;
    if (done / divisor != progress_last_percent) return member_done;
    uint64_t next = ((uint64_t)(done / divisor) + 1) * divisor;
    if (next > 0x100000000u) next = 0x100000000u;
    uint64_t until = member_done + (next - done);
    return until > UINT32_MAX ? UINT32_MAX : (uint32_t)until;
}

/* Each block: read, write, CRC, progress, cancel check, in this order. */
CopyResult copy_stored(SfxApp* app, FILE* out, uint32_t count) {
    uint8_t* buffer = (uint8_t*)malloc(COPY_BLOCK_SIZE);
    running_crc = 0;
    if (buffer == nullptr) return COPY_NO_MEMORY;
    uint32_t copied = 0;
    CopyResult result = COPY_COMPLETE;
    while (count > 0) {
        uint32_t n = count < (uint32_t)COPY_BLOCK_SIZE ? count : (uint32_t)COPY_BLOCK_SIZE;
        uint32_t got = (uint32_t)fread(buffer, 1, n, app->archive_file);
        if (got < n) {
            // The archive ends inside the member: keep what arrived, report the rest.
            write_output(buffer, got, out);
            result = COPY_TRUNCATED;
            break;
        }
        write_output(buffer, n, out);
        copied += n;
        count -= n;
        update_progress(copied);
        // A stop after the last block leaves the data complete.
        if (run_flag == 0 && count > 0) {
            result = COPY_CANCELLED;
            break;
        }
    }
    free(buffer);
    return result;
}
