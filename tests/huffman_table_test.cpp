// Canonical Huffman tables: the direct table, the overflow tree, decoding through
// both, and lengths that form no usable code.
#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "decode/bit_input.h"
#include "decode/decode_driver.h"
#include "decode/huffman_table.h"
#include "tests/support/test_support.h"

namespace {

// Points the bit input at `data` (which must outlive the decoding) as a whole member,
// leaving the codes as they were built.
void start_bits(Bytes& data) {
    decoder.input.data = data.data();
    decoder.input.size = (uint32_t)data.size();
    decoder.input.read_index = 0;
    decoder.bits = BitReader();
    decoder.bits.packed_bytes_left = (uint32_t)data.size();
    init_bit_reader();
}

// The small code of a member that has just started, with the given lengths.
struct Built {
    uint8_t* lengths;
    uint16_t* table;
    Built() {
        start_member_state(nullptr, 0, 16, 0);
        lengths = code_lengths(SMALL_CODE);
        table = code_table(SMALL_CODE);
    }
};

// Builds the 8-bit table over a table first filled with `fill`.
void build_small(Built& b, int symbol_count, uint16_t fill = 0x7777) {
    for (int i = 0; i < 256; i++) b.table[i] = fill;
    decoder.member_damaged = false;
    build_huffman_table(SMALL_CODE, symbol_count);
}

TEST(HuffmanTable, LongCodesHangFromTheTableAsATree) {
    Built b;
    const uint8_t lengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 9};
    memcpy(b.lengths, lengths, sizeof lengths);
    build_small(b, 10);
    EXPECT_FALSE(decoder.member_damaged);
    EXPECT_EQ(b.table[253], 6);
    EXPECT_EQ(b.table[254], 7);
    EXPECT_EQ(b.table[255], 10);  // a tree node: its children hold the 9-bit codes

    // Node 10's children, 111111110 and 111111111, then 110 and a marker: symbols
    // 8 and 9 take nine bits, symbol 2 three.
    BitWriter w;
    w.put_bits("111111110 111111111 110 11111110");
    w.put(0xA5C3, 16);
    Bytes data = w.finish();
    start_bits(data);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 10), 8);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 10), 9);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 10), 2);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 10), 7);
    EXPECT_EQ(decoder.bits.bit_buffer, 0xA5C3);
    EXPECT_FALSE(decoder.member_damaged);
}

TEST(HuffmanTable, IncompleteCodesDecodeUnusedEntriesAsSymbolZero) {
    Built b;
    b.lengths[2] = 1;  // a single symbol of length 1 in a 3-symbol alphabet
    build_small(b, 3);
    EXPECT_FALSE(decoder.member_damaged);
    for (int i = 0; i < 256; i++) ASSERT_EQ(b.table[i], i < 128 ? 2 : 0) << "entry " << i;

    // An unused tree child is symbol 0 too, with symbol 0's own length.
    Built t;
    t.lengths[0] = 1;  // 0
    t.lengths[1] = 9;  // 1000 0000 0; 1000 0000 1 is unused
    build_small(t, 3);
    EXPECT_FALSE(decoder.member_damaged);
    BitWriter w;
    w.put_bits("100000000 100000001");
    w.put(0x1234, 16);
    Bytes data = w.finish();
    start_bits(data);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 3), 1);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 3), 0);  // takes one bit
    EXPECT_EQ(decoder.bits.bit_buffer >> 8, 0x01u);                      // "00000001" + marker
    EXPECT_EQ(decode_with_table(SMALL_CODE, 3), 0);
    skip_bits(6);
    EXPECT_EQ(read_bits(1), 1);
    EXPECT_EQ(decoder.bits.bit_buffer, 0x1234);
    EXPECT_FALSE(decoder.member_damaged);
}

TEST(HuffmanTable, OnlyLongCodesClearTheWholeTable) {
    // No code fits the table: every entry of an earlier build must go, or the tree
    // would hang under stale node numbers.
    Built b;
    b.lengths[5] = 10;
    build_small(b, 19, 300);
    EXPECT_FALSE(decoder.member_damaged);
    EXPECT_GE(b.table[0], 19);
    for (int i = 1; i < 256; i++) ASSERT_EQ(b.table[i], 0) << "entry " << i;
    BitWriter w;
    w.put_bits("0000000000");
    w.put(0xBEEF, 16);
    Bytes data = w.finish();
    start_bits(data);
    EXPECT_EQ(decode_with_table(SMALL_CODE, 19), 5);
    EXPECT_EQ(decoder.bits.bit_buffer, 0xBEEF);
}

TEST(HuffmanTable, AllZeroLengthsLeaveTheTableAsItWas) {
    Built b;
    for (int i = 0; i < 256; i++) b.table[i] = (uint16_t)(i * 7);
    decoder.member_damaged = false;
    build_huffman_table(SMALL_CODE, 19);
    EXPECT_FALSE(decoder.member_damaged);
    for (int i = 0; i < 256; i++) ASSERT_EQ(b.table[i], i * 7) << "entry " << i;
}

// The walk through the tree relies on every entry being a symbol or a node of the
// arrays: a single code's value outside its alphabet would stand in the table as a
// tree node, so it is refused and the code stays as it was.
TEST(HuffmanTable, ASingleCodeFillsTheTableOnlyWithASymbolOfItsAlphabet) {
    Built b;
    b.lengths[3] = 5;
    decoder.member_damaged = false;
    set_single_code(SMALL_CODE, 14, 13);
    EXPECT_FALSE(decoder.member_damaged);
    EXPECT_EQ(b.lengths[3], 0);
    for (int i = 0; i < 256; i++) ASSERT_EQ(b.table[i], 13) << "entry " << i;

    set_single_code(SMALL_CODE, 14, 14);
    EXPECT_TRUE(decoder.member_damaged);
    for (int i = 0; i < 256; i++) ASSERT_EQ(b.table[i], 13) << "entry " << i;
    decoder.member_damaged = false;
}

