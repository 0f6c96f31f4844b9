#include "decode/method_table.h"


/* The stub is built without the fast runs: the simple loop decodes alike.  A build
 * without any has no place for one in its families. */
#ifdef MAVUSFX_NO_BLOCK_FAST_RUN
#define BLOCK_FAST_RUN nullptr
#else
#define BLOCK_FAST_RUN run_block_symbols
#endif
#ifdef MAVUSFX_NO_LH1_FAST_RUN
#define LH1_FAST_RUN nullptr
#else
#define LH1_FAST_RUN run_lh1_symbols
#endif
#ifdef MAVUSFX_NO_FAST_RUNS
#define FAMILY(begin, symbol, position, run) {begin, symbol, position}
#else
#define FAMILY(begin, symbol, position, run) {begin, symbol, position, run}
#endif
#ifdef MAVUSFX_NO_WRITE_BEHIND
#define WITHIN(within)
#else
#define WITHIN(within) , within
#endif

static const MethodFamily LH1 = FAMILY(begin_lh1, read_adaptive_symbol, read_lh1_position,
                                       LH1_FAST_RUN);
static const MethodFamily LH2 = FAMILY(begin_lh2, read_adaptive_symbol, read_adaptive_position,
                                       nullptr);
static const MethodFamily LH3 = FAMILY(begin_lh3, read_lh3_symbol, read_lh3_position, nullptr);
static const MethodFamily BLOCK_CODES = FAMILY(begin_block_method, read_block_symbol,
                                               read_block_position, BLOCK_FAST_RUN);
static const MethodFamily LZS = FAMILY(begin_lzs, read_lzs_symbol, read_lzs_position, nullptr);
static const MethodFamily LZ5 = FAMILY(begin_lz5, read_lz5_symbol, read_lz5_position, nullptr);

/* Matches are at least 3 bytes long, except in -lzs-, whose shortest is 2.  The
 * block codes' positions reach 2^13 - 1 bytes back with 14 codes and
 * 2^(bits) - 1 with bits + 1 codes: within the window from 13 bits on.  "-lh1-"
 * reaches 4,095 bytes back, its whole window. */
#define BLOCK_ROW(name, bits) {name, METHOD_CODED, bits, 253, 0, &BLOCK_CODES WITHIN(bits >= 13)}
#define UNCODED_ROW(name, kind) {name, kind, 0, 0, 0, nullptr WITHIN(0)}

const MethodRow METHOD_TABLE[METHOD_COUNT] = {
    UNCODED_ROW("lh0", METHOD_STORED),
    {"lh1", METHOD_CODED, 12, 253, 0, &LH1 WITHIN(1)},
    {"lh2", METHOD_CODED, 13, 253, 1, &LH2 WITHIN(0)},
    {"lh3", METHOD_CODED, 13, 253, 1, &LH3 WITHIN(0)},
    BLOCK_ROW("lh4", 12),
    BLOCK_ROW("lh5", 13),
    BLOCK_ROW("lh6", 15),
    BLOCK_ROW("lh7", 16),
    {"lzs", METHOD_CODED, 11, 254, 0, &LZS WITHIN(0)},
    {"lz5", METHOD_CODED, 12, 253, 0, &LZ5 WITHIN(0)},
    UNCODED_ROW("lz4", METHOD_STORED),
    UNCODED_ROW("lhd", METHOD_FOLDER),
    // PMarc's stored form.  Its "-pm1-" and "-pm2-" are described nowhere public.
    UNCODED_ROW("pm0", METHOD_STORED),
};

int method_index(const char* method) {
    if (method[0] != '-' || method[4] != '-') return -1;
    for (int i = 0; i < METHOD_COUNT; i++) {
        const char* letters = METHOD_TABLE[i].letters;
        if (method[1] == letters[0] && method[2] == letters[1] && method[3] == letters[2]) return i;
    }
    return -1;
}

const MethodRow* find_method(const char* method) {
    int index = method_index(method);
    return index < 0 ? nullptr : &METHOD_TABLE[index];
}
