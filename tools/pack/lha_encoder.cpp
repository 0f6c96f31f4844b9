#include "tools/pack/lha_encoder.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "decode/crc16.h"
#include "tools/pack/huffman_lengths.h"

const MatchEffort DEFAULT_EFFORT = {
    /* max_chain */ 256,
    /* good_length */ 4,
    /* nice_length */ 32,
    /* max_lazy */ 8,
    /* far_three */ 4096,
    /* segment_symbols */ 1024,
    /* max_block_symbols */ 65535,
    /* block_overhead_bits */ 64,
};

namespace {

enum {
    MIN_MATCH = 3,
    MAX_MATCH = 256,
    MATCH_SYMBOL_BASE = 253,   // symbol 256 is a match of 3 bytes
    CHAR_SYMBOLS = 510,        // 256 literals and 254 match lengths
    LENGTH_SYMBOLS = 19,       // the code-length code: 3 zero-run forms and lengths 1-16
    MAX_POSITION_SYMBOLS = 17,
    MAX_BLOCK_SYMBOLS = 65535,
    // Frequencies kept per segment: the character/length symbols, then the positions.
    COUNTED_SYMBOLS = CHAR_SYMBOLS + MAX_POSITION_SYMBOLS,
    HASH_BITS = 16,
    HASH_SIZE = 1 << HASH_BITS,
    INPUT_CHUNK = 1 << 20,
    // Bytes that must be ahead of the match finder unless the input has ended: the
    // longest match and the hash's 4-byte load behind it.
    MIN_LOOKAHEAD = MAX_MATCH + 4,
    BUFFER_PAD = 8,
    OUTPUT_CHUNK = 1 << 16,
};

// The position of a match is sent as its distance minus one, p: the number of
// significant bits j of p with a Huffman code, then the j - 1 bits below the top one.
inline unsigned position_symbol(uint32_t p) { return p == 0 ? 0 : 32 - (unsigned)__builtin_clz(p); }

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}
inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

struct Encoder {
    const MatchEffort* effort;
    // Input.  `buffer` holds the window behind `pos` and the lookahead up to `end`.
    // Positions are buffer indices; the hash tables hold them too, 0 meaning none.
    // The data starts at window_size + 1, so every valid candidate is above 0, and
    // the buffer slides by whole windows, which keeps `prev` indexed by pos & mask.
    FILE* in;
    bool input_ended;
    bool read_failed;
    uint8_t* buffer;
    uint32_t buffer_size;
    uint32_t pos;
    uint32_t end;
    uint32_t* head;
    uint32_t* prev;
    uint32_t window_size;
    uint32_t window_mask;
    uint64_t total_in;
    uint16_t crc;
    const EncodeProgress* progress;

    // Symbols waiting to be cut into blocks, with p for each match, and their
    // frequencies counted per segment of `segment_symbols`.
    uint16_t* symbols;
    uint16_t* positions;
    uint32_t pending;
    uint32_t segment_symbols;
    uint32_t segment_end;       // where the current segment is full
    uint32_t segment;           // the current segment
    uint32_t max_segments;
    uint32_t* segment_freq;     // max_segments rows of COUNTED_SYMBOLS
    uint16_t* used_symbols;     // the non-zero counts of all segments, for the cut
    uint32_t* used_counts;
    unsigned position_symbols;
    unsigned position_count_bits;

    // Output: bits gathered most significant first into `bit_buffer`.
    FILE* out;
    uint8_t* out_bytes;
    uint32_t out_used;
    uint64_t out_total;
    uint64_t give_up_at;
    bool write_failed;
    bool gave_up;
    uint64_t bit_buffer;
    unsigned bit_count;
};

// ---- output ----------------------------------------------------------------

void flush_output(Encoder* e) {
    if (e->out_used == 0) return;
    if (fwrite(e->out_bytes, 1, e->out_used, e->out) != e->out_used) e->write_failed = true;
    e->out_total += e->out_used;
    e->out_used = 0;
    if (e->out_total >= e->give_up_at) e->gave_up = true;
}

