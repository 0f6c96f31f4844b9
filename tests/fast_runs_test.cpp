// The fast runs held against the simple loop they stand for: corpus members of the
// methods that have one, whole, with sizes that end inside a match, damaged, cut
// short and cancelled, each decoded both ways.  Output, result, CRC and every
// progress report with the decoded count behind it must agree.
#include <algorithm>
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

// A bounded run, as the fuzz targets make, ends a member just past its bound: at
// the same symbol both ways (no fast run may carry it further than the simple loop
// goes), damaged, and with the bytes up to there those of the whole member.
TEST(FastRuns, BoundedRunEndsAtTheSameSymbolBothWays) {
    int bounded = 0;
    for (const char* archive : {"lh1_long.lzh", "lh5_long.lzh", "lh7_long.lzh", "lzs_long.lzh"}) {
        for (const ArchiveMember& m : read_archive_members(corpus_path(archive))) {
            const int method = method_index(m.method.c_str());
            if (METHOD_TABLE[method].kind != METHOD_CODED) continue;
            const Bytes whole = decode_course(m.packed, m.original_size, method, true).decoded.output;
            for (uint32_t limit : {1000u, 10000u, 70001u}) {
                if (limit + 256 >= m.original_size) continue;
                const std::string what =
                    std::string(archive) + " " + m.name + " bound " + std::to_string(limit);
                decoder.output_limit = limit;
                Course fast = decode_course(m.packed, m.original_size, method, true);
                expect_same_course(m.packed, m.original_size, method, what);
                decoder.output_limit = 0;
                const Bytes& out = fast.decoded.output;
                EXPECT_EQ(fast.decoded.result, DECODE_DAMAGED) << what;
                EXPECT_GE(out.size(), limit) << what;
                EXPECT_LE(out.size(), limit + 256) << what;
                EXPECT_TRUE(std::equal(out.begin(), out.end(), whole.begin())) << what;
                bounded++;
            }
        }
    }
    EXPECT_GT(bounded, 8);
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

// An "-lh5-" block whose character code sends four lengths, all 0: no table is
// built, and the symbols come from the table as the member found it, empty (every
// entry symbol 0, taking no bits).  Its position code is a single value.
Bytes block_without_character_code() {
    BitWriter w;
    w.put(200, 16);                      // symbols in the block
    w.put_bits("00011 001 001 000 00");  // code-length code: 0 -> "0", 1 -> "1"
    w.put_bits("000000100 0 0 0 0");     // four character lengths, each symbol 0
    w.put_bits("0000 0000");             // position code: the single value 0
    return w.finish();
}

// A member decodes alike whatever member came before it: the member's part of the
// decoder's state starts clean, and what a block-codes member leaves standing (its
// fast tables) is made again before it is read.  Members of several families, and
// block-codes members damaged near their start (where the tables are), are each
// decoded from a fresh decoder and right after each member of another family.
TEST(FastRuns, MemberDecodesAlikeAfterAnyOther) {
    std::vector<std::pair<std::string, ArchiveMember>> members;
    for (const char* archive : {"lh1_level0.lzh", "lh3_long.lzh", "lh4_level0.lzh",
                                "lh5_long.lzh", "lh7_long.lzh", "lz5_long.lzh"})
        members.push_back({archive, read_archive_members(corpus_path(archive)).at(0)});
    ArchiveMember empty_code;
    empty_code.method = "-lh5-";
    empty_code.packed = block_without_character_code();
    empty_code.original_size = 200;
    decoder = {};
    EXPECT_TRUE(decode_packed(empty_code.packed, 200, METHOD_LH5).output == Bytes(200, 0));
    members.push_back({"no character code", empty_code});
    std::mt19937 rng(77);
    const size_t sound = members.size();
    for (size_t i = 0; i < sound; i++) {
        const int method = method_index(members[i].second.method.c_str());
        if (method < METHOD_LH4 || method > METHOD_LH7) continue;
        for (int k = 0; k < 6; k++) {
            ArchiveMember bad = members[i].second;
            bad.packed[rng() % std::min<size_t>(64, bad.packed.size())] ^= (uint8_t)(1u << rng() % 8);
            members.push_back({members[i].first + " flipped " + std::to_string(k), bad});
        }
    }
    for (const auto& [name, m] : members) {
        const int method = method_index(m.method.c_str());
        decoder = {};
        const DecodedMember fresh = decode_packed(m.packed, m.original_size, method);
        for (size_t before = 0; before < sound; before++) {
            const ArchiveMember& b = members[before].second;
            if (b.method == m.method) continue;
            decoder = {};
            decode_packed(b.packed, b.original_size, method_index(b.method.c_str()));
            const DecodedMember after = decode_packed(m.packed, m.original_size, method);
            const std::string what = name + " after " + members[before].first;
            EXPECT_EQ(after.result, fresh.result) << what;
            EXPECT_EQ(after.crc, fresh.crc) << what;
            EXPECT_TRUE(after.output == fresh.output) << what;
        }
    }
}

}  // namespace
