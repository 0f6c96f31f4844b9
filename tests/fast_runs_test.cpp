// The fast runs held against the simple loop they stand for: corpus members of the
// methods that have one, whole, with sizes that end inside a match, damaged, cut
// short and cancelled, each decoded both ways.  Output, result, CRC and every
// progress report with the decoded count behind it must agree.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/adaptive_reference.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {

struct Course {
    DecodedMember decoded;
    std::string reports;
    uint32_t decoded_count;
};

uint32_t cancel_at;  // 0: no cancel

Course decode_course(const Bytes& packed, uint32_t original_size, int method, bool fast) {
    PlatformHooks hooks = {};
    Course course;
    hooks.context = &course.reports;
    hooks.progress = [](void* c, uint32_t percent) {
        *(std::string*)c += std::to_string(percent) + "@" + std::to_string(decoder.decoded_count) + " ";
        if (cancel_at != 0 && percent >= cancel_at) decoder.stop_requested = 1;
    };
    platform_set_hooks(&hooks);
    decoder.simple_loop_only = !fast;
    course.decoded = decode_packed(packed, original_size, method, UINT32_MAX, true);
    course.decoded_count = decoder.decoded_count;
    platform_set_hooks(nullptr);  // the hooks' context is this frame's
    return course;
}

void expect_same_course(const Bytes& packed, uint32_t original_size, int method,
                        const std::string& what) {
    Course fast = decode_course(packed, original_size, method, true);
    Course simple = decode_course(packed, original_size, method, false);
    EXPECT_EQ(fast.decoded.result, simple.decoded.result) << what;
    EXPECT_TRUE(fast.decoded.output == simple.decoded.output) << what;
    EXPECT_EQ(fast.decoded.crc, simple.decoded.crc) << what;
    EXPECT_EQ(fast.decoded_count, simple.decoded_count) << what;
    EXPECT_EQ(fast.reports, simple.reports) << what;
}

TEST(FastRuns, AgreeWithTheSimpleLoop) {
    const char* const archives[] = {"lh1_level0.lzh", "lh1_long.lzh", "lh4_level0.lzh",
                                    "lh5_long.lzh",   "lh6_level1.lzh", "lh7_long.lzh"};
    std::mt19937 rng(2024);
    int members = 0;
    for (const char* archive : archives) {
        for (const ArchiveMember& m : read_archive_members(corpus_path(archive))) {
            const int method = method_index(m.method.c_str());
            if (method != METHOD_LH1 && (method < METHOD_LH4 || method > METHOD_LH7)) continue;
            members++;
            const std::string name = std::string(archive) + " " + m.name;
            const uint32_t size = m.original_size;
            cancel_at = 0;
            expect_same_course(m.packed, size, method, name);
            // Sizes that end inside the member, mostly inside a match.
            for (uint32_t cut : {1u, 2u, 100u, size / 2})
                if (cut < size) expect_same_course(m.packed, size - cut, method, name + " short");
            expect_same_course(m.packed, size + 5000, method, name + " long");
            for (int k = 0; k < 12; k++) {
                Bytes bad = m.packed;
                for (int f = 0; f <= k % 3; f++)
                    bad[rng() % bad.size()] ^= (uint8_t)(1u << rng() % 8);
                expect_same_course(bad, size, method, name + " flipped " + std::to_string(k));
            }
            for (size_t keep : {m.packed.size() / 3, m.packed.size() * 2 / 3}) {
                Bytes head(m.packed.begin(), m.packed.begin() + keep);
                expect_same_course(head, size, method, name + " cut");
            }
            for (uint32_t percent : {1u, 50u, 99u}) {
                cancel_at = percent;
                expect_same_course(m.packed, size, method,
                                   name + " cancel " + std::to_string(percent));
            }
            cancel_at = 0;
        }
    }
    EXPECT_GT(members, 10);
}

// An "-lh1-" stream whose commonest bytes change every few thousand symbols, so that
// the heaviest leaves keep trading places near the root and the first levels of the
// character tree are laid out anew again and again.  Matches take position code 0
// (three 0 bits) and 6 plain bits: distances of 1 to 64.
TEST(FastRuns, Lh1WalkFollowsTheTopOfTheTreeAsItChanges) {
    std::mt19937 rng(1234);
    AdaptiveReference model(314);
    BitWriter w;
    std::vector<LzItem> plan;
    uint32_t produced = 0;
    for (int phase = 0; phase < 60; phase++) {
        const unsigned first = (unsigned)(phase * 37) % 200;
        const double skew = phase % 3 == 0 ? 0.6 : 0.25;
        for (int k = 0; k < 2500; k++) {
            if (produced < 64 || rng() % 10 < 7) {
                const uint16_t byte =
                    (uint16_t)((first + std::geometric_distribution<int>(skew)(rng)) % 256);
                model.put_symbol(w, byte);
                plan.push_back({byte, 0});
                produced++;
            } else {
                const unsigned length = 3 + rng() % 10, position = rng() % 64;
                model.put_symbol(w, length + 253);
                w.put(0, 3);
                w.put(position, 6);
                plan.push_back({(uint16_t)(length + 253), (uint16_t)position});
                produced += length;
            }
        }
    }
    const Bytes packed = w.finish();
    const Bytes expected = expand_items(plan, 4096, 253);
    Course fast = decode_course(packed, (uint32_t)expected.size(), METHOD_LH1, true);
    EXPECT_EQ(fast.decoded.result, DECODE_COMPLETE);
    EXPECT_TRUE(fast.decoded.output == expected);
    expect_same_course(packed, (uint32_t)expected.size(), METHOD_LH1, "shifting bytes");
}

}  // namespace
