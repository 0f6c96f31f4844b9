#include "decode/adaptive_huffman.h"

#include "decode/bit_input.h"
#include "decode/decode_driver.h"
#include "decode/huffman_table.h"
#include "decode/methods.h"
#include "decode/output_sink.h"

uint16_t node_weight[NODE_COUNT];
int16_t down_link[NODE_COUNT];
int16_t up_link[NODE_COUNT];
int16_t node_run[NODE_COUNT];
int16_t run_head[NODE_COUNT];
int16_t free_runs[RUN_NUMBERS];
uint32_t free_runs_top;
int16_t leaf_of_symbol[SYMBOL_NUMBERS];

uint32_t adaptive_symbol_count;
uint16_t longest_match;
uint32_t escape_symbol;
uint32_t last_position_node;
uint16_t position_updates;
uint32_t next_growth_count;
uint32_t position_limit;

enum {
    POSITION_SYMBOLS = 128,       // leaves the position tree's nodes have room for
    ROOT_WEIGHT_MARK = 0xFFFF     // the grown position root's weight
};

/* Run numbers come from a stack of 628; 0 means "no run" and is never handed out.
 * A model that needs more runs at once than the stack holds cannot be followed:
 * the member is damaged and run 0 stands in, which keeps every index in bounds
 * while the current update is abandoned. */
static int take_run() {
    if (free_runs_top >= RUN_NUMBERS) {
        member_damaged = true;
        return 0;
    }
    return free_runs[free_runs_top++];
}

static void give_back_run(int run) {
    if (free_runs_top == 0) {
        member_damaged = true;
        return;
    }
    free_runs[--free_runs_top] = (int16_t)run;
}

/* Node y has just received the down_link value it holds: point its children's
 * up_link, or its symbol's leaf_of_symbol, at it. */
static void link_below(int y) {
    int x = down_link[y];
    if (x >= 0) {
        up_link[x] = up_link[x - 1] = (int16_t)y;
    } else {
        leaf_of_symbol[-1 - x] = (int16_t)y;
    }
}

/* init_symbol_tree: symbol i's leaf is node 2n - 2 - i, every leaf has weight 1 and
 * the leaves form run 1.  Internal node j (from n - 2 down to 0) has the children
 * 2j + 2 (0 bit) and 2j + 1 (1 bit); it joins the run of node j + 1 when their
 * weights are equal, else it takes the next run number. */
void init_symbol_tree() {
    const int n = (int)adaptive_symbol_count;
    escape_symbol = adaptive_symbol_count >= (uint32_t)longest_match + 254 ? 512 : n - 1;
    for (int i = 0; i < NODE_COUNT; i++) node_run[i] = 0;
    for (int i = 0; i < RUN_NUMBERS; i++) free_runs[i] = (int16_t)i;
    free_runs_top = 2;

    for (int i = 0; i < n; i++) {
        int j = 2 * n - 2 - i;
        leaf_of_symbol[i] = (int16_t)j;
        node_weight[j] = 1;
        down_link[j] = (int16_t)(-1 - i);
        node_run[j] = 1;
    }
    run_head[1] = (int16_t)(n - 1);
    for (int j = n - 2; j >= 0; j--) {
        int i = 2 * j + 2;
        node_weight[j] = (uint16_t)(node_weight[i] + node_weight[i - 1]);
        down_link[j] = (int16_t)i;
        up_link[i] = up_link[i - 1] = (int16_t)j;
        if (node_weight[j] == node_weight[j + 1]) {
            node_run[j] = node_run[j + 1];
        } else {
            node_run[j] = (int16_t)take_run();
        }
        run_head[node_run[j]] = (int16_t)j;
    }
}

/* begin_lh2: 286 symbols (256 bytes, lengths 3 to 32 with 285 as the escape to
 * lengths 32 to 287).  The position tree starts as the single leaf of position
 * symbol 0 at its root, which gives that symbol a code of no bits; it grows by one
 * symbol per 64 bytes of output. */
void begin_lh2() {
    adaptive_symbol_count = 286;
    longest_match = 256;
    init_bit_reader();
    init_symbol_tree();

    int run = take_run();
    node_run[POSITION_ROOT] = (int16_t)run;
    run_head[run] = POSITION_ROOT;
    position_updates = 0;
    node_weight[POSITION_ROOT] = 1;
    down_link[POSITION_ROOT] = -1 - POSITION_SYMBOL_BASE;
    leaf_of_symbol[POSITION_SYMBOL_BASE] = POSITION_ROOT;
    last_position_node = POSITION_ROOT;
    next_growth_count = 64;
    // The position tree holds 128 symbols: 8 KiB of distances.
    position_limit = dictionary_bits < 13 ? 1u << dictionary_bits : 64u * POSITION_SYMBOLS;
}

