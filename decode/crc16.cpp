#include "decode/crc16.h"

#include "decode/little_endian.h"

/* CRC-16/ARC: polynomial 0x8005 bit-reversed (0xA001), initial 0, reflected, no
 * final XOR.  Check value over "123456789": 0xBB3D.
 *
 * Fast path, slicing by sixteen: crc_slices[k - 1][x] is what byte x contributes
 * when k zero bytes follow it (crc_table being k = 0), so sixteen bytes fold in
 * with sixteen independent lookups instead of a chain of sixteen.  The 16-bit
 * register reaches into the first two bytes only; the other fourteen lookups do
 * not wait for it.  The slices are computed at run time, not stored in the
 * program.  The stub slices by four (three slices, one loop of four lookups),
 * which costs it 128 bytes of code for a quarter off its decoding time. */
static uint16_t crc_table[256];
#ifndef MAVUSFX_NO_CRC_SLICES
#ifdef MAVUSFX_STUB_BUILD
enum { CRC_SLICES = 4 };
#else
enum { CRC_SLICES = 16 };
#endif
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

// What the four bytes in `word` contribute when `after` zero bytes follow them.
static inline unsigned slice_four(uint32_t word, int after) {
    return crc_slices[after + 2][word & 0xFF] ^ crc_slices[after + 1][(word >> 8) & 0xFF] ^
           crc_slices[after][(word >> 16) & 0xFF] ^
           (after == 0 ? crc_table[word >> 24] : crc_slices[after - 1][word >> 24]);
}

#endif

#if !defined(MAVUSFX_NO_CRC_SLICES) && defined(__x86_64__) && defined(__GNUC__)
#define MAVUSFX_CRC_FOLDING 1
#include <immintrin.h>

/* Fast path for long buffers on x86-64 processors with carry-less multiplication,
 * folding sixteen bytes at a time; chosen at run time.
 *
 * The bytes, bit 0 of the first byte first, are the coefficients of a message
 * polynomial M(x), highest power first, and the CRC is M(x) * x^16 mod P(x), with
 * P(x) = x^16 + x^15 + x^2 + 1.  A 128-bit lane of sixteen loaded bytes holds in
 * its bit k the coefficient of x^(127 - k): its low half is H(x) * x^64, its high
 * half L(x).  Moving the lane D bits further on, X * x^D mod P, is
 * H * x^(D + 64) + L * x^D; a carry-less product of a half with a constant c
 * (of degree below 16, bit j holding x^(63 - j)) leaves H * c * x in the lane,
 * so the constants are x^(D + 63) mod P for the low half and x^(D - 1) mod P for
 * the high half; the product has degree below 80 and stays in the lane.  Four
 * lanes go along side by side, D = 512, and are folded into one at the end,
 * D = 128.  The one lane left, sixteen bytes whose polynomial is congruent to
 * the message's so far, goes through the byte-wise loop from 0, which gives
 * exactly that polynomial * x^16 mod P; the bytes after the last whole block
 * follow it there.  The start value is the first sixteen bits of the message
 * added (xor) to its first two bytes, as the table loop does. */
struct FoldConstants {
    __m128i by_512, by_128;  // low half: x^(D + 63) mod P, high half: x^(D - 1) mod P
};
static FoldConstants fold_constants;
static int folding_state;  // 0 not yet looked at, 1 available, 2 not available

// x^n mod P as a 64-bit half of a lane: the coefficient of x^d in bit 63 - d.
static uint64_t power_in_lane(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; i++) {
        r <<= 1;
        if (r & 0x10000) r ^= 0x18005;
    }
    uint64_t lane = 0;
    for (int d = 0; d < 16; d++)
        if (r >> d & 1) lane |= (uint64_t)1 << (63 - d);
    return lane;
}

__attribute__((target("pclmul,sse2"))) static inline __m128i fold(__m128i lane, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) static unsigned crc_folded(unsigned crc,
                                                                   const uint8_t*& bytes,
                                                                   uint32_t& length) {
    const __m128i by_512 = fold_constants.by_512, by_128 = fold_constants.by_128;
    const __m128i* p = (const __m128i*)bytes;
    __m128i a = _mm_xor_si128(_mm_loadu_si128(p), _mm_cvtsi32_si128((int)crc));
    __m128i b = _mm_loadu_si128(p + 1), c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
    uint32_t blocks = length / 64;
    for (uint32_t i = 1; i < blocks; i++) {
        p += 4;
        a = _mm_xor_si128(fold(a, by_512), _mm_loadu_si128(p));
        b = _mm_xor_si128(fold(b, by_512), _mm_loadu_si128(p + 1));
        c = _mm_xor_si128(fold(c, by_512), _mm_loadu_si128(p + 2));
        d = _mm_xor_si128(fold(d, by_512), _mm_loadu_si128(p + 3));
    }
    b = _mm_xor_si128(fold(a, by_128), b);
    c = _mm_xor_si128(fold(b, by_128), c);
    d = _mm_xor_si128(fold(c, by_128), d);
    uint8_t lane[16];
    _mm_storeu_si128((__m128i*)lane, d);
    bytes += (size_t)blocks * 64;
    length -= blocks * 64;
    unsigned r = 0;
    for (int i = 0; i < 16; i++) r = crc_table[(r ^ lane[i]) & 0xFF] ^ (r >> 8);
    return r;
}

static bool folding_available() {
    if (folding_state == 0) {
        folding_state = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2") ? 1 : 2;
        fold_constants.by_512 = _mm_set_epi64x((long long)power_in_lane(511),
                                               (long long)power_in_lane(575));
        fold_constants.by_128 = _mm_set_epi64x((long long)power_in_lane(127),
                                               (long long)power_in_lane(191));
    }
    return folding_state == 1;
}

// Below this the sliced loop is as fast.
enum { FOLDING_FROM = 256 };
#endif

/* The tables are made at the first call: entry 1 (0xC0C1) is never 0 once made. */
uint16_t crc16(uint16_t start, const uint8_t* bytes, uint32_t length) {
    if (crc_table[1] == 0) make_crc_table();
    unsigned crc = start;
#ifdef MAVUSFX_CRC_FOLDING
    if (length >= FOLDING_FROM && folding_available()) crc = crc_folded(crc, bytes, length);
#endif
#if !defined(MAVUSFX_NO_CRC_SLICES) && defined(MAVUSFX_STUB_BUILD)
    for (; length >= 4; bytes += 4, length -= 4) {
        uint32_t word = le32_at(bytes) ^ crc;
        crc = crc_slices[2][word & 0xFF] ^ crc_slices[1][(word >> 8) & 0xFF] ^
              crc_slices[0][(word >> 16) & 0xFF] ^ crc_table[word >> 24];
    }
#elif !defined(MAVUSFX_NO_CRC_SLICES)
    for (; length >= CRC_SLICES; bytes += CRC_SLICES, length -= CRC_SLICES) {
        uint32_t first = le32_at(bytes);
        unsigned rest = crc_slices[12][(first >> 16) & 0xFF] ^ crc_slices[11][first >> 24] ^
                        slice_four(le32_at(bytes + 4), 8) ^
                        slice_four(le32_at(bytes + 8), 4) ^
                        slice_four(le32_at(bytes + 12), 0);
        first ^= crc;
        crc = crc_slices[14][first & 0xFF] ^ crc_slices[13][(first >> 8) & 0xFF] ^ rest;
    }
#endif
    for (; length > 0; bytes++, length--) crc = crc_table[(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
    return (uint16_t)crc;
}
