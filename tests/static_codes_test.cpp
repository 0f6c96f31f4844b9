// The static codes: the built-in position codes of "-lh1-" and "-lh3-", and the
// "-lh3-" blocks with their escapes, encoded here from code lengths.
#include <random>

#include <gtest/gtest.h>

#include "decode/bit_input.h"
#include "decode/huffman_table.h"
#include "decode/method_table.h"
#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"

namespace {

// The lengths of the ready-made "-lh3-" position code: codes below 1 take 2 bits,
// below 3 take 4 bits, ... below 128 take 9 bits.
std::vector<uint8_t> ready_made_lh3() {
    static const int ranges[][2] = {{1, 2}, {3, 4}, {6, 5}, {13, 6}, {31, 7}, {78, 8}, {128, 9}};
    std::vector<uint8_t> lengths;
    for (const auto& r : ranges)
        while ((int)lengths.size() < r[0]) lengths.push_back((uint8_t)r[1]);
    return lengths;
}

struct Lh3Block {
    std::vector<uint8_t> char_lengths = std::vector<uint8_t>(286, 0);
    std::vector<uint8_t> position_lengths;  // empty: the ready-made row
    std::vector<LzItem> items;
};

void put_lh3_block(BitWriter& w, const Lh3Block& b) {
    w.put((uint32_t)b.items.size(), 16);
    for (uint8_t l : b.char_lengths) {
        w.put(l != 0, 1);
        if (l != 0) w.put(l - 1u, 4);
    }
    w.put(!b.position_lengths.empty(), 1);
    for (uint8_t l : b.position_lengths) w.put(l, 4);
    std::vector<uint8_t> pl = b.position_lengths.empty() ? ready_made_lh3() : b.position_lengths;
    std::vector<uint32_t> cc = canonical_codes(b.char_lengths), pc = canonical_codes(pl);
    for (const LzItem& item : b.items) {
        unsigned s = item.symbol < 285 ? item.symbol : 285;
        w.put(cc[s], b.char_lengths[s]);
        if (s == 285) w.put(item.symbol - 285u, 8);
        if (item.symbol >= 256) {
            w.put(pc[item.position / 64], pl[item.position / 64]);
            w.put(item.position % 64, 6);
        }
    }
}

// A block whose whole character code is the escape: every symbol is `only`.
void put_single_symbol_header(BitWriter& w, uint16_t count, uint16_t only) {
    w.put(count, 16);
    w.put_bits("10000 10000 10000");
    w.put(only, 9);
}

// 300 literals, then a block whose position code is the escape alone, written in
// `escape_bits` bits (10 by the format, 7 by older encoders), and two matches of
// positions 3*64+5 and 3*64.  `expected` gets what the stream stands for.
Bytes lh3_single_position_stream(unsigned escape_bits, Bytes* expected) {
    BitWriter p;
    Lh3Block literals;
    for (int s = 0; s < 256; s++) literals.char_lengths[s] = 8;
    for (int i = 0; i < 300; i++) literals.items.push_back({(uint16_t)(i * 7 % 256), 0});
    put_lh3_block(p, literals);
    put_single_symbol_header(p, 2, 256);
    p.put_bits("1 0001 0001 0001");
    p.put(3, escape_bits);
    p.put_bits("000101 000000");
    std::vector<LzItem> items = literals.items;
    items.push_back({256, 3 * 64 + 5});
    items.push_back({256, 3 * 64});
    *expected = expand_items(items, 8192, 253);
    return p.finish();
}


TEST(StaticCodes, Lh1PositionsTakeTheFixedCode) {
    BitWriter w;
    w.put_bits("000 000101  11111111 111111  0010 000000");
    LoadedInput input(w.finish(), 12);
    begin_lh1();
    EXPECT_EQ(read_lh1_position(), 5);     // code 0 (3 bits): distance 6
    EXPECT_EQ(input.bits_consumed(), 9u);
    EXPECT_EQ(read_lh1_position(), 4095);  // code 63: eight 1 bits
    EXPECT_EQ(read_lh1_position(), 64);    // code 1: 4 bits
    EXPECT_EQ(input.bits_consumed(), 33u);
}

// Two blocks: the first with the ready-made position code (2 to 9 bits, the 9-bit
// codes through the overflow tree) and escaped lengths up to 287; the second with
// explicit position lengths and character codes longer than the 12-bit table.
TEST(StaticCodes, Lh3BlocksDecodeToTheirItems) {
    std::mt19937 rng(3);
    BitWriter w;
    std::vector<LzItem> all;
    Lh3Block first;
    for (int s = 0; s < 256; s++) first.char_lengths[s] = 9;
    for (int s = 256; s < 286; s++) first.char_lengths[s] = 6;
    for (int i = 0; i < 300; i++) first.items.push_back({(uint16_t)(rng() % 256), 0});
    first.items.push_back({285, 8191});
    first.items.push_back({540, 0});
    first.items.push_back({256, 63});
    for (int i = 0; i < 200; i++) {
        bool match = rng() % 2;
        first.items.push_back(match ? LzItem{(uint16_t)(256 + rng() % 285), (uint16_t)(rng() % 8192)}
                                    : LzItem{(uint16_t)(rng() % 256), 0});
    }
    Lh3Block second;
    for (int s = 0; s < 286; s++) second.char_lengths[s] = 13;
    for (int s = 'a'; s <= 'z'; s++) second.char_lengths[s] = 5;
    second.position_lengths.assign(128, 7);
    for (int i = 0; i < 300; i++) {
        bool match = rng() % 3 == 0;
        second.items.push_back(match ? LzItem{(uint16_t)(256 + rng() % 285), (uint16_t)(rng() % 8192)}
                                     : LzItem{(uint16_t)(rng() % 3 ? 'a' + rng() % 26 : rng() % 256), 0});
    }
    put_lh3_block(w, first);
    put_lh3_block(w, second);
    all = first.items;
    all.insert(all.end(), second.items.begin(), second.items.end());
    Bytes expected = expand_items(all, 8192, 253);

    DecodedMember m = decode_packed(w.finish(), (uint32_t)expected.size(), METHOD_LH3);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_TRUE(m.output == expected);
}

TEST(StaticCodes, Lh3SingleSymbolEscapes) {
    BitWriter w;  // 'x' five times, no bits per symbol
    put_single_symbol_header(w, 5, 'x');
    w.put(0, 1);
    DecodedMember m = decode_packed(w.finish(), 5, METHOD_LH3);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), "xxxxx");

    // 'Q', then two escapes 285 with their 8 bits: 00000000 (length 32) and
    // 11111111 (length 287), each with a 2-bit ready-made position code.
    BitWriter e;
    put_single_symbol_header(e, 1, 'Q');
    e.put(0, 1);
    put_single_symbol_header(e, 2, 285);
    e.put(0, 1);
    e.put_bits("00000000 00 000000  11111111 00 000000");
    m = decode_packed(e.finish(), 1 + 32 + 287, METHOD_LH3);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(m.output, Bytes(320, 'Q'));

    // A block of 0 symbols stands for 65,536 of them.
    BitWriter z;
    put_single_symbol_header(z, 0, 'z');
    z.put(0, 1);
    put_single_symbol_header(z, 1, 'y');
    z.put(0, 1);
    m = decode_packed(z.finish(), 65537, METHOD_LH3);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), std::string(65536, 'z') + "y");

    // The position escape: code 3 for every position, no bits, then the 6 low bits.
    Bytes expected;
    Bytes packed = lh3_single_position_stream(10, &expected);
    m = decode_packed(packed, (uint32_t)expected.size(), METHOD_LH3);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_TRUE(m.output == expected);
}