// Appends the low `count` bits of `value` (count at most 32).  Whole 32-bit words
// leave the accumulator as soon as they are complete.
inline void put_bits(Encoder* e, uint32_t value, unsigned count) {
    e->bit_buffer = (e->bit_buffer << count) | value;
    e->bit_count += count;
    if (e->bit_count >= 32) {
        e->bit_count -= 32;
        uint32_t word = (uint32_t)(e->bit_buffer >> e->bit_count);
        uint8_t* p = e->out_bytes + e->out_used;
        p[0] = (uint8_t)(word >> 24);
        p[1] = (uint8_t)(word >> 16);
        p[2] = (uint8_t)(word >> 8);
        p[3] = (uint8_t)word;
        e->out_used += 4;
    }
}

void flush_bits(Encoder* e) {
    while (e->bit_count >= 8) {
        e->bit_count -= 8;
        e->out_bytes[e->out_used++] = (uint8_t)(e->bit_buffer >> e->bit_count);
    }
    if (e->bit_count > 0) {
        e->out_bytes[e->out_used++] = (uint8_t)(e->bit_buffer << (8 - e->bit_count));
        e->bit_count = 0;
    }
}

// ---- block writing ---------------------------------------------------------

/* A code length in the short form: 0 to 6 as three bits; 7 and more as 111, then
 * one 1 bit for every step above 7, then a 0 (7 is 1110, 16 is 1111111111110). */
void put_length(Encoder* e, unsigned length) {
    if (length < 7) put_bits(e, length, 3);
    else put_bits(e, (1u << (length - 3)) - 2, length - 3);
}

/* The code-length code and the position code: a count n of `count_bits` bits, then
 * n lengths in the short form; the code-length code has a 2-bit count of zero
 * lengths right after its third entry.  A code of one symbol (or none) goes in the
 * count-0 form: count 0, then the symbol in the same width, and its symbols then
 * cost no bits at all. */
void put_short_lengths(Encoder* e, const uint8_t* lengths, unsigned count, unsigned count_bits,
                       bool zero_run_after_third, unsigned used, unsigned only_symbol) {
    if (used <= 1) {
        put_bits(e, 0, count_bits);
        put_bits(e, only_symbol, count_bits);
        return;
    }
    unsigned n = count;
    while (lengths[n - 1] == 0) n--;
    put_bits(e, n, count_bits);
    for (unsigned i = 0; i < n;) {
        put_length(e, lengths[i++]);
        if (zero_run_after_third && i == 3) {
            unsigned k = 0;
            while (k < 3 && i + k < n && lengths[i + k] == 0) k++;
            put_bits(e, k, 2);
            i += k;
        }
    }
}

unsigned first_used(const uint32_t* freq, unsigned count) {
    for (unsigned s = 0; s < count; s++)
        if (freq[s] != 0) return s;
    return 0;
}

/* The character/length code lengths: a 9-bit count, then code-length symbols:
 * 0 one zero length, 1 and 4 bits for 3 to 18 zeros, 2 and 9 bits for 20 to 531
 * zeros, 3 to 18 a length of 1 to 16.  The code-length code is chosen from the
 * symbols this produces and sent first. */
