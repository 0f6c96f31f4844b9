// The adaptive trees of "-lh1-" and "-lh2-": codes derived by hand, the growth of
// the position tree, and long streams encoded by an independent model of the same
// rules, in which both trees are rebuilt at WEIGHT_LIMIT.
#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "decode/adaptive_huffman.h"
#include "decode/bit_input.h"
#include "decode/method_table.h"
#include "engine/extraction_loop.h"
#include "tests/support/adaptive_reference.h"
#include "tests/support/member_decoding.h"

namespace {

// The decoder's own model, read node by node.
AdaptiveModel& model = decoder.adaptive.model;

// The bookkeeping of nodes [first, end): weights in order, internal weights the sum
// of their children, links both ways, and runs that are exactly the maximal groups
// of equal weight with run_head on their lowest node.
void expect_consistent_tree(int first, int end) {
    for (int i = first; i < end; i++) {
        int x = model.down_link[i];
        if (x < 0) {
            EXPECT_EQ(model.leaf_of_symbol[-1 - x], i) << "leaf " << i;
        } else {
            ASSERT_TRUE(x > i && x < end) << "node " << i;
            EXPECT_EQ(model.up_link[x], i);
            EXPECT_EQ(model.up_link[x - 1], i);
            if (i != POSITION_ROOT) {
                EXPECT_EQ(model.node_weight[i], model.node_weight[x] + model.node_weight[x - 1]);
            }
        }
        if (i == POSITION_ROOT) continue;  // once grown it weighs 0xFFFF, outside any run
        if (i > first && i - 1 != POSITION_ROOT) {
            EXPECT_LE(model.node_weight[i], model.node_weight[i - 1]) << "node " << i;
            EXPECT_EQ(model.node_weight[i] == model.node_weight[i - 1], model.node_run[i] == model.node_run[i - 1])
                << "node " << i;
        }
        bool starts_group = i == first || i - 1 == POSITION_ROOT || model.node_weight[i] != model.node_weight[i - 1];
        if (starts_group) {
            EXPECT_EQ(model.run_head[model.node_run[i]], i) << "node " << i;
        }
        EXPECT_NE(model.node_run[i], 0) << "node " << i;
    }
}

void expect_consistent_model() {
    expect_consistent_tree(CHAR_ROOT, 2 * (int)model.adaptive_symbol_count - 1);
    if (model.last_position_node > POSITION_ROOT)
        expect_consistent_tree(POSITION_ROOT, (int)model.last_position_node + 1);
}

Bytes bits_of(const char* pattern) {
    BitWriter w;
    w.put_bits(pattern);
    return w.finish();
}

// Worked out by hand from the starting "-lh2-" tree: 'A' (65) is the leaf at node 505,
// code 00000101.  Counting it trades places with the head of the leaves' run, node 285
// (symbol 285), so 'A' then has node 285's code 11100001 and the escape 285 has
// 00000101.  Symbol 256 (node 314, 11000100) is not moved.  The first position takes
// no tree bits, only its 6 plain bits.
TEST(AdaptiveHuffman, HandDerivedLh2Codes) {
    DecodedMember m = decode_packed(bits_of("00000101 11100001 11000100 000001"), 5, METHOD_LH2);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(std::string(m.output.begin(), m.output.end()), "AAAAA");

    // 'A', then the escape in 'A's old place with 8 one bits: 540, a match of 287
    // bytes at distance 1.
    m = decode_packed(bits_of("00000101 00000101 11111111 000000"), 288, METHOD_LH2);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(m.output, Bytes(288, 'A'));

    LoadedInput input(bits_of("00000101 11100001 00000101 00000000"), 13);
    begin_lh2();
    EXPECT_EQ(read_adaptive_symbol(), 'A');
    EXPECT_EQ(model.leaf_of_symbol['A'], 285);
    EXPECT_EQ(model.leaf_of_symbol[285], 505);
    EXPECT_EQ(read_adaptive_symbol(), 'A');
    EXPECT_EQ(read_adaptive_symbol(), 285);
    EXPECT_EQ(input.bits_consumed(), 32u);
    expect_consistent_model();
}

TEST(AdaptiveHuffman, PositionTreeGrowsPastEach64Bytes) {
    LoadedInput input(bits_of("101010 1 010101 0 000111"), 13);
    begin_lh2();
    decoder.decoded_count = 64;  // not more than 64: still the single leaf, no tree bits
    EXPECT_EQ(read_adaptive_position(), 42);
    EXPECT_EQ(model.last_position_node, (uint32_t)POSITION_ROOT);
    EXPECT_EQ(input.bits_consumed(), 6u);

    decoder.decoded_count = 65;  // symbol 1 joins: symbol 0 moves to node 629 (1 bit)
    EXPECT_EQ(read_adaptive_position(), 21);
    EXPECT_EQ(input.bits_consumed(), 13u);
    EXPECT_EQ(model.last_position_node, 630u);
    EXPECT_EQ(model.leaf_of_symbol[314], 629);
    EXPECT_EQ(model.leaf_of_symbol[315], 630);
    EXPECT_EQ(model.node_weight[POSITION_ROOT], 0xFFFF);
    EXPECT_EQ(model.node_weight[629], 2);  // symbol 0, counted once after the growth
    EXPECT_EQ(model.node_weight[630], 1);  // symbol 1, counted as it joined
    EXPECT_EQ(model.position_updates, 3);
    expect_consistent_model();

    EXPECT_EQ(read_adaptive_position(), 64 + 7);  // 0 bit: symbol 1
    EXPECT_EQ(model.position_updates, 4);

    // A late read adds every symbol it passed, in order.
    decoder.decoded_count = 200;
    read_adaptive_position();
    EXPECT_EQ(model.last_position_node, 634u);
    EXPECT_EQ(model.leaf_of_symbol[316] > 630 && model.leaf_of_symbol[317] > 630, true);
    EXPECT_EQ(model.next_growth_count, 256u);
    expect_consistent_model();
}

// A model that needs more runs than the stack holds cannot be followed: the member
// ends as damaged and the reads after it stay inside the node store.
TEST(AdaptiveHuffman, RunStackExhaustionEndsTheMemberAsDamaged) {
    LoadedInput input(bits_of("00000101 00000101 11111111"), 13);
    begin_lh2();
    model.free_runs_top = RUN_NUMBERS;
    read_adaptive_symbol();  // counting 'A' needs a new run for node 142
    EXPECT_TRUE(decoder.member_damaged);
    EXPECT_EQ(read_adaptive_symbol(), 0);
    decoder.decoded_count = 1000;
    EXPECT_EQ(read_adaptive_position(), 0);
}

struct EncodedStream {
    Bytes packed;
    Bytes expected;
    uint32_t positions = 0;
};

// Literals from a small, skewed alphabet and matches of mostly short lengths with
// mostly near distances, as an LZ encoder would emit them.  Distances may reach
// before the first byte, into the spaces the window starts with.
EncodedStream encode_lh2(uint32_t items, uint32_t seed) {
    std::mt19937 rng(seed);
    AdaptiveReference model(286);
    BitWriter w;
    std::vector<LzItem> plan;
    uint32_t produced = 0;
    EncodedStream s;
    for (uint32_t k = 0; k < items; k++) {
        if (rng() % 10 < 4) {
            uint16_t byte = (uint16_t)('a' + std::geometric_distribution<int>(0.2)(rng) % 200);
            model.put_symbol(w, byte);
            plan.push_back({byte, 0});
            produced++;
        } else {
            unsigned length = rng() % 20 == 0 ? 3 + rng() % 285 : 3 + rng() % 6;
            // Only the symbols the position tree has grown to can be coded.
            unsigned reach = produced == 0 ? 64 : std::min(8192u, ((produced - 1) / 64 + 1) * 64);
            unsigned position = (rng() % 4 == 0 ? rng() % 8192 : rng() % 300) % reach;
            model.put_symbol(w, length + 253);
            model.put_position(w, position, produced);
            plan.push_back({(uint16_t)(length + 253), (uint16_t)position});
            produced += length;
            s.positions++;
        }
    }
    s.packed = w.finish();
    s.expected = expand_items(plan, 8192, 253);
    return s;
}

// A short stream through the first growths of the position tree, and a long one in
// which both trees are rebuilt several times, decode to exactly what was encoded.
TEST(AdaptiveHuffman, DecodesStreamsOfAnIndependentEncoder) {
    for (uint32_t items : {60u, 400u, 90000u}) {
        EncodedStream s = encode_lh2(items, items);
        if (items == 90000u) {
            ASSERT_GT(s.positions, 3u * WEIGHT_LIMIT / 2);  // each tree rebuilt twice
        }
        DecodedMember m = decode_packed(s.packed, (uint32_t)s.expected.size(), METHOD_LH2);
        EXPECT_EQ(m.result, DECODE_COMPLETE) << items;
        EXPECT_TRUE(m.output == s.expected) << items << " items";
        expect_consistent_model();
    }
}

Bytes decode_with_reference(const ArchiveMember& member, bool count_lone_position_leaf) {
    AdaptiveReference model(286, count_lone_position_leaf);
    BitSource in(member.packed);
    std::vector<LzItem> plan;
    uint32_t produced = 0;
    while (produced < member.original_size) {
        unsigned symbol = model.get_symbol(in);
        unsigned position = 0;
        if (symbol >= 256) position = model.get_position(in, produced);
        plan.push_back({(uint16_t)symbol, (uint16_t)position});
        produced += symbol < 256 ? 1 : symbol - 253;
    }
    return expand_items(plan, 8192, 253);
}

// The corpus' "-lh2-" encoder counts the position tree's single starting leaf.  The
// independent model with that one departure reproduces its members exactly, and so
// does the decoder by the older encoders' rule, while the format's reading fails
// every one of them.
TEST(AdaptiveHuffman, CorpusLh2MembersDepartOnlyInTheLoneLeafCount) {
    int lh2_members = 0;
    for (const char* archive : {"lh2_level0.lzh", "lh2_level2.lzh", "lh2_long.lzh"}) {
        for (const ArchiveMember& member : read_archive_members(corpus_path(archive))) {
            if (member.method != "-lh2-") continue;
            lh2_members++;
            Bytes departed = decode_with_reference(member, true);
            EXPECT_EQ(crc16_of(departed), member.crc) << member.name;

            DecodedMember faithful = decode_packed(member.packed, member.original_size, METHOD_LH2);
            bool failed = faithful.result == DECODE_DAMAGED || crc16_of(faithful.output) != member.crc;
            EXPECT_TRUE(failed) << member.name;
            Bytes model = decode_with_reference(member, false);
            model.resize(faithful.output.size());
            EXPECT_TRUE(model == faithful.output) << member.name;

            DecodedMember older = decode_packed(member.packed, member.original_size, METHOD_LH2,
                                                UINT32_MAX, false, nullptr, 1);
            EXPECT_EQ(older.result, DECODE_COMPLETE) << member.name;
            EXPECT_EQ(older.crc, member.crc) << member.name;
            EXPECT_TRUE(older.output == departed) << member.name;
        }
    }
    EXPECT_GE(lh2_members, 10);
}

}  // namespace
