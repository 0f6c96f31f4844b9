#include "tools/huffman_lengths.h"

#include <stdlib.h>
#include <string.h>

enum { MAX_SYMBOLS = 512, MAX_ITEMS = 2 * MAX_SYMBOLS };

/* Package-merge.  The used symbols, sorted by frequency, are the coins of every
 * denomination 2^-1 .. 2^-max_length.  Starting with the smallest denomination,
 * pairs of adjacent items are packaged and merged with a fresh row of coins; the
 * cheapest 2n - 2 items of the last row are bought.  A package bought in one row
 * buys the first two items per package of the row below it, so every row's bought
 * items are a prefix of that row.  Since the coins of a row appear in it in sorted
 * order, a prefix holding m coins raises the lengths of the m rarest symbols by
 * one.  So only the leaf count of each row's prefix is needed, not the packages'
 * contents. */

struct Coin {
    uint32_t freq;
    uint16_t symbol;
};

static int by_frequency(const void* a, const void* b) {
    const Coin* x = (const Coin*)a;
    const Coin* y = (const Coin*)b;
    if (x->freq != y->freq) return x->freq < y->freq ? -1 : 1;
    return x->symbol < y->symbol ? -1 : x->symbol > y->symbol;
}

unsigned limited_code_lengths(const uint32_t* freq, unsigned count, unsigned max_length,
                              uint8_t* lengths) {
    Coin coins[MAX_SYMBOLS];
    unsigned n = 0;
    for (unsigned s = 0; s < count; s++) {
        lengths[s] = 0;
        if (freq[s] != 0) coins[n++] = Coin{freq[s], (uint16_t)s};
    }
    if (n < 2) return n;
    qsort(coins, n, sizeof coins[0], by_frequency);

    // rows[r]: item weights of row r (r = 0 is the deepest, coins only) and, for
    // each item, whether it is a coin.  The bought prefix is walked back from the
    // top row.
    static uint64_t weight[MAX_CODE_BITS][MAX_ITEMS];
    static uint8_t is_coin[MAX_CODE_BITS][MAX_ITEMS];
    unsigned size[MAX_CODE_BITS];
    for (unsigned i = 0; i < n; i++) {
        weight[0][i] = coins[i].freq;
        is_coin[0][i] = 1;
    }
    size[0] = n;
    for (unsigned r = 1; r < max_length; r++) {
        unsigned packages = size[r - 1] / 2;
        unsigned c = 0, p = 0, out = 0;
        while (c < n || p < packages) {
            uint64_t package = p < packages ? weight[r - 1][2 * p] + weight[r - 1][2 * p + 1] : 0;
            if (p >= packages || (c < n && coins[c].freq <= package)) {
                weight[r][out] = coins[c++].freq;
                is_coin[r][out++] = 1;
            } else {
                weight[r][out] = package;
                is_coin[r][out++] = 0;
                p++;
            }
        }
        size[r] = out;
    }

    unsigned bought = 2 * n - 2;
    for (unsigned r = max_length; r-- > 0 && bought > 0;) {
        unsigned leaves = 0;
        for (unsigned i = 0; i < bought; i++) leaves += is_coin[r][i];
        for (unsigned i = 0; i < leaves; i++) lengths[coins[i].symbol]++;
        bought = 2 * (bought - leaves);
    }
    return n;
}

void canonical_codes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
    unsigned per_length[MAX_CODE_BITS + 1] = {};
    for (unsigned s = 0; s < count; s++) per_length[lengths[s]]++;
    per_length[0] = 0;
    uint32_t next[MAX_CODE_BITS + 2];
    uint32_t code = 0;
    for (unsigned l = 1; l <= MAX_CODE_BITS; l++) {
        next[l] = code;
        code = (code + per_length[l]) << 1;
    }
    for (unsigned s = 0; s < count; s++)
        codes[s] = lengths[s] != 0 ? (uint16_t)next[lengths[s]]++ : 0;
}