/* Walks from the node whose down_link is `c` to a leaf, one input bit per step
 * (0 to down_link, 1 to down_link - 1), on a copy of the look-ahead that is
 * refreshed every 16 steps; the bits are consumed at the end.  Returns the leaf's
 * down_link value. */
static int walk_to_leaf(int c) {
    uint16_t look = bits.bit_buffer;
    unsigned steps = 0;
    while (c > 0) {
        c = down_link[c - (look >> 15)];
        look = (uint16_t)(look << 1);
        if (++steps == 16) {
            skip_bits(16);
            look = bits.bit_buffer;
            steps = 0;
        }
    }
    skip_bits(steps);
    return c;
}

/* read_adaptive_symbol: the character tree's root is internal, so every symbol
 * takes at least one bit.  The tree is updated before the escape's 8 plain bits
 * are read. */
uint16_t read_adaptive_symbol() {
    if (member_damaged) return 0;  // the model was left mid-update
    unsigned symbol = (unsigned)(-1 - walk_to_leaf(down_link[CHAR_ROOT]));
    count_symbol(symbol);
    if (symbol == escape_symbol) symbol += read_bits(8);
    return (uint16_t)symbol;
}

/* count_symbol: a root that has reached WEIGHT_LIMIT is rebuilt first, so the
 * character root never weighs more than 0x8000.  The root is counted directly;
 * every node from the leaf up to a child of the root goes through bump_node. */
void count_symbol(unsigned symbol) {
    if (node_weight[CHAR_ROOT] == WEIGHT_LIMIT) {
        rebuild_tree(CHAR_ROOT, 2 * (int)adaptive_symbol_count - 1);
    }
    node_weight[CHAR_ROOT]++;
    int q = leaf_of_symbol[symbol];
    do {
        q = bump_node(q);
    } while (q != CHAR_ROOT && !member_damaged);
}

/* bump_node: a node that is not the head of its run first trades subtrees with the
 * head (equal weights, so only down_link moves), and the head takes the increment.
 * Incremented, the node leaves its run at the front: it joins the run in front of
 * it when it now weighs as much, else it starts a run of its own.  A node that was
 * its whole run keeps that run unless it joins the one in front.  Returns the
 * parent of the node that was incremented. */
int bump_node(int p) {
    const int b = node_run[p];
    const int h = run_head[b];
    if (h != p) {
        int16_t moved = down_link[p];
        down_link[p] = down_link[h];
        down_link[h] = moved;
        link_below(p);
        link_below(h);
        p = h;
    }
    if (node_run[p + 1] == b) {
        run_head[b] = (int16_t)(p + 1);
        node_weight[p]++;
        if (node_weight[p] == node_weight[p - 1]) {
            node_run[p] = node_run[p - 1];
        } else {
            node_run[p] = (int16_t)take_run();
            run_head[node_run[p]] = (int16_t)p;
        }
    } else {
        node_weight[p]++;
        if (node_weight[p] == node_weight[p - 1]) {
            give_back_run(b);
            node_run[p] = node_run[p - 1];
        }
    }
    return up_link[p];
}

static void move_node(int from, int to) {
    node_weight[to] = node_weight[from];
    down_link[to] = down_link[from];
}

/* rebuild_tree over the nodes first to end - 1: the leaves, in their order, keep
 * half their weight rounded up and move to the front; the tree is then laid out
 * again from the back.  Each new internal node joins the next two unpaired nodes
 * from the back and is placed after the leaves that outweigh it, in front of the
 * leaves that weigh as much or less.  Finally the links and the runs are set up
 * again, front to back.  The runs of the range all go back to the stack first. */
