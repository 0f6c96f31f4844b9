// The block codes of "-lh4-" to "-lh7-": LZ77 symbols under static Huffman codes
// that are sent again at the start of every 
//
// A block is, most significant bit first:
//   block size      16 bits, the number of character/length symbols (0 means 65,536)
//   code-length code   lengths of the 19 code-length symbols (read_code_lengths)
//   character code     lengths of the 510 character/length symbols (read_code_lengths)
//   position code      lengths of the position symbols (read_code_lengths)
//   symbols            block size character/length codes, each match followed at once
//                      by a position code and its extra bits
// There is no end marker: the driver stops at the member's original size.
//
// The methods differ only in the window and, through it, in the position code:
//   -lh4- 12 bits, -lh5- 13 bits: 14 position codes, 4-bit count
//   -lh6- 15 bits:                16 position codes, 5-bit count
//   -lh7- 16 bits:                17 position codes, 5-bit count
//
// Fields that no valid stream holds (a character count beyond 510, a zero run past
// the 510 lengths, a length above 16, a single value outside its alphabet) end the
// member as damaged before anything is stored out of place.
#include "decode/bit_input.h"
#include "decode/decoder_state.h"
#include "decode/huffman_table.h"
#include "decode/method_table.h"
#include "decode/progress.h"
#include "decode/window_copy.h"

enum {
    LENGTH_CODES = 19,    // 0-2: runs of zero lengths, 3-18: lengths 1-16
    LENGTH_COUNT_BITS = 5,
    CHAR_COUNT_BITS = 9,
    NO_ZERO_RUN = -1
};

// The zero runs of code-length symbols 0, 1 and 2: the shortest run and the bits
// that add to it.
static const uint8_t ZERO_RUN_BASE[3] = {1, 3, 20};
static const uint8_t ZERO_RUN_BITS[3] = {0, 4, 9};

static BlockCodesState& block = decoder.block;

#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
/* The fast run's tables, derived from the block's codes once they are read
 * (derive_fast_table): a symbol and its code length in one entry.  An entry that
 * leads into a tree is SLOW_ENTRY: the fast run then decodes that code the simple
 * way.
 *
 * position_steps: position_fast with what each position code j stands for worked
 * out: the distance's base (0 for j = 0, else 2^(j-1)) in bits 15-30, its extra bits
 * (j - 1, none for j < 2) in bits 11-14, the code's length in bits 6-10 and the bits
 * that code and extra bits take together in bits 0-5, so that a match's distance
 * takes one lookup and no branch on j, and the word is shifted past both by the
 * step itself, as by a fast entry.  POSITION_SLOW where position_fast has
 * SLOW_ENTRY.  (An unused entry of an incomplete code has symbol 0's length, up to
 * 16, beyond the table's bits.) */
enum : uint32_t { POSITION_SLOW = 0xFFFFFFFFu };
enum { STEP_LENGTH_AT = 6, STEP_EXTRA_AT = 11, STEP_BASE_AT = 15 };

static void derive_position_steps() {
    for (unsigned i = 0; i < (1u << SMALL_TABLE_BITS); i++) {
        const unsigned entry = block.position_fast[i], j = fast_symbol(entry);
        if (j >= (unsigned)block.position_codes) {
            block.position_steps[i] = POSITION_SLOW;
            continue;
        }
        const uint32_t base = j != 0 ? 1u << (j - 1) : 0;
        const uint32_t extra = j > 1 ? j - 1 : 0;
        const uint32_t length = fast_length(entry);
        block.position_steps[i] = base << STEP_BASE_AT | extra << STEP_EXTRA_AT |
                                  length << STEP_LENGTH_AT | (length + extra);
    }
}
#endif

/* begin_block_method: the position code follows from the window size, 14 codes and a
 * 4-bit count up to 2^14 bytes, beyond that a 5-bit count with one code more than
 * the window's bits: 16 codes, or 17 for the 64 KiB window.  The first symbol starts
 * a  */
void begin_block_method() {
    const bool wide = decoder.dictionary_bits > 14;
    block.position_codes = wide ? decoder.dictionary_bits + 1 : 14;
    block.position_count_bits = wide ? 5 : 4;
    init_bit_reader();
    block.codes_left = 0;
}

/* One code length in the short form: three bits 0 to 6 are the length; three 1 bits
 * are followed by a unary extension, 7 + the number of further 1 bits before a 0
 * (1110 = 7, 11110 = 8, ... nine further 1 bits = 16).  Returns the length; a
 * length above 16 (the look-ahead shows up to 20) marks the member damaged. */