void put_char_lengths(Encoder* e, const uint8_t* lengths) {
    unsigned n = CHAR_SYMBOLS;
    while (lengths[n - 1] == 0) n--;
    uint8_t items[CHAR_SYMBOLS];
    uint16_t extra[CHAR_SYMBOLS];
    unsigned item_count = 0;
    uint32_t freq[LENGTH_SYMBOLS] = {};
    for (unsigned i = 0; i < n;) {
        if (lengths[i] != 0) {
            items[item_count++] = (uint8_t)(lengths[i] + 2);
            freq[lengths[i] + 2]++;
            i++;
            continue;
        }
        unsigned run = 1;
        while (i + run < n && lengths[i + run] == 0) run++;
        i += run;
        while (run > 0) {
            if (run >= 20) {
                unsigned take = run < 531 ? run : 531;
                extra[item_count] = (uint16_t)(take - 20);
                items[item_count++] = 2;
                freq[2]++;
                run -= take;
            } else if (run == 19) {
                items[item_count++] = 0;
                freq[0]++;
                run--;
            } else if (run >= 3) {
                extra[item_count] = (uint16_t)(run - 3);
                items[item_count++] = 1;
                freq[1]++;
                run = 0;
            } else {
                items[item_count++] = 0;
                freq[0]++;
                run--;
            }
        }
    }
    uint8_t code_lengths[LENGTH_SYMBOLS];
    uint16_t codes[LENGTH_SYMBOLS];
    unsigned used = limited_code_lengths(freq, LENGTH_SYMBOLS, MAX_CODE_BITS, code_lengths);
    canonical_codes(code_lengths, LENGTH_SYMBOLS, codes);
    put_short_lengths(e, code_lengths, LENGTH_SYMBOLS, 5, true, used, first_used(freq, LENGTH_SYMBOLS));

    put_bits(e, n, 9);
    for (unsigned k = 0; k < item_count; k++) {
        unsigned c = items[k];
        put_bits(e, codes[c], code_lengths[c]);
        if (c == 1) put_bits(e, extra[k], 4);
        else if (c == 2) put_bits(e, extra[k], 9);
    }
}

/* One block: its size, the three codes, then its symbols.  `freq` holds the
 * block's character/length frequencies followed by its position frequencies. */
void write_block(Encoder* e, uint32_t first, uint32_t count, const uint32_t* freq) {
    const uint32_t* char_freq = freq;
    const uint32_t* position_freq = freq + CHAR_SYMBOLS;
    uint8_t char_lengths[CHAR_SYMBOLS];
    uint16_t char_codes[CHAR_SYMBOLS];
    uint8_t position_lengths[MAX_POSITION_SYMBOLS];
    uint16_t position_codes[MAX_POSITION_SYMBOLS];
    unsigned chars_used = limited_code_lengths(char_freq, CHAR_SYMBOLS, MAX_CODE_BITS, char_lengths);
    unsigned positions_used =
        limited_code_lengths(position_freq, e->position_symbols, MAX_CODE_BITS, position_lengths);
    canonical_codes(char_lengths, CHAR_SYMBOLS, char_codes);
    canonical_codes(position_lengths, e->position_symbols, position_codes);

    put_bits(e, count, 16);
    if (chars_used <= 1) {
        // Neither the code-length code nor any length is needed.
        put_bits(e, 0, 5);
        put_bits(e, 0, 5);
        put_bits(e, 0, 9);
        put_bits(e, first_used(char_freq, CHAR_SYMBOLS), 9);
    } else {
        put_char_lengths(e, char_lengths);
    }
    put_short_lengths(e, position_lengths, e->position_symbols, e->position_count_bits, false,
                      positions_used, first_used(position_freq, e->position_symbols));

    // The symbols.  Each one writes at most 16 + 16 + 15 bits in three calls, so the
    // output chunk is flushed every 1024 symbols to stay within its margin.
    const uint16_t* symbols = e->symbols + first;
    const uint16_t* positions = e->positions + first;
    for (uint32_t i = 0; i < count; i++) {
        unsigned s = symbols[i];
        put_bits(e, char_codes[s], char_lengths[s]);
        if (s >= 256) {
            uint32_t p = positions[i];
            unsigned j = position_symbol(p);
            put_bits(e, position_codes[j], position_lengths[j]);
            if (j > 1) put_bits(e, p & ((1u << (j - 1)) - 1), j - 1);
        }
        if ((i & 1023) == 1023 && e->out_used >= OUTPUT_CHUNK - 8 * 1024) flush_output(e);
    }
    if (e->out_used >= OUTPUT_CHUNK / 2) flush_output(e);
}

// ---- cutting blocks ------------------------------------------------------------

