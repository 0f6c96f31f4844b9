#include "tools/pack/huffman_lengths.h"

#include <stdlib.h>
#include <string.h>

enum { MAX_SYMBOLS = 512, MAX_ITEMS = 2 * MAX_SYMBOLS };

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

/* Huffman's lengths for weights sorted in increasing order, computed in place
 * (Moffat and Katajainen): a first pass pairs the two lightest of the remaining
 * leaves and packages, keeping parent links in the array; a second turns the links
 * into the depth of each package; a third hands out the leaf depths, deepest to the
 * lightest.  On return a[i] is the length for the i-th lightest weight. */
static void huffman_in_place(uint32_t* a, unsigned n) {
    unsigned root = 0, leaf = 2, next;
    a[0] += a[1];
    for (next = 1; next < n - 1; next++) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (unsigned i = n - 2; i-- > 0;) a[i] = a[a[i]] + 1;
    unsigned available = 1, used = 0, depth = 0;
    int internal = (int)n - 2;
    int put = (int)n - 1;
    while (available > 0) {
        while (internal >= 0 && a[internal] == depth) {
            used++;
            internal--;
        }
        while (available > used) {
            a[put--] = depth;
            available--;
        }
        available = 2 * used;
        depth++;
        used = 0;
    }
}

/* Package-merge.  The used symbols, sorted by frequency, are the coins of every
 * denomination 2^-1 .. 2^-max_length.  Starting with the smallest denomination,
 * pairs of adjacent items are packaged and merged with a fresh row of coins; the
 * cheapest 2n - 2 items of the last row are bought.  A package bought in one row
 * buys the first two items per package of the row below it, so every row's bought
 * items are a prefix of that row.  Since the coins of a row appear in it in sorted
 * order, a prefix holding m coins raises the lengths of the m rarest symbols by
 * one.  So only the leaf count of each row's prefix is needed, not the packages'
 * contents. */
static void package_merge(const Coin* coins, unsigned n, unsigned max_length, uint8_t* lengths) {
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
    for (unsigned i = 0; i < n; i++) lengths[coins[i].symbol] = 0;
    unsigned bought = 2 * n - 2;
    for (unsigned r = max_length; r-- > 0 && bought > 0;) {
        unsigned leaves = 0;
        for (unsigned i = 0; i < bought; i++) leaves += is_coin[r][i];
        for (unsigned i = 0; i < leaves; i++) lengths[coins[i].symbol]++;
        bought = 2 * (bought - leaves);
    }
}

/* Huffman's code is optimal; only when it is deeper than allowed does the slower
 * package-merge find the optimal code within the limit. */
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
    uint32_t depth[MAX_SYMBOLS];
    for (unsigned i = 0; i < n; i++) depth[i] = coins[i].freq;
    huffman_in_place(depth, n);
    if (depth[0] <= max_length) {
        for (unsigned i = 0; i < n; i++) lengths[coins[i].symbol] = (uint8_t)depth[i];
    } else {
        package_merge(coins, n, max_length, lengths);
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