static unsigned read_short_length() {
    unsigned length = decoder.bits.bit_buffer >> 13;
    if (length < 7) {
        skip_bits(3);
        return length;
    }
    for (unsigned mask = 1u << 12; (decoder.bits.bit_buffer & mask) != 0; mask >>= 1) length++;
    if (length > MAX_CODE_LENGTH) {
        decoder.member_damaged = true;
        return 0;
    }
    skip_bits(length - 3);  // 3 + (length - 7) ones + the closing 0
    return length;
}

/* read_code_lengths: the lengths of one of the block's codes.  A count n of
 * count_bits bits.  n = 0: a single value of the same width follows, and every code
 * of this kind is that value in no bits.  Otherwise lengths follow until n are
 * stored.  For the small codes each is a length in the short form; the code-length
 * code has a 2-bit count k of zero lengths right after its entry with index
 * zero_run_after (2), and those k count toward n.  A count beyond a small alphabet
 * (up to 31) stores its extra lengths above it, where the small code's lengths have
 * room, and the table build never looks at them.  For the character code (a 9-bit
 * count, at most 510) each is a code-length symbol: 0 is one zero length, 1 a run of
 * 3 to 18 zeros (4 more bits), 2 a run of 20 to 531 zeros (9 more bits), 3 to 18 a
 * length of 1 to 16; a run may carry the index past n, never past 510.  The lengths
 * up to the alphabet size are zero beyond the last index reached. */
static void read_code_lengths(HuffmanCode code, int symbol_count, int count_bits,
                              int zero_run_after) {
    int n = read_bits((unsigned)count_bits);
    if (n == 0) {
        set_single_code(code, symbol_count, read_bits((unsigned)count_bits));
        return;
    }
    if (code == CHAR_CODE && n > CHAR_CODES) {
        decoder.member_damaged = true;
        return;
    }
    uint8_t* const lengths = code_lengths(code);
    int i = 0;
    while (i < n) {
        unsigned zeros = 0;
        if (code == CHAR_CODE) {
            unsigned c = decode_with_table(SMALL_CODE, LENGTH_CODES);
            if (c >= 3) lengths[i++] = (uint8_t)(c - 2);
            else zeros = ZERO_RUN_BASE[c] + read_bits(ZERO_RUN_BITS[c]);
        } else {
            lengths[i++] = (uint8_t)read_short_length();
            // At most 3 zeros after index 2: the index stays below 6.
            if (i == zero_run_after + 1) zeros = read_bits(2);
        }
        if (decoder.member_damaged) return;
        if (zeros > (unsigned)(symbol_count - i)) {
            decoder.member_damaged = true;
            return;
        }
        while (zeros-- > 0) lengths[i++] = 0;
    }
    for (; i < symbol_count; i++) lengths[i] = 0;
    build_huffman_table(code, symbol_count);
}

#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
/* take_symbol: one symbol of `code` the careful way, with the bit input in a
 * FastBits word that holds enough bits for it: the symbol whose fast entry was
 * looked up at the word's front, its bits consumed.  A code longer than the table
 * goes through lookup_code, the same walk as decode_with_table, which also finds
 * damage. */
static inline unsigned take_symbol(FastBits& in, unsigned entry, HuffmanCode code,
                                   int symbol_count) {
    unsigned symbol = fast_symbol(entry), length = fast_length(entry);
    if (symbol >= (unsigned)symbol_count)
        symbol = lookup_code(code, symbol_count, (unsigned)(in.word >> 48), &length);
    consume_fast_bits(in, length);
    return symbol;
}

/* read_char_lengths_fast: read_code_lengths of the character code with the bit input
 * in a FastBits word and the code-length code through a fast table, for the usual
 * form (a count of 1 to 510); the others, and a block whose lengths might reach the
 * end of the input block, are left to read_code_lengths (false: nothing was
 * taken).  Each item is a code-length code of at most 16 bits and at most 9 more,
 * so 510 of them stay within CHAR_LENGTHS_MOST_BYTES.  Damage is found where
 * read_code_lengths finds it, after the same bits, and likewise builds no table. */
enum { CHAR_LENGTHS_MOST_BYTES = (CHAR_COUNT_BITS + CHAR_CODES * 25) / 8 + 16 + FAST_INPUT_MARGIN };