// f * log2(f) for every count a block can hold.
const float* count_log_table() {
    static float* table = nullptr;
    if (table == nullptr) {
        table = (float*)malloc((MAX_BLOCK_SYMBOLS + 1) * sizeof(float));
        if (table == nullptr) return nullptr;
        table[0] = 0;
        for (uint32_t f = 1; f <= MAX_BLOCK_SYMBOLS; f++) table[f] = (float)(f * log2((double)f));
    }
    return table;
}

/* Cuts the waiting symbols into blocks at segment boundaries so that their
 * reckoned cost is least: a shortest path over the boundaries.  A block's cost is
 * reckoned from its entropy, f * log2(total / f) summed over each code (the extra
 * bits of the positions are the same however the symbols are cut, so they are
 * left out), plus its tables: a fixed part and a few bits for every symbol used.
 * For each end of a block the candidate starts are taken from the nearest back,
 * adding one segment's non-zero counts at a time. */
void write_pending(Encoder* e) {
    if (e->pending == 0) return;
    uint32_t segments = e->segment + (e->pending > e->segment * e->segment_symbols ? 1 : 0);
    const uint32_t* rows = e->segment_freq;
    const float* flog = count_log_table();
    uint32_t block_freq[COUNTED_SYMBOLS];
    enum { MAX_SEGMENTS = MAX_BLOCK_SYMBOLS / 256 + 1 };
    uint32_t ends[MAX_SEGMENTS + 1];
    uint32_t blocks = 0;
    if (segments == 1 || flog == nullptr) {
        ends[blocks++] = segments;
    } else {
        // The non-zero counts of each segment, as (symbol, count) lists.
        uint16_t* used_symbols = e->used_symbols;
        uint32_t* used_counts = e->used_counts;
        uint32_t list_start[MAX_SEGMENTS + 1];
        uint32_t listed = 0;
        for (uint32_t k = 0; k < segments; k++) {
            list_start[k] = listed;
            for (unsigned s = 0; s < COUNTED_SYMBOLS; s++) {
                uint32_t f = rows[k * COUNTED_SYMBOLS + s];
                if (f != 0) {
                    used_symbols[listed] = (uint16_t)s;
                    used_counts[listed++] = f;
                }
            }
        }
        list_start[segments] = listed;

        double best[MAX_SEGMENTS + 1];
        uint32_t cut[MAX_SEGMENTS + 1];
        best[0] = 0;
        const double overhead = e->effort->block_overhead_bits;
        for (uint32_t j = 1; j <= segments; j++) {
            memset(block_freq, 0, sizeof block_freq);
            uint32_t totals[2] = {0, 0};
            double sums[2] = {0, 0};
            double table_bits = overhead;
            best[j] = -1;
            for (uint32_t i = j; i-- > 0;) {
                for (uint32_t n = list_start[i]; n < list_start[i + 1]; n++) {
                    unsigned s = used_symbols[n];
                    unsigned code = s >= CHAR_SYMBOLS;
                    uint32_t before = block_freq[s];
                    uint32_t after = before + used_counts[n];
                    block_freq[s] = after;
                    totals[code] += used_counts[n];
                    sums[code] += flog[after] - flog[before];
                    if (before == 0) table_bits += code ? 3.0 : 4.0;
                }
                double cost = best[i] + table_bits + flog[totals[0]] - sums[0] + flog[totals[1]] - sums[1];
                if (best[j] < 0 || cost < best[j]) {
                    best[j] = cost;
                    cut[j] = i;
                }
            }
        }
        for (uint32_t j = segments; j > 0; j = cut[j]) ends[blocks++] = j;
    }
    // The cuts were found back to front; the blocks go out front to back.
    uint32_t from = 0;
    while (blocks-- > 0) {
        uint32_t to = ends[blocks];
        memset(block_freq, 0, sizeof block_freq);
        for (uint32_t k = from; k < to; k++)
            for (unsigned s = 0; s < COUNTED_SYMBOLS; s++) block_freq[s] += rows[k * COUNTED_SYMBOLS + s];
        uint32_t first = from * e->segment_symbols;
        uint32_t last = to == segments ? e->pending : to * e->segment_symbols;
        write_block(e, first, last - first, block_freq);
        from = to;
    }
    e->pending = 0;
    e->segment = 0;
    e->segment_end = e->segment_symbols;
    memset(e->segment_freq, 0, e->max_segments * COUNTED_SYMBOLS * sizeof(uint32_t));
}

