#include "decode/write_behind.h"

#include "decode/crc16.h"
#include "decode/output_sink.h"
#include "platform/host_services.h"

bool write_behind_enabled = true;
uint32_t write_behind_ring = 512 * 1024;

// What one hand-off writes.  The decoder fills it only once the helper is done with
// the last one.
struct WriteItem {
    const uint8_t* bytes;
    uint32_t length;
    FILE* out;
};
static WriteItem item;

/* On the helper thread, one piece at a time and in order, exactly what write_output
 * does on the decoder's: the CRC-16 first, then the write.  The decoder reads
 * output_sink's CRC and error only after write_behind_wait. */
static void write_item(void* item) {
    const WriteItem* piece = (const WriteItem*)item;
    write_output(piece->bytes, piece->length, piece->out);
}

/* The CRC's tables are made on the first call, and the folding's test too: both
 * run here first, on the decoder's thread, so the helper only reads them. */
bool write_behind(const uint8_t* bytes, uint32_t length, FILE* out) {
    static bool tables_made;
    if (!tables_made) {
        static const uint8_t zeros[256] = {};
        crc16(0, zeros, sizeof zeros);
        tables_made = true;
    }
    platform_wait_for_helper();
    item = WriteItem{bytes, length, out};
    return platform_hand_to_helper(write_item, &item);
}

void write_behind_wait() { platform_wait_for_helper(); }