static bool read_char_lengths_fast() {
    FastBits in;
    if (!take_fast_bits(in) || in.end - in.next < CHAR_LENGTHS_MOST_BYTES) return false;
    refill_fast_bits(in);
    const int n = (int)(in.word >> (64 - CHAR_COUNT_BITS));
    if (n == 0 || n > CHAR_CODES) return false;
    consume_fast_bits(in, CHAR_COUNT_BITS);
    derive_fast_table(SMALL_CODE, LENGTH_CODES, block.length_fast);
    uint8_t* const lengths = code_lengths(CHAR_CODE);
    int i = 0;
    while (i < n) {
        refill_fast_bits(in);
        const unsigned c = take_symbol(in, block.length_fast[in.word >> (64 - SMALL_TABLE_BITS)],
                                       SMALL_CODE, LENGTH_CODES);
        if (decoder.member_damaged) break;
        if (c >= 3) {
            lengths[i++] = (uint8_t)(c - 2);
            continue;
        }
        int zeros = 1;
        if (c == 1) {
            zeros = (int)(in.word >> 60) + 3;
            consume_fast_bits(in, 4);
        } else if (c == 2) {
            zeros = (int)(in.word >> 55) + 20;
            consume_fast_bits(in, 9);
        }
        if (zeros > CHAR_CODES - i) {
            decoder.member_damaged = true;
            break;
        }
        while (zeros-- > 0) lengths[i++] = 0;
    }
    give_back_fast_bits(in);
    if (decoder.member_damaged) return true;
    for (; i < CHAR_CODES; i++) lengths[i] = 0;
    build_huffman_table(CHAR_CODE, CHAR_CODES);
    return true;
}
#endif

/* The tables of one block, in stream order.  The position code overwrites the
 * code-length code in the small code once the character lengths are read. */
static void read_block_tables() {
    block.codes_left = read_bits(16);
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    // Fast path: each code's fast table is filled as it is built.
    fill_fast_table_with_build(SMALL_CODE, block.length_fast);
#endif
    read_code_lengths(SMALL_CODE, LENGTH_CODES, LENGTH_COUNT_BITS, 2);
    if (decoder.member_damaged) return;
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    fill_fast_table_with_build(CHAR_CODE, block.char_fast);
    if (decoder.simple_loop_only || !read_char_lengths_fast())
#endif
        read_code_lengths(CHAR_CODE, CHAR_CODES, CHAR_COUNT_BITS, NO_ZERO_RUN);
    if (decoder.member_damaged) return;
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    fill_fast_table_with_build(SMALL_CODE, block.position_fast);
#endif
    read_code_lengths(SMALL_CODE, block.position_codes, block.position_count_bits, NO_ZERO_RUN);
    if (decoder.member_damaged) return;
#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
    derive_fast_table(CHAR_CODE, CHAR_CODES, block.char_fast);
    derive_fast_table(SMALL_CODE, (unsigned)block.position_codes, block.position_fast);
    derive_position_steps();
#endif
}

/* read_block_symbol: 0-255 a literal, 256-509 a match of symbol - 253 bytes (3 to
 * 256).  A block size of 0 wraps the 16-bit count to 65,535 after the first symbol:
 * 65,536 symbols in all. */
uint16_t read_block_symbol() {
    if (block.codes_left == 0) {
        read_block_tables();
        if (decoder.member_damaged) return 0;
    }
    block.codes_left--;
    return decode_with_table(CHAR_CODE, CHAR_CODES);
}

/* read_block_position: a position code j, then for j > 1 j - 1 extra bits.  The
 * distance minus one is 0 for j = 0, else 2^(j-1) + the extra bits: 1 for j = 1,
 * 2 or 3 for j = 2, up to 65,535 for j = 16 ("-lh7-"). */
uint16_t read_block_position() {
    unsigned j = decode_with_table(SMALL_CODE, block.position_codes);
    if (j == 0) return 0;
    return (uint16_t)((1u << (j - 1)) + read_bits(j - 1));
}

#ifndef MAVUSFX_NO_BLOCK_FAST_RUN
/* take_step: the distance minus one of a match whose position code, at the front
 * of `word`, has a step in position_steps (not POSITION_SLOW).  Its extra bits
 * follow the code, and are shifted in two steps, so that none gives 0; the caller
 * consumes the step's width, its low six bits. */
static inline uint32_t take_step(uint64_t word, uint32_t step) {
    const unsigned extra = (step >> STEP_EXTRA_AT) & 15;
    const uint64_t after_code = word << ((step >> STEP_LENGTH_AT) & 31);
    return (step >> STEP_BASE_AT) + (uint32_t)((after_code >> 1) >> (63 - extra));
}