void rebuild_tree(int first, int end) {
    int k = first;
    for (int i = first; i < end; i++) {
        if (run_head[node_run[i]] == i) give_back_run(node_run[i]);
        if (down_link[i] < 0) {
            node_weight[k] = (uint16_t)((node_weight[i] + 1) / 2);
            down_link[k] = down_link[i];
            k++;
        }
    }

    int j = k - 1, i = end - 1, l = end - 2;
    while (i >= first) {
        while (i >= l) move_node(j--, i--);
        unsigned f = (unsigned)node_weight[l] + node_weight[l + 1];
        int m = first;
        while (node_weight[m] > f) m++;  // stops at l at the latest
        while (j >= m) move_node(j--, i--);
        node_weight[i] = (uint16_t)f;
        down_link[i] = (int16_t)(l + 1);
        i--;
        l -= 2;
    }

    unsigned prev = 0;
    int run = 0;
    for (int n = first; n < end; n++) {
        link_below(n);
        if (node_weight[n] != prev) {
            run = take_run();
            run_head[run] = (int16_t)n;
            prev = node_weight[n];
        }
        node_run[n] = (int16_t)run;
    }
}

/* read_adaptive_position: position symbol s stands for the distances s * 64 + 1
 * to s * 64 + 64.  Symbol s joins the tree at the first position read after more
 * than 64 * s bytes were produced (the current match not counted).  While the tree
 * is a single leaf its code has no bits.  The tree is updated before the 6 plain
 * low bits are read. */
uint16_t read_adaptive_position() {
    if (member_damaged) return 0;
    while (decoded_count > next_growth_count) {
        grow_position_tree(next_growth_count / 64);
        next_growth_count += 64;
        if (next_growth_count >= position_limit) next_growth_count = 0xFFFFFFFF;
    }
    unsigned symbol =
        (unsigned)(-1 - walk_to_leaf(down_link[POSITION_ROOT]) - POSITION_SYMBOL_BASE);
    count_position(symbol);
    return (uint16_t)(symbol * 64 + read_bits(6));
}

/* count_position: the grown position root holds 0xFFFF, a weight no other node
 * reaches, and position_updates counts in its place; the single leaf of the
 * starting tree is not counted at all, except by the older encoders' rule, which
 * counts it on every position read before the first growth (the grown tree then
 * starts from that weight). */
void count_position(unsigned symbol) {
    if (position_updates == WEIGHT_LIMIT) {
        rebuild_tree(POSITION_ROOT, (int)last_position_node + 1);
        position_updates = node_weight[POSITION_ROOT];
        node_weight[POSITION_ROOT] = ROOT_WEIGHT_MARK;
    }
    if (older_encoders_rule && last_position_node == POSITION_ROOT) node_weight[POSITION_ROOT]++;
    int q = leaf_of_symbol[symbol + POSITION_SYMBOL_BASE];
    while (q != POSITION_ROOT && !member_damaged) q = bump_node(q);
    position_updates++;
}

/* grow_position_tree: the last node in use is always a leaf.  It becomes internal,
 * with its old leaf one node further (1 bit) and the new symbol's leaf, weight 0,
 * after that (0 bit).  At the first growth the root becomes internal and its run
 * moves on to node 629.  The new symbol is counted at once. */
void grow_position_tree(unsigned symbol) {
    const int m = (int)last_position_node, r = m + 1, q = m + 2;
    down_link[r] = down_link[m];
    leaf_of_symbol[-1 - down_link[m]] = (int16_t)r;
    node_weight[r] = node_weight[m];
    node_run[r] = node_run[m];

    down_link[q] = (int16_t)(-1 - (int)(symbol + POSITION_SYMBOL_BASE));
    node_weight[q] = 0;
    down_link[m] = (int16_t)q;
    up_link[q] = up_link[r] = (int16_t)m;
    if (m == POSITION_ROOT) {
        node_weight[POSITION_ROOT] = ROOT_WEIGHT_MARK;
        run_head[node_run[POSITION_ROOT]]++;
    }
    node_run[q] = (int16_t)take_run();
    run_head[node_run[q]] = (int16_t)q;
    leaf_of_symbol[symbol + POSITION_SYMBOL_BASE] = (int16_t)q;
    last_position_node = q;
    count_position(symbol);
}

/* ---- -lh1-: the character tree of 314 symbols and a fixed position code ---- */

enum { LH1_POSITION_CODES = 64 };  // 64 distances each: the 4 KiB window

// The fixed position code: code 0 takes 3 bits and the length grows by one at each
// code listed: 64 codes of 3 to 8 bits.
static const uint8_t LH1_POSITION_GROWTH[] = {1, 4, 12, 24, 48};

/* begin_lh1: characters and lengths 3 to 60 through the adaptive tree of 314
 * symbols, positions through the fixed 64-code table, built once per member. */
