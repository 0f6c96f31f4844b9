#include "decode/write_behind.h"

#include "decode/crc16.h"
#include "decode/decoder_state.h"
#include "decode/member_output.h"
#include "platform/host_services.h"

uint32_t write_behind_ring() {
    return decoder.ring_size != 0 ? decoder.ring_size : (uint32_t)WRITE_BEHIND_RING;
}

/* On the helper thread, one piece at a time and in order, exactly what write_output
 * does on the decoder's: the CRC-16 first, then the write.  The decoder reads
 * decoder.output only after write_behind_wait. */
static void write_item(void* item) {
    const WriteItem* piece = (const WriteItem*)item;
    write_output(piece->bytes, piece->length, piece->out);
}

/* The CRC's tables are made on its first call, and the folding's test too: a call
 * here, on the decoder's thread, makes sure that both are made before the helper
 * reads them. */
bool write_behind(const uint8_t* bytes, uint32_t length, FILE* out) {
    static const uint8_t zeros[256] = {};
    crc16(0, zeros, sizeof zeros);
    platform_wait_for_helper();
    decoder.handed_over = WriteItem{bytes, length, out};
    return platform_hand_to_helper(write_item, &decoder.handed_over);
}

void write_behind_wait() { platform_wait_for_helper(); }
