// The bit input: the look-ahead over the member's bytes, zero bits past its end,
// refills of a small block, and the detection of reads past the member's data.
#include <gtest/gtest.h>

#include "decode/bit_input.h"
#include "tests/support/test_support.h"

namespace {

struct BitInput : ::testing::Test {
    FILE* file = nullptr;
    void load(const Bytes& bytes, uint32_t packed, uint32_t block) {
        file = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), file);
        rewind(file);
        start_member_state(file, packed, 16, 0);
        decoder.input.data = new uint8_t[block];
        decoder.input.size = block;
        decoder.input.read_index = block;  // refill on the first byte
    }
    void TearDown() override {
        delete[] decoder.input.data;
        decoder.input.data = nullptr;
        if (file) fclose(file);
    }
};

TEST_F(BitInput, ReadsMostSignificantBitFirst) {
    load({0xA5, 0x3C, 0x0F}, 3, 3);
    init_bit_reader();
    EXPECT_EQ(decoder.bits.bit_buffer, 0xA53C);
    EXPECT_EQ(read_bits(0), 0);
    EXPECT_EQ(decoder.bits.bit_buffer, 0xA53C);
    EXPECT_EQ(read_bits(3), 5);
    EXPECT_EQ(read_bits(5), 5);
    EXPECT_EQ(read_bits(4), 3);
    EXPECT_EQ(decoder.bits.bit_buffer, 0xC0F0);
    EXPECT_EQ(decoder.bits.packed_bytes_left, 0u);
}

TEST_F(BitInput, ZeroBitsPastTheMembersEnd) {
    load({0xFF, 0xEE, 0xDD}, 1, 3);  // only the first byte belongs to the member
    init_bit_reader();
    EXPECT_EQ(decoder.bits.bit_buffer, 0xFF00);
    EXPECT_EQ(read_bits(16), 0xFF00);
    EXPECT_EQ(read_bits(16), 0);
    EXPECT_EQ(ftell(file), 3);  // one read of the block, nothing more
}

TEST_F(BitInput, OverrunIsSeenOnlyWhenConsumedBitsPassTheData) {
    load({0x12, 0x34, 0x56}, 3, 3);
    init_bit_reader();
    EXPECT_FALSE(input_overrun());
    read_bits(16);
    read_bits(8);  // all 24 bits consumed, 16 zero bits held
    EXPECT_FALSE(input_overrun());
    read_bits(1);
    EXPECT_TRUE(input_overrun());
}

TEST_F(BitInput, SmallBlocksRefillWithTheSameBits) {
    Bytes data;
    for (int i = 0; i < 1000; i++) data.push_back((uint8_t)(i * 37 + 11));
    load(data, 1000, 7);
    init_bit_reader();
    for (size_t i = 0; i + 2 < data.size(); i++) ASSERT_EQ(read_bits(8), data[i]) << i;
}

TEST_F(BitInput, ByteInputCountsLikeTheBitInput) {
    load({1, 2}, 2, 2);
    EXPECT_EQ(take_member_byte(), 1);
    EXPECT_EQ(take_member_byte(), 2);
    EXPECT_FALSE(input_overrun());
    EXPECT_EQ(take_member_byte(), 0);
    EXPECT_TRUE(input_overrun());
}

}  // namespace