/* take_position: a match's distance minus one, as read_block_position gives it, its
 * position code and extra bits consumed: one lookup in position_steps, or the walk
 * and the base worked out where the code is longer than the table. */
static inline uint32_t take_position(FastBits& in) {
    const uint32_t step = block.position_steps[in.word >> (64 - SMALL_TABLE_BITS)];
    if (step != POSITION_SLOW) {
        const uint32_t p = take_step(in.word, step);
        consume_fast_bits(in, step & FAST_LENGTH_MASK);
        return p;
    }
    unsigned length;
    const unsigned j =
        lookup_code(SMALL_CODE, block.position_codes, (unsigned)(in.word >> 48), &length);
    consume_fast_bits(in, length);
    if (j < 2) return j;
    const uint32_t p = (1u << (j - 1)) + (uint32_t)(in.word >> (65 - j));
    consume_fast_bits(in, j - 1);
    return p;
}

/* run_clear_batch: up to `left` symbols of a batch that stays clear of the window's
 * end and of the member's last bytes; returns how many are left undone.  BOUNDED:
 * the batch also ends after the symbol that takes the write position to `end` or
 * past it, so that every symbol of it starts below `end`, which the caller sets
 * where a symbol of the longest match still ends clear of both.  Otherwise the
 * caller has made `left` small enough for that.  Only codes that the fast tables hold
 * whole go here: the batch stops before a symbol whose character or position code
 * is longer, and the caller takes that one the careful way.  With no call left in
 * it the loop keeps the bit input in registers (a call in it had the compiler keep
 * the word and its count in memory, and every symbol wait for them there).  A
 * literal is one store; a match whose source does not wrap round the window's end
 * is one copy_in_ring (SLACK: a ring larger than the window) or copy_in_window,
 * whose destination side the batch keeps inside.  A form of its own for each kind
 * of ring keeps the choice out of the loop. */
template <bool SLACK, bool BOUNDED>
static inline __attribute__((always_inline)) uint32_t run_clear_batch(
    FastBits& bits, uint8_t* bytes, uint32_t mask, uint32_t& position, uint32_t left,
    uint32_t end) {
    const uint32_t past_match = SLACK ? RING_SLACK : WINDOW_COPY_PAST;
    FastBits in = bits;
    uint32_t at = position;
    unsigned entry = block.char_fast[in.word >> (64 - CHAR_TABLE_BITS)];
    do {
        // The word past the character code, for a literal and a match alike: each
        // shift takes the entry itself (its low six bits are the length), so that
        // the next lookup waits for nothing but the entry.
        const uint64_t after = in.word << (entry & FAST_LENGTH_MASK);
        const unsigned symbol = fast_symbol(entry);
        if (symbol <= 255) {
            in.word = after;
            in.count -= fast_length(entry);
            bytes[at++] = (uint8_t)symbol;
            entry = block.char_fast[in.word >> (64 - CHAR_TABLE_BITS)];
            // A second literal goes before the refill: a fast entry's code has at
            // most CHAR_TABLE_BITS bits, so the FAST_BITS_HELD or more bits after a
            // refill hold two of them and the next entry's bits.
            if (entry < (256u << FAST_SYMBOL_SHIFT) && left > 1 && (!BOUNDED || at < end)) {
                in.word <<= entry & FAST_LENGTH_MASK;
                in.count -= fast_length(entry);
                bytes[at++] = (uint8_t)fast_symbol(entry);
                entry = block.char_fast[in.word >> (64 - CHAR_TABLE_BITS)];
                left--;
            }
            refill_fast_bits(in);
            continue;
        }
        if (symbol >= CHAR_CODES) break;
        // A fast entry's code has at most CHAR_TABLE_BITS bits, so the position
        // code's first SMALL_TABLE_BITS bits are in the word behind it.
        const uint32_t step = block.position_steps[after >> (64 - SMALL_TABLE_BITS)];
        if (step == POSITION_SLOW) break;
        const uint32_t p = take_step(after, step);
        in.word = after << (step & FAST_LENGTH_MASK);
        in.count -= fast_length(entry) + (step & FAST_LENGTH_MASK);
        // At most CHAR_TABLE_BITS + SMALL_TABLE_BITS + POSITION_MOST_EXTRA_BITS
        // bits are gone: the next entry's bits are there before the refill, as
        // after a literal.
        entry = block.char_fast[in.word >> (64 - CHAR_TABLE_BITS)];
        refill_fast_bits(in);
        const uint32_t match = symbol - 253;
        const uint32_t source = (at - p - 1) & mask;
        if (source + match + past_match <= mask + 1) {
            if (SLACK) copy_in_ring(bytes, at, source, match);
            else copy_in_window(bytes, at, source, match);
        } else {
            for (uint32_t i = 0; i < match; i++) bytes[at + i] = bytes[(source + i) & mask];
        }
        at += match;
    } while (--left != 0 && (!BOUNDED || at < end));
    position = at;
    bits = in;
    return left;
}

