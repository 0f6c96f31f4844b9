// Damaged data of the older methods: corpus members with bits flipped, cut short or
// replaced by noise end as failures or as clean decodes, never outside an array
// (the sanitizer build runs the same cases).
#include <random>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"

namespace {

struct MethodCase {
    const char* archive;
    int method;
};

void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.archive; }

class DamagedStream : public ::testing::TestWithParam<MethodCase> {};

void expect_sound_end(const DecodedMember& m, uint32_t original_size, const std::string& what) {
    EXPECT_TRUE(m.result == DECODE_COMPLETE || m.result == DECODE_DAMAGED) << what;
    EXPECT_LE(m.output.size(), original_size) << what;
    if (m.result == DECODE_COMPLETE) {
        EXPECT_EQ(m.output.size(), original_size) << what;
    }
}

TEST_P(DamagedStream, EndsAsFailureOrCleanDecode) {
    const MethodCase c = GetParam();
    std::mt19937 rng(c.method);
    int tried = 0;
    for (const ArchiveMember& member : read_archive_members(corpus_path(c.archive))) {
        if (member.method != METHOD_IDS[c.method] || member.packed.size() < 64) continue;
        const Bytes& good = member.packed;
        for (int round = 0; round < 12; round++) {
            Bytes bad = good;
            int flips = 1 + round % 6;
            size_t zone = round < 6 ? 64 : bad.size();  // the start holds the tables
            for (int f = 0; f < flips; f++) bad[rng() % zone] ^= (uint8_t)(1 << rng() % 8);
            expect_sound_end(decode_packed(c.method, bad, member.original_size),
                             member.original_size, member.name + " flipped");
        }
        for (int round = 0; round < 5; round++) {
            Bytes cut(good.begin(), good.begin() + rng() % good.size());
            DecodedMember m = decode_packed(c.method, cut, member.original_size);
            expect_sound_end(m, member.original_size, member.name + " cut");
            // The stream ran out: that can never pass as a complete member.
            EXPECT_EQ(m.result, DECODE_DAMAGED) << member.name << " cut to " << cut.size();
        }
        for (int round = 0; round < 3; round++) {
            Bytes noise(good.size());
            for (uint8_t& b : noise) b = (uint8_t)rng();
            expect_sound_end(decode_packed(c.method, noise, member.original_size),
                             member.original_size, member.name + " noise");
        }
        if (++tried == 2) break;
    }
    EXPECT_EQ(tried, 2);
}

INSTANTIATE_TEST_SUITE_P(OlderMethods, DamagedStream,
                         ::testing::Values(MethodCase{"lh1_level0.lzh", METHOD_LH1},
                                           MethodCase{"lh2_level0.lzh", METHOD_LH2},
                                           MethodCase{"lh3_level0.lzh", METHOD_LH3},
                                           MethodCase{"lzs_level0.lzh", METHOD_LZS},
                                           MethodCase{"lz5_level0.lzh", METHOD_LZ5}),
                         [](const ::testing::TestParamInfo<MethodCase>& info) {
                             return std::string(METHOD_IDS[info.param.method]).substr(1, 3);
                         });

}  // namespace