inline void count_symbol(Encoder* e, unsigned s) {
    e->segment_freq[e->segment * COUNTED_SYMBOLS + s]++;
}

inline void next_symbol(Encoder* e) {
    if (++e->pending == e->segment_end) {
        e->segment_end += e->segment_symbols;
        if (++e->segment == e->max_segments) write_pending(e);
    }
}

inline void emit_literal(Encoder* e, uint8_t c) {
    e->symbols[e->pending] = c;
    count_symbol(e, c);
    next_symbol(e);
}

inline void emit_match(Encoder* e, uint32_t length, uint32_t distance) {
    uint32_t p = distance - 1;
    unsigned s = length + MATCH_SYMBOL_BASE;
    e->symbols[e->pending] = (uint16_t)s;
    e->positions[e->pending] = (uint16_t)p;
    count_symbol(e, s);
    count_symbol(e, CHAR_SYMBOLS + position_symbol(p));
    next_symbol(e);
}

// ---- input and match finding -------------------------------------------------

/* Keeps at least MIN_LOOKAHEAD bytes ahead of `pos` while the input lasts.  When the
 * buffer is full, everything from a window (and a byte) behind `pos` on moves to
 * the front by a whole number of windows, and the hash tables move with it: entries
 * that fall off the front become 0. */
void fill_input(Encoder* e) {
    if (e->input_ended || e->end - e->pos >= MIN_LOOKAHEAD) return;
    uint32_t space = e->buffer_size - BUFFER_PAD - e->end;
    if (space < INPUT_CHUNK) {
        uint32_t delta = (e->pos - (e->window_size + 1)) / e->window_size * e->window_size;
        memmove(e->buffer, e->buffer + delta, e->end - delta);
        e->pos -= delta;
        e->end -= delta;
        for (uint32_t i = 0; i < HASH_SIZE; i++) e->head[i] = e->head[i] > delta ? e->head[i] - delta : 0;
        for (uint32_t i = 0; i < e->window_size; i++)
            e->prev[i] = e->prev[i] > delta ? e->prev[i] - delta : 0;
        space = e->buffer_size - BUFFER_PAD - e->end;
    }
    if (space > INPUT_CHUNK) space = INPUT_CHUNK;
    size_t got = fread(e->buffer + e->end, 1, space, e->in);
    if (got < space) {
        e->input_ended = true;
        if (ferror(e->in)) e->read_failed = true;
    }
    e->crc = crc16(e->crc, e->buffer + e->end, (uint32_t)got);
    e->end += (uint32_t)got;
    e->total_in += got;
    memset(e->buffer + e->end, 0, BUFFER_PAD);
    if (e->progress != nullptr) e->progress->advance(e->progress->context, e->total_in);
}

/* The chains hash the next four bytes, not three: a chain then holds only positions
 * that agree on four bytes, which keeps it short on text with a small vocabulary.
 * A match of three bytes is found only where a chain happens to hold one; such
 * matches are seldom worth a position.  Near the end of the input the fourth byte
 * is the zero padding: that only changes which chain the position joins. */
inline uint32_t hash4(const uint8_t* p) {
    return (load32(p) * 2654435761u) >> (32 - HASH_BITS);
}

// Enters `pos` into its hash chain; returns the previous head of that chain.
inline uint32_t insert_position(Encoder* e, uint32_t pos) {
    uint32_t h = hash4(e->buffer + pos);
    uint32_t previous = e->head[h];
    e->prev[pos & e->window_mask] = previous;
    e->head[h] = pos;
    return previous;
}

inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x = load64(a + n) ^ load64(b + n);
        // The first differing byte is the lowest set byte of x in memory order.
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        if (x != 0) return n + ((unsigned)__builtin_clzll(x) >> 3);
#else
        if (x != 0) return n + ((unsigned)__builtin_ctzll(x) >> 3);
#endif
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

/* Walks the chain from `candidate` for a match longer than `shorter_than` (at least
 * 2).  Returns its length and distance, or MIN_MATCH - 1 when there is none.  The
 * chain ends at a candidate beyond the window or one that is not older than the
 * last (a slot of `prev` that a newer position has taken over). */
uint32_t longest_match(Encoder* e, uint32_t candidate, uint32_t shorter_than, uint32_t* distance) {
    const MatchEffort* effort = e->effort;
    uint32_t lookahead = e->end - e->pos;
    uint32_t limit = lookahead < MAX_MATCH ? lookahead : (uint32_t)MAX_MATCH;
    uint32_t best = shorter_than;
    if (best >= limit) return MIN_MATCH - 1;
    uint32_t nice = effort->nice_length < limit ? effort->nice_length : limit;
    uint32_t chain = effort->max_chain;
    if (shorter_than >= effort->good_length) chain >>= 2;
    uint32_t oldest = e->pos - e->window_size;
    const uint8_t* scan = e->buffer + e->pos;
    uint32_t found = MIN_MATCH - 1;
    while (candidate >= oldest) {
        const uint8_t* match = e->buffer + candidate;
        // Only a candidate that agrees at the byte which would make it longer, and
        // at the start, is worth a full comparison.
        if (load16(match + best - 1) == load16(scan + best - 1) && load16(match) == load16(scan)) {
            uint32_t length = common_length(scan, match, limit);
            if (length > best) {
                best = found = length;
                *distance = e->pos - candidate;
                if (length >= nice) break;
            }
        }
        uint32_t next = e->prev[candidate & e->window_mask];
        if (next >= candidate || --chain == 0) break;
        candidate = next;
    }
    return found;
}

/* Lazy matching: a match found at one position is held back while the next position
 * is searched; when that finds a longer match, the held byte goes out as a literal
 * and the longer match is held instead. */
void compress(Encoder* e) {
    const MatchEffort* effort = e->effort;
    uint32_t match_length = MIN_MATCH - 1, match_distance = 0;
    bool literal_held = false;
    for (;;) {
        fill_input(e);
        if (e->gave_up || e->write_failed || e->read_failed) return;
        uint32_t lookahead = e->end - e->pos;
        if (lookahead == 0) break;
        uint32_t candidate = 0;
        if (lookahead >= MIN_MATCH) candidate = insert_position(e, e->pos);
        uint32_t previous_length = match_length, previous_distance = match_distance;
        match_length = MIN_MATCH - 1;
        if (candidate != 0 && previous_length < effort->max_lazy) {
            match_length = longest_match(e, candidate, previous_length, &match_distance);
            if (match_length == MIN_MATCH && match_distance > effort->far_three) match_length = MIN_MATCH - 1;
        }
        if (previous_length >= MIN_MATCH && match_length <= previous_length) {
            // The held match started one byte back; the rest of it enters the chains.
            emit_match(e, previous_length, previous_distance);
            uint32_t stop = e->pos - 1 + previous_length;
            for (e->pos++; e->pos < stop; e->pos++)
                if (e->end - e->pos >= MIN_MATCH) insert_position(e, e->pos);
            literal_held = false;
            match_length = MIN_MATCH - 1;
        } else if (literal_held) {
            emit_literal(e, e->buffer[e->pos - 1]);
            e->pos++;
        } else {
            literal_held = true;
            e->pos++;
        }
    }
    if (literal_held) emit_literal(e, e->buffer[e->pos - 1]);
    write_pending(e);
    flush_bits(e);
    flush_output(e);
}