/* The fast run's bounds: the longest match; the most bits a symbol takes, its
 * character code, position code and extra bits (a position code j has j - 1 of
 * them, j up to 16); and the bytes of input those bits can reach. */
enum {
    BLOCK_LONGEST_MATCH = CHAR_CODES - 1 - 253,  // 256
    POSITION_MOST_EXTRA_BITS = 15,
    BLOCK_SYMBOL_MOST_BITS = 2 * MAX_CODE_LENGTH + POSITION_MOST_EXTRA_BITS,  // 47
    BLOCK_SYMBOL_MOST_BYTES = (BLOCK_SYMBOL_MOST_BITS + 7) / 8,  // 6
    // The fewest symbols a batch that looks at no bound is cut to.
    SURE_BATCH = 16
};
static_assert((int)BLOCK_LONGEST_MATCH <= (int)FAST_RUN_TAIL,
              "no match of a batch needs cutting");
static_assert((int)BLOCK_SYMBOL_MOST_BITS <= (int)FAST_BITS_HELD,
              "a refilled word holds any symbol");
// In a batch a literal's code, a second literal's code and the entry after them, or
// a match's codes, extra bits and the entry after them, have at most the tables'
// bits and lie in a refilled word.
static_assert(3 * CHAR_TABLE_BITS <= FAST_BITS_HELD &&
                  2 * CHAR_TABLE_BITS + SMALL_TABLE_BITS + POSITION_MOST_EXTRA_BITS <=
                      FAST_BITS_HELD,
              "the next entry's bits are there before the refill");

/* run_block_symbols: the fast run of the block codes (FastRunFn).  Symbol by symbol
 * it does what read_block_symbol, read_block_position and the driver's simple loop
 * do, specialised where that is safe:
 * - the block's tables stay in force: it stops once the block's count has run out,
 *   and the simple loop reads the next tables;
 * - the bit input is a local word holding at least FAST_BITS_HELD bits before
 *   each symbol, which takes at most BLOCK_SYMBOL_MOST_BITS; FastBits keeps it
 *   away from the input's end;
 * - codes of up to the table's bits take one lookup in the fast tables; longer
 *   codes and damage go through lookup_code (take_symbol, take_position);
 * - no progress is due: it stops after the symbol that reaches the count where
 *   update_progress might send something;
 * - it goes in batches of symbols that each start below every bound: that count,
 *   the member's last FAST_RUN_TAIL bytes (no match of a batch needs cutting) and
 *   the window's end less the longest match (no flush falls inside a batch, no
 *   destination wraps); the bounds are looked at in bytes after each symbol, and
 *   the stop flag after each batch.  A batch that shrank by the longest match's
 *   worth of bytes per symbol would end every few symbols near a bound;
 * - past a bound each symbol goes the careful way, through put_literal and
 *   put_match, with a last match cut at the member's size as the simple loop cuts
 *   it; a flush there finds no overrun, as the run never takes padding bytes. */
