// The encoder of "-lh5-" to "-lh7-" against the block decoder: optimal length-limited
// codes, and data of awkward shapes through every window size and block form.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/test_support.h"
#include "tools/pack/huffman_lengths.h"
#include "tools/pack/lha_encoder.h"

namespace {

// ---- code lengths ----------------------------------------------------------------

uint64_t code_cost(const std::vector<uint32_t>& freq, const uint8_t* lengths) {
    uint64_t cost = 0;
    for (size_t s = 0; s < freq.size(); s++) cost += (uint64_t)freq[s] * lengths[s];
    return cost;
}

// The least cost of any prefix code with lengths 1..limit, by trying every one.
uint64_t brute_force_cost(const std::vector<uint32_t>& freq, unsigned limit) {
    std::vector<uint8_t> lengths(freq.size(), 1);
    uint64_t best = UINT64_MAX;
    std::function<void(size_t, double)> choose = [&](size_t s, double kraft) {
        if (kraft > 1.0) return;
        if (s == freq.size()) {
            best = std::min(best, code_cost(freq, lengths.data()));
            return;
        }
        for (unsigned l = 1; l <= limit; l++) {
            lengths[s] = (uint8_t)l;
            choose(s + 1, kraft + 1.0 / (1u << l));
        }
    };
    choose(0, 0);
    return best;
}

TEST(CodeLengths, OptimalWithinTheLimitAndComplete) {
    std::mt19937 random(7);
    for (int round = 0; round < 60; round++) {
        unsigned n = 2 + random() % 6;
        unsigned limit = 3 + random() % 3;
        std::vector<uint32_t> freq(n);
        // Skewed counts, so that Huffman's own code is often too deep.
        for (auto& f : freq) f = 1 + (random() % 2 ? random() % 4 : random() % 5000);
        uint8_t lengths[8];
        ASSERT_EQ(limited_code_lengths(freq.data(), n, limit, lengths), n);
        double kraft = 0;
        for (unsigned s = 0; s < n; s++) {
            EXPECT_GE(lengths[s], 1);
            EXPECT_LE(lengths[s], limit);
            kraft += 1.0 / (1u << lengths[s]);
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0);
        EXPECT_EQ(code_cost(freq, lengths), brute_force_cost(freq, limit)) << "round " << round;
    }
}

TEST(CodeLengths, FibonacciCountsAreHeldTo16Bits) {
    // Huffman's code for Fibonacci counts is as deep as it can be: 39 symbols, 38 bits.
    std::vector<uint32_t> freq(510, 0);
    uint32_t a = 1, b = 1;
    for (unsigned s = 0; s < 39; s++) {
        freq[s * 13] = a;
        uint32_t next = a + b;
        a = b;
        b = next;
    }
    uint8_t lengths[510];
    EXPECT_EQ(limited_code_lengths(freq.data(), 510, 16, lengths), 39u);
    double kraft = 0;
    for (unsigned s = 0; s < 510; s++) {
        EXPECT_LE(lengths[s], 16);
        EXPECT_EQ(lengths[s] != 0, freq[s] != 0);
        if (lengths[s] != 0) kraft += 1.0 / (1u << lengths[s]);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
}

// ---- round trips through the decoder ---------------------------------------------

struct Encoded {
    EncodeOutcome outcome;
    EncodedMember member;
    Bytes packed;
};

// The output may grow to `limit` bytes before the encoder gives up as not smaller.
Encoded encode(const Bytes& data, unsigned dictionary_bits, const MatchEffort& effort = DEFAULT_EFFORT,
               uint64_t limit = UINT64_MAX) {
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    if (!data.empty()) fwrite(data.data(), 1, data.size(), in);
    rewind(in);
    Encoded e;
    e.outcome = encode_member(in, out, dictionary_bits, limit, nullptr, &e.member, &effort);
    e.packed.resize((size_t)ftell(out));
    rewind(out);
    if (!e.packed.empty()) {
        EXPECT_EQ(fread(e.packed.data(), 1, e.packed.size(), out), e.packed.size());
    }
    fclose(in);
    fclose(out);
    return e;
}

int method_for(unsigned dictionary_bits) {
    return dictionary_bits == 13 ? METHOD_LH5 : dictionary_bits == 15 ? METHOD_LH6 : METHOD_LH7;
}

// Encodes, decodes and compares; returns the packed size.
size_t round_trip(const Bytes& data, unsigned dictionary_bits, const MatchEffort& effort = DEFAULT_EFFORT) {
    Encoded e = encode(data, dictionary_bits, effort);
    EXPECT_TRUE(e.outcome == ENCODED || e.outcome == ENCODE_NOT_SMALLER);
    EXPECT_EQ(e.member.original_size, data.size());
    EXPECT_EQ(e.member.packed_size, e.packed.size());
    EXPECT_EQ(e.member.crc, crc16_of(data));
    DecodedMember d = decode_packed(e.packed, (uint32_t)data.size(), method_for(dictionary_bits));
    EXPECT_EQ(d.result, DECODE_COMPLETE);
    EXPECT_TRUE(d.output == data) << "decoded " << d.output.size() << " of " << data.size() << " bytes";
    return e.packed.size();
}

Bytes random_bytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes b(count);
    for (auto& c : b) c = (uint8_t)random();
    return b;
}

// Text-like data: words from a small vocabulary, so that matches of every length
// and distance occur.
Bytes text_like(size_t count, uint32_t seed) {
    static const char* const WORDS[] = {"the ", "window ", "block ", "code ", "length ", "of ",
                                        "static ", "Huffman ", "match ", "position ", "\n", "; "};
    std::mt19937 random(seed);
    Bytes b;
    while (b.size() < count) {
        const char* w = WORDS[random() % 12];
        b.insert(b.end(), w, w + strlen(w));
    }
    b.resize(count);
    return b;
}

class EveryWindow : public ::testing::TestWithParam<unsigned> {};

TEST_P(EveryWindow, AwkwardShapesComeBackWhole) {
    unsigned bits = GetParam();
    size_t window = (size_t)1 << bits;
    round_trip({}, bits);
    round_trip({'x'}, bits);
    round_trip({'a', 'b', 'a', 'b', 'a', 'b', 'a'}, bits);
    EXPECT_LT(round_trip(Bytes(300000, 0), bits), 300u);  // one long run
    round_trip(text_like(200000, bits), bits);
    // Exact multiples of the window, and a random window repeated: the matches reach
    // exactly one window back.
    round_trip(text_like(window, 1), bits);
    round_trip(text_like(3 * window, 2), bits);
    Bytes repeated = random_bytes(window, 3);
    Bytes twice = repeated;
    twice.insert(twice.end(), repeated.begin(), repeated.end());
    twice.insert(twice.end(), repeated.begin(), repeated.begin() + 1000);
    EXPECT_LT(round_trip(twice, bits), window + window / 8);
}

TEST_P(EveryWindow, IncompressibleDataIsNotSmaller) {
    unsigned bits = GetParam();
    Bytes noise = random_bytes(100000, 11);
    Encoded e = encode(noise, bits);
    EXPECT_EQ(e.outcome, ENCODE_NOT_SMALLER);
    // Told as soon as the output reaches what the caller allows: within a block
    // past the limit, well before the whole input is through.
    Encoded limited = encode(noise, bits, DEFAULT_EFFORT, 50000);
    EXPECT_EQ(limited.outcome, ENCODE_NOT_SMALLER);
    EXPECT_LT(limited.packed.size(), e.packed.size() * 2 / 3);
}

INSTANTIATE_TEST_SUITE_P(Methods, EveryWindow, ::testing::Values(13u, 15u, 16u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return "lh" + std::to_string(info.param == 13 ? 5 : info.param == 15 ? 6 : 7);
                         });

TEST(BlockForms, SingleSymbolCodesAndTinyBlocks) {
    // Blocks of at most 256 symbols: a run gives blocks of one match symbol at one
    // distance (both codes in the count-0 form), a permutation of all 256 bytes a
    // block whose lengths are all 8 (a code-length code of one symbol).
    MatchEffort tiny = DEFAULT_EFFORT;
    tiny.segment_symbols = 256;
    tiny.max_block_symbols = 256;
    Bytes data(256);
    for (int i = 0; i < 256; i++) data[i] = (uint8_t)(i * 167 + 13);
    data.insert(data.end(), 256 * 256 * 3, 'a');
    Bytes text = text_like(30000, 5);
    data.insert(data.end(), text.begin(), text.end());
    for (unsigned bits : {13u, 16u}) round_trip(data, bits, tiny);
}

TEST(BlockForms, LargestBlocksAndDeepCodes) {
    // Blocks of 65,535 symbols with skewed literal counts push the character code
    // towards its 16-bit limit.
    MatchEffort whole = DEFAULT_EFFORT;
    whole.segment_symbols = 65535;
    std::mt19937 random(9);
    Bytes skewed(400000);
    for (auto& c : skewed) {
        uint32_t r = random();
        unsigned depth = (unsigned)__builtin_ctz(r | 0x80000);  // byte k with chance 2^-(k+1)
        c = (uint8_t)(depth * 13);
    }
    round_trip(skewed, 16, whole);
    round_trip(skewed, 13, DEFAULT_EFFORT);
}

}  // namespace