void release(Encoder* e) {
    free(e->buffer);
    free(e->head);
    free(e->prev);
    free(e->symbols);
    free(e->positions);
    free(e->segment_freq);
    free(e->used_symbols);
    free(e->used_counts);
    free(e->out_bytes);
}

}  // namespace

EncodeOutcome encode_member(FILE* in, FILE* out, unsigned dictionary_bits, uint64_t give_up_at,
                            const EncodeProgress* progress, EncodedMember* result,
                            const MatchEffort* effort) {
    memset(result, 0, sizeof *result);
    Encoder encoder;
    Encoder* e = &encoder;
    memset(e, 0, sizeof *e);
    e->effort = effort;
    e->in = in;
    e->out = out;
    e->progress = progress;
    e->give_up_at = give_up_at;
    e->window_size = 1u << dictionary_bits;
    e->window_mask = e->window_size - 1;
    // Position codes: 14 with a 4-bit count up to 8 KiB windows, else 16 or 17 with a
    // 5-bit count.
    e->position_symbols = dictionary_bits <= 14 ? 14 : dictionary_bits == 16 ? 17 : 16;
    e->position_count_bits = dictionary_bits <= 14 ? 4 : 5;
    // Blocks are cut at segment boundaries; a segment is 256 symbols or more, and
    // the segments waiting to be cut hold at most the largest block.
    uint32_t max_block = effort->max_block_symbols;
    if (max_block == 0 || max_block > MAX_BLOCK_SYMBOLS) max_block = MAX_BLOCK_SYMBOLS;
    e->segment_symbols = effort->segment_symbols < 256 ? 256u : effort->segment_symbols;
    if (e->segment_symbols > max_block) e->segment_symbols = max_block;
    e->max_segments = max_block / e->segment_symbols;
    e->segment_end = e->segment_symbols;
    e->buffer_size = 2 * e->window_size + 1 + INPUT_CHUNK + MAX_MATCH + BUFFER_PAD;
    e->buffer = (uint8_t*)calloc(e->buffer_size, 1);
    e->head = (uint32_t*)calloc(HASH_SIZE, sizeof(uint32_t));
    e->prev = (uint32_t*)calloc(e->window_size, sizeof(uint32_t));
    e->symbols = (uint16_t*)malloc(MAX_BLOCK_SYMBOLS * sizeof(uint16_t));
    e->positions = (uint16_t*)malloc(MAX_BLOCK_SYMBOLS * sizeof(uint16_t));
    e->out_bytes = (uint8_t*)malloc(OUTPUT_CHUNK);
    e->segment_freq = (uint32_t*)calloc(e->max_segments * COUNTED_SYMBOLS, sizeof(uint32_t));
    // A segment has at most one non-zero count per symbol and two per match.
    e->used_symbols = (uint16_t*)malloc(2 * MAX_BLOCK_SYMBOLS * sizeof(uint16_t));
    e->used_counts = (uint32_t*)malloc(2 * MAX_BLOCK_SYMBOLS * sizeof(uint32_t));
    if (e->segment_freq == nullptr || e->used_symbols == nullptr || e->used_counts == nullptr || e->buffer == nullptr || e->head == nullptr || e->prev == nullptr || e->symbols == nullptr ||
        e->positions == nullptr || e->out_bytes == nullptr) {
        release(e);
        return ENCODE_NO_MEMORY;
    }
    e->pos = e->end = e->window_size + 1;

    compress(e);
    release(e);
    result->original_size = (uint32_t)e->total_in;
    result->packed_size = (uint32_t)e->out_total;
    result->crc = e->crc;
    if (e->read_failed) return ENCODE_READ_ERROR;
    if (e->write_failed) return ENCODE_WRITE_ERROR;
    if (e->total_in > UINT32_MAX) return ENCODE_TOO_LARGE;
    if (e->gave_up || e->out_total >= e->total_in) return ENCODE_NOT_SMALLER;
    return ENCODED;
}
