// Compressed members of the corpus, damaged on purpose: bits flipped, bytes
// overwritten, data cut short, and streams of noise.  Every run must end either
// complete or as damaged, with no more than the member's size written; in the
// sanitizer build a read or write outside the decoder's arrays fails the test too.
// What each damaged run wrote is pinned as well, so that a faster decoder keeps
// the same damage semantics, byte for byte.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
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

struct Tally {
    int complete = 0;
    int damaged = 0;
    std::string outcomes;  // result and output digest of every run, in order
    std::string digest() const { return sha256_hex(Bytes(outcomes.begin(), outcomes.end())); }
};

void expect_sound_end(const PackedMember& m, const Bytes& packed, Tally& tally,
                      uint32_t packed_size = UINT32_MAX) {
    DecodedMember out = decode_packed(packed, m.original_size, m.method, packed_size);
    tally.outcomes += std::to_string(out.result) + " " + sha256_hex(out.output) + "\n";
    ASSERT_TRUE(out.result == DECODE_COMPLETE || out.result == DECODE_DAMAGED) << out.result;
    if (out.result == DECODE_COMPLETE) {
        EXPECT_EQ(out.output.size(), m.original_size);
        tally.complete++;
    } else {
        EXPECT_LE(out.output.size(), m.original_size);
        tally.damaged++;
    }
}

const char* const BLOCK_ARCHIVES[] = {"lh4_level0.lzh", "lh5_level1.lzh", "lh6_level2.lzh",
                                      "lh7_level0.lzh"};

TEST(DamagedStreams, BlockMembersEndCompleteOrDamaged) {
    Lcg random = {12345};
    Tally flipped, cut;
    for (const char* archive : BLOCK_ARCHIVES) {
        for (const PackedMember& m : packed_members(archive, METHOD_LH4, METHOD_LH7)) {
            SCOPED_TRACE(std::string(archive) + ": " + m.name);
            DecodedMember intact = decode_packed(m.packed, m.original_size, m.method);
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
                expect_sound_end(m, damaged, flipped);
            }
            // Cut short: the member declares fewer bytes; zero bits follow them.
            for (uint32_t part : {0u, 1u, 2u, 3u}) {
                uint32_t keep = size * part / 4;
                Bytes head(m.packed.begin(), m.packed.begin() + keep);
                SCOPED_TRACE("cut to " + std::to_string(keep) + " bytes");
                Tally one;
                expect_sound_end(m, head, one);
                EXPECT_EQ(one.damaged, 1) << "a cut member must not pass as complete";
                cut.damaged += one.damaged;
                cut.outcomes += one.outcomes;
            }
        }
    }
    // Most damage shows in the stream itself; what does not is left to the CRC.
    EXPECT_GT(flipped.damaged, flipped.complete / 4);
    EXPECT_GT(cut.damaged, 0);
    EXPECT_EQ(flipped.digest(), "587aa739e61bc381dcaf8fd65bf28b5614c8b52414be6a81ddb3db07fdd8ac92");
    EXPECT_EQ(cut.digest(), "ca08d40c1b7410065cdc21452c65317a901c1cb08bd4b766f33ee1216a1c0631");
}

TEST(DamagedStreams, NoiseEndsCompleteOrDamaged) {
    Lcg random = {777};
    Tally tally;
    const int methods[] = {METHOD_LH4, METHOD_LH5, METHOD_LH6, METHOD_LH7};
    for (int method : methods) {
        for (int k = 0; k < 150; k++) {
            Bytes noise(64 + random.below(512));
            for (uint8_t& b : noise) b = (uint8_t)random.next();
            // Lower the fields that refuse most noise at once, so that more of it
            // reaches the tables and the symbols.
            if (k % 2 == 0) {
                noise[2] &= 0x3F;
                noise[3] = (uint8_t)(noise[3] & 0x0F);
            }
            PackedMember m = {"noise", method, 4096 + random.below(60000), 0, noise};
            SCOPED_TRACE(std::string(METHOD_IDS[method]) + " noise " + std::to_string(k));
            expect_sound_end(m, noise, tally);
        }
    }
    EXPECT_GT(tally.damaged, 0);
    EXPECT_EQ(tally.digest(), "5439a763ffe2b29370f4f6eb019a884da4ce8e8f0977e0a15a918cbc69fbbb34");
}

}  // namespace
