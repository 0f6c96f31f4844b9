// Compressed members of the corpus, damaged on purpose: bits flipped, bytes
// overwritten, data cut short, and streams of noise.  Every run must end either
// complete or as damaged, with no more than the member's size written; in the
// sanitizer build a read or write outside the decoder's arrays fails the test too.
// What each damaged run wrote is pinned as well, so that a faster decoder keeps
// the same damage semantics, byte for byte, and held against the simple loop.
#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "decode/decode_driver.h"
#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {

// A small fixed generator, so that every run damages the same places.
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// Decodes `packed` as a member of m's method and size and checks that it ended
// complete or damaged, with no more than the member's size written, and the same
// way through the simple loop alone.  The result and the output's digest go to
// `outcomes`.
DecodeResult expect_sound_end(const ArchiveMember& m, const Bytes& packed, std::string& outcomes) {
    const int method = method_index(m.method.c_str());
    decoder.simple_loop_only = true;
    DecodedMember simple = decode_packed(packed, m.original_size, method);
    decoder.simple_loop_only = false;
    DecodedMember out = decode_packed(packed, m.original_size, method);
    EXPECT_EQ(out.result, simple.result);
    EXPECT_TRUE(out.output == simple.output) << "the fast run wrote other bytes";
    outcomes += std::to_string(out.result) + " " + sha256_hex(out.output) + "\n";
    EXPECT_TRUE(out.result == DECODE_COMPLETE || out.result == DECODE_DAMAGED) << out.result;
    if (out.result == DECODE_COMPLETE) {
        EXPECT_EQ(out.output.size(), m.original_size);
    } else {
        EXPECT_LE(out.output.size(), m.original_size);
    }
    return out.result;
}

const char* const BLOCK_ARCHIVES[] = {"lh4_level0.lzh", "lh5_level1.lzh", "lh6_level2.lzh",
                                      "lh7_level0.lzh"};

TEST(DamagedStreams, BlockMembersEndCompleteOrDamaged) {
    Lcg random = {12345};
    std::string flipped, cut;
    int flipped_damaged = 0, flipped_complete = 0;
    for (const char* archive : BLOCK_ARCHIVES) {
        for (const ArchiveMember& m : members_of(archive, METHOD_LH4, METHOD_LH7)) {
            SCOPED_TRACE(std::string(archive) + ": " + m.name);
            DecodedMember intact = decode_packed(m.packed, m.original_size, method_index(m.method.c_str()));
            ASSERT_EQ(intact.result, DECODE_COMPLETE);
            ASSERT_EQ(intact.crc, m.crc);

            // The block tables sit at the start: half of the damage goes there.
            const uint32_t size = (uint32_t)m.packed.size();
            for (int k = 0; k < 24; k++) {
                Bytes damaged = m.packed;
                uint32_t at = k < 12 ? random.below(std::min<uint32_t>(size, 48))
                                    : random.below(size);
                if (k % 3 == 2) damaged[at] = (uint8_t)random.next();
                else damaged[at] ^= (uint8_t)(1u << random.below(8));
                SCOPED_TRACE("damaged at byte " + std::to_string(at));
                if (expect_sound_end(m, damaged, flipped) == DECODE_DAMAGED) flipped_damaged++;
                else flipped_complete++;
            }
            // Cut short: the member declares fewer bytes; zero bits follow them.
            for (uint32_t part : {0u, 1u, 2u, 3u}) {
                uint32_t keep = size * part / 4;
                Bytes head(m.packed.begin(), m.packed.begin() + keep);
                SCOPED_TRACE("cut to " + std::to_string(keep) + " bytes");
                EXPECT_EQ(expect_sound_end(m, head, cut), DECODE_DAMAGED)
                    << "a cut member must not pass as complete";
            }
        }
    }
    // Most damage shows in the stream itself; what does not is left to the CRC.
    EXPECT_GT(flipped_damaged, flipped_complete / 4);
    EXPECT_EQ(sha256_hex(flipped), "921d1223600d2192f3058c9ae7730c415e8887237cf059257399da0777c54d39");
    EXPECT_EQ(sha256_hex(cut), "ca08d40c1b7410065cdc21452c65317a901c1cb08bd4b766f33ee1216a1c0631");
}