// Older "-lh3-" encoders write the single position code in 7 bits.  Read by their
// rule it decodes; the format's reading takes 10 bits and goes wrong.  Through the
// engine the format's reading comes first, and the member is kept by the older
// rule's reading, written whole, in extraction and in test mode alike.
TEST(StaticCodes, Lh3SinglePositionCodeOfTheOlderEncoders) {
    Bytes expected;
    Bytes packed = lh3_single_position_stream(7, &expected);
    const uint32_t size = (uint32_t)expected.size();

    DecodedMember older = decode_packed(packed, size, METHOD_LH3, UINT32_MAX, false, nullptr, 1);
    EXPECT_EQ(older.result, DECODE_COMPLETE);
    EXPECT_TRUE(older.output == expected);
    DecodedMember format = decode_packed(packed, size, METHOD_LH3);
    EXPECT_FALSE(format.result == DECODE_COMPLETE && format.output == expected);

    TestMember member;
    member.method = "-lh3-";
    member.name = "older.bin";
    member.level = 2;
    member.data = packed;
    member.original_size = size;
    member.crc = older.crc;
    member.crc_given = true;
    TestMember broken = member;  // neither reading matches its CRC-16
    broken.name = "broken.bin";
    broken.crc = (uint16_t)(older.crc ^ 1);
    ScratchFolder scratch;
    write_file(scratch / "older.lzh", build_archive({member, broken}));
    {
        ReportRecorder recorder;
        EngineRun run = run_engine_on(scratch / "older.lzh");
        // The failure reported is the format's reading's.
        EXPECT_EQ(run.failure_count, 1u);
        ASSERT_EQ(recorder.failures.size(), 1u);
        EXPECT_EQ(recorder.failures[0].name, "broken.bin");
        EXPECT_EQ(recorder.older_readings, std::vector<std::string>{"older.bin"});
        EXPECT_TRUE(read_file(scratch / "older.bin") == expected);
    }
    ToolRun tested = run_tool({"test", scratch / "older.lzh"});
    EXPECT_EQ(tested.status, 1);
    EXPECT_NE(tested.out.find("older.bin: CRC-16 OK (read by the older encoders' rule)"),
              std::string::npos)
        << tested.out;
    EXPECT_NE(tested.err.find("broken.bin: "), std::string::npos) << tested.err;
}

