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
 * final XOR.  Check value over "123456789": 0xBB3D. */
void make_crc_table() {
    for (unsigned i = 0; i < 256; i++) {
        unsigned r = i;
        for (int k = 0; k < 8; k++) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
        crc_table[i] = (uint16_t)r;
    }
}

void update_crc(const uint8_t* bytes, uint32_t length) {
    uint16_t crc = running_crc;
    for (uint32_t i = 0; i < length; i++) crc = crc_table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    running_crc = crc;
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
        if (run_flag == 0) {
            result = COPY_CANCELLED;
            break;
        }
    }
    free(buffer);
    return result;
}
