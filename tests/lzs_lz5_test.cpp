// "-lzs-" and "-lz5-": literal and match items that name absolute window positions,
// and the initial dictionary of "-lz5-".
#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"

namespace {


// "-lz5-" items: a literal byte, or a match of `length` bytes at window position
// `position`; flag bytes are put in front of every 8 items.
struct Lz5Item {
    bool literal;
    unsigned value;  // the byte, or the window position
    unsigned length;
};

Bytes lz5_stream(const std::vector<Lz5Item>& items) {
    Bytes out;
    for (size_t i = 0; i < items.size(); i += 8) {
        uint8_t flags = 0;
        for (size_t k = 0; k < 8 && i + k < items.size(); k++)
            if (items[i + k].literal) flags |= (uint8_t)(1 << k);
        out.push_back(flags);
        for (size_t k = 0; k < 8 && i + k < items.size(); k++) {
            const Lz5Item& item = items[i + k];
            if (item.literal) {
                out.push_back((uint8_t)item.value);
            } else {
                out.push_back((uint8_t)item.value);
                out.push_back((uint8_t)((item.value >> 8) << 4 | (item.length - 3)));
            }
        }
    }
    return out;
}

TEST(Lzs, LiteralsAndMatchesAtWindowPositions) {
    BitWriter w;
    w.put_bits("1 01000001");  // literal 0x41
    DecodedMember m = decode_packed(w.finish(), 1, METHOD_LZS);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), "A");

    // Position 0, length 2: the copy starts at window index 17.
    BitWriter s;
    for (char c = 'a'; c <= 'r'; c++) {
        s.put(1, 1);
        s.put((uint8_t)c, 8);
    }
    s.put_bits("0 00000000000 0000");
    s.put_bits("0 11111111000 0010");  // position 2040, 4 bytes: from index 9 on
    s.put_bits("0 00000000011 1111");  // position 3, 17 bytes: index 20 on, overlapping
    m = decode_packed(s.finish(), 18 + 2 + 4 + 17, METHOD_LZS);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), "abcdefghijklmnopqr" "rr" "jklm" "jklmjklmjklmjklmj");
}

TEST(Lz5, InitialDictionary) {
    Bytes expected(4096, ' ');
    for (int i = 0; i < 256; i++)
        for (int k = 0; k < 13; k++) expected[18 + 13 * i + k] = (uint8_t)i;
    for (int i = 0; i < 256; i++) expected[3346 + i] = (uint8_t)i;
    for (int i = 0; i < 256; i++) expected[3602 + i] = (uint8_t)(255 - i);
    for (int i = 3858; i < 3986; i++) expected[i] = 0;

    // Matches of 18 bytes read the window from index 18 on, always ahead of the
    // bytes being written from index 0.
    std::vector<Lz5Item> items;
    for (unsigned index = 18; index < 4096; index += 18)
        items.push_back({false, index - 18, std::min(18u, 4096 - index)});
    DecodedMember m = decode_packed(lz5_stream(items), 4096 - 18, METHOD_LZ5);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_TRUE(m.output == Bytes(expected.begin() + 18, expected.end()));
}

TEST(Lz5, FlagBytesAndMatches) {
    // Flag bit 0 clear, b1 = 0x00, b2 = 0x0A: 13 bytes of the run of value 0.
    DecodedMember m = decode_packed(Bytes{0x00, 0x00, 0x0A}, 13, METHOD_LZ5);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(m.output, Bytes(13, 0));

    // b1 = 0xEE, b2 = 0xFF: position 4078, 18 bytes from index 0 on, which the five
    // literals just overwrote.
    m = decode_packed(Bytes{0x1F, 'a', 'b', 'c', 'd', 'e', 0xEE, 0xFF}, 5 + 18, METHOD_LZ5);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), "abcde" "abcdeabcdeabcdeabc");

    // The ninth item starts with a new flag byte.
    m = decode_packed(Bytes{0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x00, 0x00, 0x0A}, 21, METHOD_LZ5);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), "abcdefgh" + std::string(13, '\0'));

    // Position 4090 starts at index 12: the last six of the leading spaces, then
    // the run of value 0.
    m = decode_packed(Bytes{0x00, 0xFA, 0xF9}, 12, METHOD_LZ5);
    EXPECT_EQ(m.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(m.output), std::string(6, ' ') + std::string(6, '\0'));
}

}  // namespace
