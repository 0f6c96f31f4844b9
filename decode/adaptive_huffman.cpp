#include "decode/adaptive_huffman.h"

#include "decode/bit_input.h"
#include "decode/decoder_state.h"
#include "decode/huffman_table.h"
#include "decode/method_table.h"
#include "decode/progress.h"
#include "decode/window_copy.h"


static AdaptiveModel& model = decoder.adaptive.model;

#ifndef MAVUSFX_NO_LH1_FAST_RUN
/* The fast run's first steps down the character tree, TOP_WALK_BITS at once
 * (top.entries): for each value of the next TOP_WALK_BITS bits, the down_link value
 * the walk from the root holds after them, or the leaf it reaches sooner, times 8,
 * plus the steps taken.  The table holds for as long as no node whose down_link it
 * read changes that down_link.  The nodes it read are marked with its generation.
 * Only bump_node's trade of subtrees changes a down_link on its own, and it makes
 * the table stale when it trades a marked node; a fresh or rebuilt tree makes it
 * stale outright.  A generation that wraps round can only take an old mark for a
 * new one, which costs a needless rebuild.  (bench/README.md has the widths tried.) */
static TopWalk& top = decoder.adaptive.top;

static inline void note_trade(int p, int h) {
    if (top.mark[p] == top.generation || top.mark[h] == top.generation) top.stale = true;
}
#endif

enum {
    POSITION_SYMBOLS = 128,    // leaves the position tree's nodes have room for
    ROOT_WEIGHT_MARK = 0xFFFF  // the grown position root's weight
};

/* Run numbers come from a stack of 628; 0 means "no run" and is never handed out.
 * A model that needs more runs at once than the stack holds cannot be followed:
 * the member is damaged and run 0 stands in, which keeps every index in bounds
 * while the current update is abandoned. */
static int take_run() {
    if (model.free_runs_top >= RUN_NUMBERS) {
        decoder.member_damaged = true;
        return 0;
    }
    return model.free_runs[model.free_runs_top++];
}

static void give_back_run(int run) {
    if (model.free_runs_top == 0) {
        decoder.member_damaged = true;
        return;
    }
    model.free_runs[--model.free_runs_top] = run;
}

/* Node y has just received the down_link value it holds: point its children's
 * up_link, or its symbol's leaf_of_symbol, at it. */
static void link_below(int y) {
    int x = model.down_link[y];
    if (x >= 0) {
        model.up_link[x] = model.up_link[x - 1] = y;
    } else {
        model.leaf_of_symbol[-1 - x] = y;
    }
}

/* init_symbol_tree: symbol i's leaf is node 2n - 2 - i, every leaf has weight 1 and
 * the leaves form run 1.  Internal node j (from n - 2 down to 0) has the children
 * 2j + 2 (0 bit) and 2j + 1 (1 bit); it joins the run of node j + 1 when their
 * weights are equal, else it takes the next run number. */
void init_symbol_tree() {
    const int n = (int)model.adaptive_symbol_count;
    for (int i = 0; i < NODE_COUNT; i++) model.node_run[i] = 0;
    for (int i = 0; i < RUN_NUMBERS; i++) model.free_runs[i] = i;
    model.free_runs_top = 2;

    for (int i = 0; i < n; i++) {
        int j = 2 * n - 2 - i;
        model.leaf_of_symbol[i] = j;
        model.node_weight[j] = 1;
        model.down_link[j] = -1 - i;
        model.node_run[j] = 1;
    }
    model.run_head[1] = n - 1;
#ifndef MAVUSFX_NO_LH1_FAST_RUN
    top.stale = true;
#endif
    for (int j = n - 2; j >= 0; j--) {
        int i = 2 * j + 2;
        model.node_weight[j] = model.node_weight[i] + model.node_weight[i - 1];
        model.down_link[j] = i;
        model.up_link[i] = model.up_link[i - 1] = j;
        if (model.node_weight[j] == model.node_weight[j + 1]) {
            model.node_run[j] = model.node_run[j + 1];
        } else {
            model.node_run[j] = take_run();
        }
        model.run_head[model.node_run[j]] = j;
    }
}

/* The bit input and a fresh character tree of `symbol_count` symbols, of which
 * `escape` is followed by 8 plain bits (512: none). */
static void begin_adaptive(uint32_t symbol_count, uint32_t escape) {
    model.adaptive_symbol_count = symbol_count;
    model.escape_symbol = escape;
    init_bit_reader();
    init_symbol_tree();
}