TEST(DamagedStreams, NoiseEndsCompleteOrDamaged) {
    Lcg random = {777};
    std::string outcomes;
    int damaged = 0;
    for (int method : {METHOD_LH4, METHOD_LH5, METHOD_LH6, METHOD_LH7}) {
        for (int k = 0; k < 150; k++) {
            Bytes noise(64 + random.below(512));
            for (uint8_t& b : noise) b = (uint8_t)random.next();
            // Lower the fields that refuse most noise at once, so that more of it
            // reaches the tables and the symbols.
            if (k % 2 == 0) {
                noise[2] &= 0x3F;
                noise[3] = (uint8_t)(noise[3] & 0x0F);
            }
            ArchiveMember m = {"noise", method_id(method), 4096 + random.below(60000), 0, noise, {}};
            SCOPED_TRACE(method_id(method) + " noise " + std::to_string(k));
            if (expect_sound_end(m, noise, outcomes) == DECODE_DAMAGED) damaged++;
        }
    }
    EXPECT_GT(damaged, 0);
    EXPECT_EQ(sha256_hex(outcomes), "50e2995e023c7efc8c680ddc2e47d5e2e03381cd7c843a1bafdec9c47d961233");
}

// The older methods: flipped bits, cut data and noise in two members of each.
struct MethodCase {
    const char* archive;
    int method;
    const char* outputs;  // digest of every run's result and output, pinned
};

void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.archive; }

class DamagedStream : public ::testing::TestWithParam<MethodCase> {};

TEST_P(DamagedStream, EndsAsFailureOrCleanDecode) {
    const MethodCase c = GetParam();
    std::mt19937 rng(c.method);  // the same damage in every run
    std::string outcomes;
    std::vector<ArchiveMember> members;
    for (const ArchiveMember& m : members_of(c.archive, c.method, c.method))
        if (m.packed.size() >= 64 && members.size() < 2) members.push_back(m);
    ASSERT_EQ(members.size(), 2u);
    for (const ArchiveMember& member : members) {
        SCOPED_TRACE(member.name);
        const Bytes& good = member.packed;
        for (int round = 0; round < 12; round++) {
            Bytes bad = good;
            int flips = 1 + round % 6;
            size_t zone = round < 6 ? 64 : bad.size();  // the start holds the tables
            for (int f = 0; f < flips; f++) bad[rng() % zone] ^= (uint8_t)(1 << rng() % 8);
            expect_sound_end(member, bad, outcomes);
        }
        for (int round = 0; round < 5; round++) {
            Bytes cut(good.begin(), good.begin() + rng() % good.size());
            // The stream ran out: that can never pass as a complete member.
            EXPECT_EQ(expect_sound_end(member, cut, outcomes), DECODE_DAMAGED) << "cut to " << cut.size();
        }
        for (int round = 0; round < 3; round++) {
            Bytes noise(good.size());
            for (uint8_t& b : noise) b = (uint8_t)rng();
            expect_sound_end(member, noise, outcomes);
        }
    }
    EXPECT_EQ(sha256_hex(outcomes), c.outputs);
}

const MethodCase OLDER_METHODS[] = {
    {"lh1_level0.lzh", METHOD_LH1,
     "18927e75dd8db9ee24f57b9905661a3bd5109f7e4f2fe1e800e6f36765054c13"},
    {"lh2_level0.lzh", METHOD_LH2,
     "c0467e802dcbe9c9d2e55d749e927df08acfc9600d761716c6e8c6b81a2ded42"},
    {"lh3_level0.lzh", METHOD_LH3,
     "7904b02c8242da3303198fd29e6e8be20369596e16b674f2c31620bcf1acd52d"},
    {"lzs_level0.lzh", METHOD_LZS,
     "a2678ce4ba863031da60f1fcb8cdade1edba7194f419fbefc2a1f6010b389537"},
    {"lz5_level0.lzh", METHOD_LZ5,
     "bdfc44f18b331b0fc17859bb18b089fa2873523ade67d870baa1fc103f7f523d"},
};

INSTANTIATE_TEST_SUITE_P(OlderMethods, DamagedStream, ::testing::ValuesIn(OLDER_METHODS),
                         [](const ::testing::TestParamInfo<MethodCase>& info) {
                             return method_id(info.param.method).substr(1, 3);
                         });

}  // namespace