void begin_lh1() {
    adaptive_symbol_count = 314;
    longest_match = 60;
    init_bit_reader();
    init_symbol_tree();
    set_growing_lengths(3, LH1_POSITION_GROWTH, sizeof LH1_POSITION_GROWTH, LH1_POSITION_CODES);
    build_huffman_table(LH1_POSITION_CODES, small_lengths, SMALL_TABLE_BITS, small_table);
}

/* read_lh1_position: the code gives the distance's upper part in units of 64,
 * 6 plain bits the lower part; the result is the distance minus one, 0 to 4,095. */
uint16_t read_lh1_position() {
    if (member_damaged) return 0;
    uint16_t high = decode_with_table(small_table, small_lengths, LH1_POSITION_CODES,
                                      SMALL_TABLE_BITS);
    return (uint16_t)(high * 64 + read_bits(6));
}

#ifndef MAVUSFX_NO_LH1_FAST_RUN
/* run_lh1_symbols: the fast run of "-lh1-" (FastRunFn).  Symbol by symbol it does
 * what read_adaptive_symbol, read_lh1_position and the driver's simple loop do,
 * specialised where that is safe:
 * - the character tree is walked on the bits of a local word instead of 16-bit
 *   look-aheads, and counted with count_symbol as before.  A walk is allowed 34
 *   steps, far more than any tree the model keeps is deep (a leaf's weight halves
 *   at most every two levels and the root stays below 0x8001); a longer one is
 *   left unconsumed to the simple loop.  "-lh1-" has no escape;
 * - the position code takes one lookup in small_table (its codes fit the table's
 *   8 bits), else lookup_code as in decode_with_table, and then its 6 plain bits;
 *   a model that was found damaged reads no position, as read_lh1_position;
 * - a symbol thus takes at most 34 + 16 + 6 bits, and the word holds at least 56
 *   before each; FastBits keeps it away from the input's end;
 * - no match needs cutting: it runs only while more than 256 bytes of the member
 *   are still to come; no progress is due: it stops after the symbol that reaches
 *   the count where update_progress might send something;
 * - bytes go to the window through put_literal and put_match. */
uint32_t run_lh1_symbols(uint32_t original_size, FILE* out) {
    const uint32_t start = decoded_count;
    FastBits in;
    if (escape_symbol < adaptive_symbol_count || original_size <= 256 ||
        start >= original_size - 256 || !take_fast_bits(in))
        return 0;
    uint32_t stop_at = progress_quiet_until(start);
    if (stop_at > original_size - 256) stop_at = original_size - 256;
    uint8_t* const bytes = window.bytes;
    const uint32_t mask = window.mask;
    const unsigned position_codes = LH1_POSITION_CODES;
    uint32_t position = window.window_position;
    uint32_t count = start;

    for (;;) {
        if (in.count < 56) refill_fast_bits(in);
        uint64_t word = in.word;
        int c = down_link[CHAR_ROOT];
        unsigned steps = 0;
        for (; c > 0 && steps < 34; steps++, word <<= 1) c = down_link[c - (int)(word >> 63)];
        if (c > 0) break;
        in.word = word;
        in.count -= steps;
        const unsigned symbol = (unsigned)(-1 - c);
        count_symbol(symbol);
        bool sound = !member_damaged;
        if (symbol <= 255) {
            sound &= put_literal(bytes, mask, position, symbol, out);
            count++;
        } else {
            uint32_t p = 0;
            if (sound) {
                unsigned length;
                unsigned high = small_table[in.word >> (64 - SMALL_TABLE_BITS)];
                if (high < position_codes) {
                    length = small_lengths[high];
                } else {
                    high = lookup_code(small_table, small_lengths, (int)position_codes,
                                       SMALL_TABLE_BITS, (unsigned)(in.word >> 48), &length);
                    sound = !member_damaged;
                }
                consume_fast_bits(in, length);
                p = high * 64 + (uint32_t)(in.word >> 58);
                consume_fast_bits(in, 6);
            }
            uint32_t match = symbol - 253;
            count += match;
            sound &= put_match(bytes, mask, position, p, match, out);
        }
        if (!sound || count >= stop_at || !fast_bits_room(in) || keep_going == 0) break;
    }
    decoded_count = count;
    window.window_position = position;
    give_back_fast_bits(in);
    return count - start;
}
#endif