TEST(HuffmanTable, LengthsThatFormNoCodeAreRefusedInBounds) {
    {
        SCOPED_TRACE("a length above 16");
        Built b;
        b.lengths[0] = 1;
        b.lengths[1] = 17;
        build_small(b, 2);
        EXPECT_TRUE(decoder.member_damaged);
    }
    {
        SCOPED_TRACE("over-subscribed: three codes of one bit");
        Built b;
        b.lengths[0] = b.lengths[1] = b.lengths[2] = 1;
        build_small(b, 3);
        EXPECT_TRUE(decoder.member_damaged);
    }
    {
        // In 16-bit sums the extra code wraps the total round to a tiny one.
        SCOPED_TRACE("over-subscribed by one code of 16 bits");
        Built b;
        b.lengths[0] = b.lengths[1] = 1;
        b.lengths[2] = 16;
        build_small(b, 3);
        EXPECT_TRUE(decoder.member_damaged);
    }
    {
        // A 128-symbol code that is not over-subscribed, but whose long codes end
        // on a path of single-child nodes: 134 nodes, and only node numbers 128 to
        // 255 belong to a small table.
        SCOPED_TRACE("more nodes than the small tree may number");
        Built b;
        b.lengths[0] = 15;
        for (int s = 1; s < 128; s++) b.lengths[s] = 16;
        build_small(b, 128);
        EXPECT_TRUE(decoder.member_damaged);
    }
    decoder.member_damaged = false;
}

// Lengths of a complete code over `used` of `symbol_count` symbols, none longer than
// 16 bits: leaves split at random from a single one, then shuffled over the symbols.
std::vector<uint8_t> random_complete_lengths(std::mt19937& rng, int symbol_count, int used) {
    std::vector<uint8_t> leaves = {0};
    while ((int)leaves.size() < used) {
        size_t k = rng() % leaves.size();
        if (leaves[k] == MAX_CODE_LENGTH) continue;
        leaves[k]++;
        leaves.push_back(leaves[k]);
    }
    leaves.resize(symbol_count, 0);
    std::shuffle(leaves.begin(), leaves.end(), rng);
    return leaves;
}

// The fast table of a code holds, entry for entry, the symbol of the direct table
// and its length, or SLOW_ENTRY for a tree node: for complete codes, incomplete ones
// (symbols dropped, unused entries decoding as symbol 0), codes that are all tree,
// single-value codes, and all-zero lengths that left an earlier table in place.
TEST(HuffmanTable, FastTablesHoldEachEntrysSymbolAndLength) {
    std::mt19937 rng(77);
    struct Kind {
        HuffmanCode code;
        int symbol_count;
        int table_bits;
    };
    const Kind kinds[] = {{CHAR_CODE, CHAR_CODES, CHAR_TABLE_BITS},
                          {SMALL_CODE, 17, SMALL_TABLE_BITS},
                          {SMALL_CODE, 14, SMALL_TABLE_BITS}};
    for (const Kind& kind : kinds) {
        for (int round = 0; round < 60; round++) {
            SCOPED_TRACE(std::to_string(kind.symbol_count) + " symbols, round " + std::to_string(round));
            start_member_state(nullptr, 0, 16, 0);
            decoder.member_damaged = false;
            const int form = round % 6;
            uint8_t* lengths = code_lengths(kind.code);
            if (form == 5) {
                set_single_code(kind.code, kind.symbol_count, (uint16_t)(rng() % kind.symbol_count));
            } else {
                const int used = 2 + (int)(rng() % (kind.symbol_count - 1));
                std::vector<uint8_t> l = random_complete_lengths(rng, kind.symbol_count, used);
                if (form == 1 || form == 2)  // incomplete: some codes left out
                    for (uint8_t& x : l)
                        if (rng() % 3 == 0) x = 0;
                if (form == 3)  // long codes only
                    for (uint8_t& x : l) x = x != 0 ? (uint8_t)std::max<int>(x, kind.table_bits + 1) : 0;
                if (form == 4) {  // a table of an earlier build stays under all-zero lengths
                    std::copy(l.begin(), l.end(), lengths);
                    build_huffman_table(kind.code, kind.symbol_count);
                    std::fill(l.begin(), l.end(), 0);
                }
                std::copy(l.begin(), l.end(), lengths);
                build_huffman_table(kind.code, kind.symbol_count);
            }
            if (decoder.member_damaged) continue;  // long codes only may want too many nodes
            std::vector<uint16_t> fast(1u << kind.table_bits, 0x5555);
            derive_fast_table(kind.code, (unsigned)kind.symbol_count, fast.data());
            const uint16_t* table = code_table(kind.code);
            for (uint32_t i = 0; i < fast.size(); i++) {
                const unsigned s = table[i];
                const uint16_t expected = s < (unsigned)kind.symbol_count ? (uint16_t)(s << FAST_SYMBOL_SHIFT | lengths[s])
                                                                          : (uint16_t)SLOW_ENTRY;
                ASSERT_EQ(fast[i], expected) << "entry " << i;
            }
        }
    }
    decoder.member_damaged = false;
}

}  // namespace
