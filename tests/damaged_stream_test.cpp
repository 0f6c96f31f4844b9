// Compressed members of the corpus, damaged on purpose: bits flipped, bytes
// overwritten, data cut short, and streams of noise.  Every run must end either
// complete or as damaged, with no more than the member's size written; in the
// sanitizer build a read or write outside the decoder's arrays fails the test too.
// What each damaged run wrote is pinned as well, so that a faster decoder keeps
// the same damage semantics, byte for byte.
#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {

struct PackedMember {
    std::string name;
    int method;
    uint32_t original_size;
    uint16_t crc;
    Bytes packed;
};

// The members of `archive` whose method is in [first_method, last_method].
std::vector<PackedMember> compressed_members(const std::string& archive, int first_method,
                                             int last_method) {
    std::vector<PackedMember> members;
    for (const ArchiveMember& a : read_archive_members(corpus_path(archive))) {
        int method = method_index(a.method.c_str());
        if (method >= first_method && method <= last_method)
            members.push_back({a.name, method, a.original_size, a.crc, a.packed});
    }
    return members;
}

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
        for (const PackedMember& m : compressed_members(archive, METHOD_LH4, METHOD_LH7)) {
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

// The older methods: flipped bits, cut data and noise in two members of each.
struct MethodCase {
    const char* archive;
    int method;
    const char* outputs;  // digest of every run's result and output, pinned
};

void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.archive; }

class DamagedStream : public ::testing::TestWithParam<MethodCase> {};

void expect_sound_output(const DecodedMember& m, uint32_t original_size, const std::string& what) {
    EXPECT_TRUE(m.result == DECODE_COMPLETE || m.result == DECODE_DAMAGED) << what;
    EXPECT_LE(m.output.size(), original_size) << what;
    if (m.result == DECODE_COMPLETE) {
        EXPECT_EQ(m.output.size(), original_size) << what;
    }
}

TEST_P(DamagedStream, EndsAsFailureOrCleanDecode) {
    const MethodCase c = GetParam();
    std::mt19937 rng(c.method);  // the same damage in every run
    int tried = 0;
    std::string outcomes;
    auto decode = [&](const Bytes& packed, uint32_t original_size) {
        DecodedMember m = decode_packed(packed, original_size, c.method);
        outcomes += std::to_string(m.result) + " " + sha256_hex(m.output) + "\n";
        return m;
    };
    for (const ArchiveMember& member : read_archive_members(corpus_path(c.archive))) {
        if (member.method != METHOD_IDS[c.method] || member.packed.size() < 64) continue;
        const Bytes& good = member.packed;
        for (int round = 0; round < 12; round++) {
            Bytes bad = good;
            int flips = 1 + round % 6;
            size_t zone = round < 6 ? 64 : bad.size();  // the start holds the tables
            for (int f = 0; f < flips; f++) bad[rng() % zone] ^= (uint8_t)(1 << rng() % 8);
            expect_sound_output(decode(bad, member.original_size), member.original_size,
                                member.name + " flipped");
        }
        for (int round = 0; round < 5; round++) {
            Bytes cut(good.begin(), good.begin() + rng() % good.size());
            DecodedMember m = decode(cut, member.original_size);
            expect_sound_output(m, member.original_size, member.name + " cut");
            // The stream ran out: that can never pass as a complete member.
            EXPECT_EQ(m.result, DECODE_DAMAGED) << member.name << " cut to " << cut.size();
        }
        for (int round = 0; round < 3; round++) {
            Bytes noise(good.size());
            for (uint8_t& b : noise) b = (uint8_t)rng();
            expect_sound_output(decode(noise, member.original_size), member.original_size,
                                member.name + " noise");
        }
        if (++tried == 2) break;
    }
    EXPECT_EQ(tried, 2);
    EXPECT_EQ(sha256_hex(Bytes(outcomes.begin(), outcomes.end())), c.outputs);
}

const MethodCase OLDER_METHODS[] = {
    {"lh1_level0.lzh", METHOD_LH1,
     "b2a05e342640582a125c5f5dcdc17e59ca583342b4612ece8384b05c7ff6b948"},
    {"lh2_level0.lzh", METHOD_LH2,
     "d8487dc363dfbb4df2def8746bb36af0dacbd782bd4265e8bcd8c11badb6c474"},
    {"lh3_level0.lzh", METHOD_LH3,
     "3334ca1a3a4c294977c29d968c127feca755823b8537c40d028655d5a9191d2e"},
    {"lzs_level0.lzh", METHOD_LZS,
     "6e4e5af35ccdc98b18b68264bd859b4f62bb02f90a6e1008f1528760e23048a9"},
    {"lz5_level0.lzh", METHOD_LZ5,
     "581cf1d17ab83d506163a5ebe9d6baeafb2facff1ea3eebd452cb187797118f6"},
};

INSTANTIATE_TEST_SUITE_P(OlderMethods, DamagedStream, ::testing::ValuesIn(OLDER_METHODS),
                         [](const ::testing::TestParamInfo<MethodCase>& info) {
                             return std::string(METHOD_IDS[info.param.method]).substr(1, 3);
                         });

}  // namespace