/* begin_lh2: 286 symbols (256 bytes, lengths 3 to 32 with 285 as the escape to
 * lengths 32 to 287).  The position tree starts as the single leaf of position
 * symbol 0 at its root, which gives that symbol a code of no bits; it grows by one
 * symbol per 64 bytes of output. */
void begin_lh2() {
    begin_adaptive(286, 285);

    int run = take_run();
    model.node_run[POSITION_ROOT] = run;
    model.run_head[run] = POSITION_ROOT;
    model.position_updates = 0;
    model.node_weight[POSITION_ROOT] = 1;
    model.down_link[POSITION_ROOT] = -1 - POSITION_SYMBOL_BASE;
    model.leaf_of_symbol[POSITION_SYMBOL_BASE] = POSITION_ROOT;
    model.last_position_node = POSITION_ROOT;
    model.next_growth_count = 64;
    // The position tree holds 128 symbols: 8 KiB of distances.
    model.position_limit =
        decoder.dictionary_bits < 13 ? 1u << decoder.dictionary_bits : 64u * POSITION_SYMBOLS;
}

/* Walks from the node whose down_link is `c` to a leaf, one input bit per step
 * (0 to down_link, 1 to down_link - 1), on a copy of the look-ahead that is
 * refreshed every 16 steps; the bits are consumed at the end.  Returns the leaf's
 * down_link value. */