FAST_RUN_FORMS uint32_t run_block_symbols(MemberSize original_size, FILE* out) {
    const MemberSize start = decoder.decoded_count;
    FastBits in;
    if (block.codes_left == 0 || start >= original_size || !take_fast_bits(in)) return 0;
    // The run ends after the symbol that reaches stop_at: the count where progress
    // may change, or the member's end.  Counts go from start (fast_run_reach).
    const uint32_t size = fast_run_reach(original_size - start);
    uint32_t stop_at = fast_run_reach(progress_quiet_until(start) - start);
    if (stop_at > size) stop_at = size;
    const uint32_t batches_until = size > FAST_RUN_TAIL ? size - FAST_RUN_TAIL : 0;
    uint8_t* bytes = decoder.window.bytes;
    const uint32_t mask = decoder.window.mask;
    uint32_t position = decoder.window.window_position;
    uint32_t count = 0;
    uint16_t codes_left = block.codes_left;
    // A ring larger than the window (writing behind) lets a match's copy run past
    // its end (copy_in_ring); a ring that is the window keeps those bytes.
    const bool slack = mask + 1 - (1u << decoder.dictionary_bits) >= RING_SLACK;
    const uint32_t past_match = slack ? RING_SLACK : WINDOW_COPY_PAST;
    // A symbol that starts below clear_end, the longest match and the bytes its
    // copy touches past it stay inside the window (every window is larger).
    const uint32_t clear_end = mask + 2 - past_match - BLOCK_LONGEST_MATCH;

    for (;;) {
        // A batch takes no more symbols than the block still holds, and at most
        // BLOCK_SYMBOL_MOST_BITS each, so that the refills (which never hold more
        // than 63 bits) and the final one in give_back_fast_bits read no byte past
        // the input's end: k symbols move `next` less than BLOCK_SYMBOL_MOST_BYTES
        // * k + 8 bytes on.  Where the input has no room for even one symbol past
        // FAST_INPUT_MARGIN the run ends, and the simple loop takes the last bytes:
        // one symbol more could leave the final refill reading past the end.
        uint32_t batch = codes_left;
        const uint32_t input_left = (uint32_t)(in.end - in.next - FAST_INPUT_MARGIN);
        if (batch > input_left / BLOCK_SYMBOL_MOST_BYTES)
            batch = input_left / BLOCK_SYMBOL_MOST_BYTES;
        if (batch == 0) break;
        uint32_t left = batch;
        // The word is topped up after every symbol, not only below
        // BLOCK_SYMBOL_MOST_BITS: a branch on the count goes either way about as
        // often and is mispredicted.  In the batch loop, whose codes have at most the
        // tables' bits, the next character entry is looked up before that refill:
        // the refill only adds bits below those left, so the entry's CHAR_TABLE_BITS
        // bits are already there, and the lookup need not wait for the refill's load.
        refill_fast_bits(in);
        if (count < batches_until && position < clear_end) {
            // Fast path: a batch clear of the window's end (run_clear_batch), in
            // the form for the ring at hand, up to the nearest bound in window
            // positions.  Far from it the batch is cut to the symbols that cannot
            // reach it even as longest matches, and the loop looks at no bound;
            // near it, where that would leave a few symbols a batch, the bound is
            // looked at after each symbol.  The count follows from the position
            // once the batch is done.
            const uint32_t reach = (stop_at < batches_until ? stop_at : batches_until) - count;
            const uint32_t bound = reach < clear_end - position ? reach : clear_end - position;
            const uint32_t sure = bound / BLOCK_LONGEST_MATCH;
            const uint32_t from = position;
            if (sure >= SURE_BATCH || sure >= left) {
                if (left > sure) left = batch = sure;
                left = slack ? run_clear_batch<true, false>(in, bytes, mask, position, left, 0)
                             : run_clear_batch<false, false>(in, bytes, mask, position, left, 0);
            } else {
                const uint32_t end = position + bound;
                left = slack ? run_clear_batch<true, true>(in, bytes, mask, position, left, end)
                             : run_clear_batch<false, true>(in, bytes, mask, position, left, end);
            }
            count += position - from;
        }
        // One symbol the careful way: past a bound, or one with a long code, unless
        // the batch already took the symbol that reaches stop_at.  Damage, to the
        // codes or found by a flush, marks the member and ends the run after it.
        if (left != 0 && (count < stop_at || left == batch)) {
            const unsigned symbol = take_symbol(
                in, block.char_fast[in.word >> (64 - CHAR_TABLE_BITS)], CHAR_CODE, CHAR_CODES);
            if (symbol <= 255) {
                put_literal(bytes, mask, position, symbol, out);
                count++;
            } else {
                const uint32_t p = take_position(in);
                uint32_t match = symbol - 253;
                if (match > size - count) match = size - count;
                count += match;
                put_match(bytes, mask, position, p, match, out);
            }
            left--;
        }
        codes_left = (uint16_t)(codes_left - (batch - left));
        if (count >= stop_at || codes_left == 0 || !fast_bits_room(in) || decoder.stop_requested ||
            decoder.member_damaged)
            break;
    }
    block.codes_left = codes_left;
    decoder.decoded_count = start + count;
    decoder.window.window_position = position;
    give_back_fast_bits(in);
    return count;
}
#endif