// A member ends where the driver stops, in the middle of a block; the next member
// starts with a block of its own.
TEST(StaticCodes, Lh3MemberStartsWithANewBlock) {
    BitWriter a;
    put_single_symbol_header(a, 10, 'a');
    a.put(0, 1);
    EXPECT_EQ(text_of(decode_packed(a.finish(), 3, METHOD_LH3).output), "aaa");
    BitWriter b;
    put_single_symbol_header(b, 2, 'b');
    b.put(0, 1);
    DecodedMember m = decode_packed(b.finish(), 2, METHOD_LH3);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), "bb");
}

// Values outside the alphabets and lengths that form no code end the member as
// damaged; a block without position lengths is sound while it has no matches.
TEST(StaticCodes, Lh3InvalidCodesEndAsDamaged) {
    auto decode_bits = [](BitWriter& w, uint32_t size) {
        return decode_packed(w.finish(), size, METHOD_LH3).result;
    };
    for (uint16_t only : {286, 511}) {
        BitWriter w;
        put_single_symbol_header(w, 4, only);
        w.put(0, 1);
        EXPECT_EQ(decode_bits(w, 4), DECODE_DAMAGED) << only;
    }
    for (uint16_t only : {128, 1023}) {
        BitWriter w;
        put_single_symbol_header(w, 4, 256);
        w.put_bits("1 0001 0001 0001");
        w.put(only, 10);
        EXPECT_EQ(decode_bits(w, 12), DECODE_DAMAGED) << only;
    }
    {
        Lh3Block oversubscribed;
        oversubscribed.char_lengths.assign(286, 2);
        oversubscribed.items.assign(4, {'a', 0});
        BitWriter w;
        put_lh3_block(w, oversubscribed);
        EXPECT_EQ(decode_bits(w, 4), DECODE_DAMAGED);
    }
    {
        BitWriter w;  // no character lengths at all
        w.put(4, 16);
        for (int i = 0; i < 286 + 1; i++) w.put(0, 1);
        EXPECT_EQ(decode_bits(w, 4), DECODE_DAMAGED);
    }
    for (bool with_match : {false, true}) {
        BitWriter w;
        put_single_symbol_header(w, 1, with_match ? 256 : 'k');
        w.put(1, 1);
        for (int i = 0; i < 128; i++) w.put(0, 4);
        w.put(0, 6);
        EXPECT_EQ(decode_bits(w, with_match ? 3 : 1), with_match ? DECODE_DAMAGED : DECODE_COMPLETE);
    }
}

}  // namespace