static int walk_to_leaf(int c) {
    uint32_t look = (uint32_t)decoder.bits.bit_buffer << 16;
    unsigned steps = 0;
    while (c > 0) {
        c = model.down_link[c - (int)(look >> 31)];
        look <<= 1;
        if (++steps == 16) {
            skip_bits(16);
            look = (uint32_t)decoder.bits.bit_buffer << 16;
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
    if (decoder.member_damaged) return 0;  // the model was left mid-update
    unsigned symbol = (unsigned)(-1 - walk_to_leaf(model.down_link[CHAR_ROOT]));
    count_symbol(symbol);
    if (symbol == model.escape_symbol) symbol += read_bits(8);
    return (uint16_t)symbol;
}

/* count_symbol: a root that has reached WEIGHT_LIMIT is rebuilt first, so the
 * character root never weighs more than 0x8000.  The root is counted directly;
 * every node from the leaf up to a child of the root goes through bump_node. */
void count_symbol(unsigned symbol) {
    if (model.node_weight[CHAR_ROOT] == WEIGHT_LIMIT) {
        rebuild_tree(CHAR_ROOT, 2 * (int)model.adaptive_symbol_count - 1);
    }
    model.node_weight[CHAR_ROOT]++;
    int q = model.leaf_of_symbol[symbol];
    do {
        q = bump_node(q);
    } while (q != CHAR_ROOT && !decoder.member_damaged);
}

/* bump_node: a node that is not the head of its run first trades subtrees with the
 * head (equal weights, so only down_link moves), and the head takes the increment.
 * Incremented, the node leaves its run at the front: it joins the run in front of
 * it when it now weighs as much, else it starts a run of its own.  A node that was
 * its whole run keeps that run unless it joins the one in front.  Returns the
 * parent of the node that was incremented. */
int bump_node(int p) {
    const int b = model.node_run[p];
    const int h = model.run_head[b];
    if (h != p) {
#ifndef MAVUSFX_NO_LH1_FAST_RUN
        note_trade(p, h);
#endif
        int32_t moved = model.down_link[p];
        model.down_link[p] = model.down_link[h];
        model.down_link[h] = moved;
        link_below(p);
        link_below(h);
        p = h;
    }
    const bool run_goes_on = model.node_run[p + 1] == b;
    if (run_goes_on) model.run_head[b] = p + 1;
    model.node_weight[p]++;
    if (model.node_weight[p] == model.node_weight[p - 1]) {
        if (!run_goes_on) give_back_run(b);
        model.node_run[p] = model.node_run[p - 1];
    } else if (run_goes_on) {
        model.node_run[p] = take_run();
        model.run_head[model.node_run[p]] = p;
    }
    return model.up_link[p];
}

static void move_node(int from, int to) {
    model.node_weight[to] = model.node_weight[from];
    model.down_link[to] = model.down_link[from];
}

/* rebuild_tree over the nodes first to end - 1: the leaves, in their order, keep
 * half their weight rounded up and move to the front; the tree is then laid out
 * again from the back.  Each new internal node joins the next two unpaired nodes
 * from the back and is placed after the leaves that outweigh it, in front of the
 * leaves that weigh as much or less.  Finally the links and the runs are set up
 * again, front to back.  The runs of the range all go back to the stack first. */
void rebuild_tree(int first, int end) {
#ifndef MAVUSFX_NO_LH1_FAST_RUN
    top.stale = true;
#endif
    int k = first;
    for (int i = first; i < end; i++) {
        if (model.run_head[model.node_run[i]] == i) give_back_run(model.node_run[i]);
        if (model.down_link[i] < 0) {
            model.node_weight[k] = (model.node_weight[i] + 1) / 2;
            model.down_link[k] = model.down_link[i];
            k++;
        }
    }

    int j = k - 1, i = end - 1, l = end - 2;
    while (i >= first) {
        while (i >= l) move_node(j--, i--);
        unsigned f = (unsigned)model.node_weight[l] + model.node_weight[l + 1];
        int m = first;
        while (model.node_weight[m] > f) m++;  // stops at l at the latest
        while (j >= m) move_node(j--, i--);
        model.node_weight[i] = f;
        model.down_link[i] = l + 1;
        i--;
        l -= 2;
    }

    unsigned prev = 0;
    int run = 0;
    for (int n = first; n < end; n++) {
        link_below(n);
        if (model.node_weight[n] != prev) {
            run = take_run();
            model.run_head[run] = n;
            prev = model.node_weight[n];
        }
        model.node_run[n] = run;
    }
}

/* read_adaptive_position: position symbol s stands for the distances s * 64 + 1
 * to s * 64 + 64.  Symbol s joins the tree at the first position read after more
 * than 64 * s bytes were produced (the current match not counted).  While the tree
 * is a single leaf its code has no bits.  The tree is updated before the 6 plain
 * low bits are read. */
uint16_t read_adaptive_position() {
    if (decoder.member_damaged) return 0;
    while (decoder.decoded_count > model.next_growth_count) {
        grow_position_tree((unsigned)(model.next_growth_count / 64));  // below position_limit
        model.next_growth_count += 64;
        if (model.next_growth_count >= model.position_limit)
            model.next_growth_count = (MemberSize)-1;  // grown whole: never again
    }
    unsigned symbol =
        (unsigned)(-1 - walk_to_leaf(model.down_link[POSITION_ROOT]) - POSITION_SYMBOL_BASE);
    count_position(symbol);
    return (uint16_t)(symbol * 64 + read_bits(6));
}

/* count_position: the grown position root holds 0xFFFF, a weight no other node
 * reaches, and position_updates counts in its place; the single leaf of the
 * starting tree is not counted at all, except by the older encoders' rule, which
 * counts it on every position read before the first growth (the grown tree then
 * starts from that weight). */
void count_position(unsigned symbol) {
    if (model.position_updates == WEIGHT_LIMIT) {
        rebuild_tree(POSITION_ROOT, (int)model.last_position_node + 1);
        model.position_updates = model.node_weight[POSITION_ROOT];
        model.node_weight[POSITION_ROOT] = ROOT_WEIGHT_MARK;
    }
    if (decoder.older_encoders_rule && model.last_position_node == POSITION_ROOT)
        model.node_weight[POSITION_ROOT]++;
    int q = model.leaf_of_symbol[symbol + POSITION_SYMBOL_BASE];
    while (q != POSITION_ROOT && !decoder.member_damaged) q = bump_node(q);
    model.position_updates++;
}

/* grow_position_tree: the last node in use is always a leaf.  It becomes internal,
 * with its old leaf one node further (1 bit) and the new symbol's leaf, weight 0,
 * after that (0 bit).  At the first growth the root becomes internal and its run
 * moves on to node 629.  The new symbol is counted at once. */
void grow_position_tree(unsigned symbol) {
    const int m = (int)model.last_position_node, r = m + 1, q = m + 2;
    model.down_link[r] = model.down_link[m];
    model.leaf_of_symbol[-1 - model.down_link[m]] = r;
    model.node_weight[r] = model.node_weight[m];
    model.node_run[r] = model.node_run[m];

    model.down_link[q] = -1 - (int)(symbol + POSITION_SYMBOL_BASE);
    model.node_weight[q] = 0;
    model.down_link[m] = q;
    model.up_link[q] = model.up_link[r] = m;
    if (m == POSITION_ROOT) {
        model.node_weight[POSITION_ROOT] = ROOT_WEIGHT_MARK;
        model.run_head[model.node_run[POSITION_ROOT]]++;
    }
    model.node_run[q] = take_run();
    model.run_head[model.node_run[q]] = q;
    model.leaf_of_symbol[symbol + POSITION_SYMBOL_BASE] = q;
    model.last_position_node = (uint32_t)q;
    count_position(symbol);
}

/* ---- -lh1-: the character tree of 314 symbols and a fixed position code ---- */

enum { LH1_POSITION_CODES = 64 };  // 64 distances each: the 4 KiB window

// The fixed position code: code 0 takes 3 bits and the length grows by one at each
// code listed: 64 codes of 3 to 8 bits.
static const uint8_t LH1_POSITION_GROWTH[] = {1, 4, 12, 24, 48};

/* begin_lh1: characters and lengths 3 to 60 through the adaptive tree of 314
 * symbols, without an escape, positions through the fixed 64-code table, built once
 * per member. */
void begin_lh1() {
    begin_adaptive(314, 512);
    set_growing_lengths(3, LH1_POSITION_GROWTH, sizeof LH1_POSITION_GROWTH, LH1_POSITION_CODES);
    build_huffman_table(SMALL_CODE, LH1_POSITION_CODES);
#ifndef MAVUSFX_NO_LH1_FAST_RUN
    derive_fast_table(SMALL_CODE, LH1_POSITION_CODES, decoder.adaptive.lh1_position_fast);
#endif
}

/* read_lh1_position: the code gives the distance's upper part in units of 64,
 * 6 plain bits the lower part; the result is the distance minus one, 0 to 4,095. */
uint16_t read_lh1_position() {
    if (decoder.member_damaged) return 0;
    uint16_t high = decode_with_table(SMALL_CODE, LH1_POSITION_CODES);
    return (uint16_t)(high * 64 + read_bits(6));
}

#ifndef MAVUSFX_NO_LH1_FAST_RUN
/* fill_top_walk: the entries of the `depth` bits `prefix`, whose walk holds c.  A
 * leaf, or the last step, fills the entries of every value that starts with the
 * prefix; an internal node has its two children's down_links read and marked. */
static void fill_top_walk(int c, unsigned depth, unsigned prefix) {
    if (c <= 0 || depth == TOP_WALK_BITS) {
        const unsigned shift = TOP_WALK_BITS - depth;
        for (unsigned i = prefix << shift; i < (prefix + 1) << shift; i++)
            top.entries[i] = c * 8 + (int)depth;
        return;
    }
    top.mark[c] = top.mark[c - 1] = top.generation;
    fill_top_walk(model.down_link[c], depth + 1, prefix * 2);
    fill_top_walk(model.down_link[c - 1], depth + 1, prefix * 2 + 1);
}

static void build_top_walk() {
    top.generation++;
    top.mark[CHAR_ROOT] = top.generation;
    fill_top_walk(model.down_link[CHAR_ROOT], 0, 0);
    top.stale = false;
}

/* count_symbol_fast: count_symbol, specialised for its commonest step (four nodes
 * in five on ordinary data): a node that is alone in its run and stays alone once
 * incremented only gains its weight, and the walk goes on to its parent.  The
 * weights alone tell that case, without the run tables: runs are the maximal
 * groups of consecutive nodes of equal weight, after every step of the walk as
 * before it, and weights never increase with the index.  So a node whose front
 * neighbour weighs more than its weight + 1 heads its run and stays apart from
 * that neighbour when incremented (node 1's front neighbour is the root, counted
 * first, which outweighs it by its other child), and a back neighbour of
 * another weight is not in its run.  The last node of the tree has a back
 * neighbour outside it, in no run (run 0, never handed out), which the simple
 * step finds apart whatever it weighs: when its weight happens to be equal the
 * step just goes through bump_node, as every other step does. */
static inline void count_symbol_fast(unsigned symbol) {
    if (model.node_weight[CHAR_ROOT] == WEIGHT_LIMIT) {
        count_symbol(symbol);  // rebuilds, then counts the simple way
        return;
    }
    model.node_weight[CHAR_ROOT]++;
    int q = model.leaf_of_symbol[symbol];
    do {
        const unsigned w = model.node_weight[q];
        if (model.node_weight[q - 1] > w + 1 && model.node_weight[q + 1] != w) {
            model.node_weight[q] = (uint16_t)(w + 1);
            q = model.up_link[q];
        } else {
            q = bump_node(q);
        }
    } while (q != CHAR_ROOT && !decoder.member_damaged);
}

/* The fast run's bounds: the steps a walk down the character tree is allowed, the
 * most bits a symbol then takes (the walk, the position code and its 6 plain
 * bits), and the longest match (symbol 313). */
enum {
    LH1_WALK_MOST_STEPS = 34,
    LH1_SYMBOL_MOST_BITS = LH1_WALK_MOST_STEPS + MAX_CODE_LENGTH + 6,  // 56
    LH1_LONGEST_MATCH = 313 - 253                                      // 60
};
static_assert((int)LH1_SYMBOL_MOST_BITS <= (int)FAST_BITS_HELD, "a refilled word holds any symbol");
static_assert((int)LH1_LONGEST_MATCH <= (int)FAST_RUN_TAIL,
              "no match of the fast run needs cutting");

/* run_lh1_symbols: the fast run of "-lh1-" (FastRunFn).  Symbol by symbol it does
 * what read_adaptive_symbol, read_lh1_position and the driver's simple loop do,
 * specialised where that is safe:
 * - the character tree is walked on the bits of a local word instead of 16-bit
 *   look-aheads, its first steps through top.entries, and counted with
 *   count_symbol_fast.  A walk is allowed LH1_WALK_MOST_STEPS
 *   steps, far more than any tree the model keeps is deep (a leaf's weight halves
 *   at most every two levels and the root stays below 0x8001); a longer one is
 *   left unconsumed to the simple loop.  "-lh1-" has no escape;
 * - the position code takes one lookup in lh1_position_fast (its codes fit the
 *   table's 8 bits), else lookup_code as in decode_with_table, and then its 6 plain
 *   bits;
 *   a model that was found damaged reads no position, as read_lh1_position;
 * - a symbol thus takes at most LH1_SYMBOL_MOST_BITS, and the word holds at
 *   least FAST_BITS_HELD before each; FastBits keeps it away from the input's end;
 * - no match needs cutting: it runs only while more than FAST_RUN_TAIL bytes of
 *   the member are still to come; no progress is due: it stops after the symbol that reaches
 *   the count where update_progress might send something;
 * - bytes go to the window through put_literal and put_match. */
uint32_t run_lh1_symbols(MemberSize original_size, FILE* out) {
    const MemberSize start = decoder.decoded_count;
    FastBits in;
    if (model.escape_symbol < model.adaptive_symbol_count || original_size <= FAST_RUN_TAIL ||
        start >= original_size - FAST_RUN_TAIL || !take_fast_bits(in))
        return 0;
    // Counts go from start (fast_run_reach).
    uint32_t stop_at = fast_run_reach(progress_quiet_until(start) - start);
    const uint32_t before_tail = fast_run_reach(original_size - FAST_RUN_TAIL - start);
    if (stop_at > before_tail) stop_at = before_tail;
    uint8_t* bytes = decoder.window.bytes;
    const uint32_t mask = decoder.window.mask;
    const unsigned position_codes = LH1_POSITION_CODES;
    const uint16_t* const position_fast = decoder.adaptive.lh1_position_fast;
    uint32_t position = decoder.window.window_position;
    uint32_t count = 0;

    for (;;) {
        if (in.count < FAST_BITS_HELD) refill_fast_bits(in);
        uint64_t word = in.word;
        // The first steps of the walk take one lookup in top_walk.
        if (top.stale) build_top_walk();
        const int32_t walked = top.entries[word >> (64 - TOP_WALK_BITS)];
        int c = walked >> 3;
        unsigned steps = (unsigned)walked & 7;
        word <<= steps;
        for (; c > 0 && steps < LH1_WALK_MOST_STEPS; steps++, word <<= 1)
            c = model.down_link[c - (int)(word >> 63)];
        if (c > 0) break;
        in.word = word;
        in.count -= steps;
        const unsigned symbol = (unsigned)(-1 - c);
        count_symbol_fast(symbol);
        bool sound = !decoder.member_damaged;
        if (symbol <= 255) {
            sound &= put_literal(bytes, mask, position, symbol, out);
            count++;
        } else {
            uint32_t p = 0;
            if (sound) {
                unsigned length;
                unsigned entry = position_fast[in.word >> (64 - SMALL_TABLE_BITS)];
                unsigned high = fast_symbol(entry);
                if (high < position_codes) {
                    length = fast_length(entry);
                } else {
                    high = lookup_code(SMALL_CODE, (int)position_codes, (unsigned)(in.word >> 48),
                                       &length);
                    sound = !decoder.member_damaged;
                }
                consume_fast_bits(in, length);
                p = high * 64 + (uint32_t)(in.word >> 58);
                consume_fast_bits(in, 6);
            }
            uint32_t match = symbol - 253;
            count += match;
            sound &= put_match(bytes, mask, position, p, match, out);
        }
        if (!sound || count >= stop_at || !fast_bits_room(in) || decoder.stop_requested) break;
    }
    decoder.decoded_count = start + count;
    decoder.window.window_position = position;
    give_back_fast_bits(in);
    return count;
}
#endif
