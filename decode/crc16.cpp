#include "decode/crc16.h"

/* CRC-16/ARC: polynomial 0x8005 bit-reversed (0xA001), initial 0, reflected, no
 * final XOR.  Check value over "123456789": 0xBB3D.
 *
 * Fast path, slicing by sixteen: crc_slices[k - 1][x] is what byte x contributes
 * when k zero bytes follow it (crc_table being k = 0), so sixteen bytes fold in
 * with sixteen independent lookups instead of a chain of sixteen.  The 16-bit
 * register reaches into the first two bytes only; the other fourteen lookups do
 * not wait for it.  The slices are computed at run time, not stored in the
 * program. */
static uint16_t crc_table[256];
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

/* The tables are made at the first call: entry 1 (0xC0C1) is never 0 once made. */
uint16_t crc16(uint16_t start, const uint8_t* bytes, uint32_t length) {
    if (crc_table[1] == 0) make_crc_table();
    unsigned crc = start;
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
    return (uint16_t)crc;
}
