// Members of more than 4 GiB (their sizes from extended header 0x42): decoded,
// copied, counted and walked whole by the host tool, never cut to their low 32 bits.
// Zeros throughout, whose CRC-16 is 0 at any length: only the count of bytes tells
// a whole member from a cut one.
#include <stdio.h>

#include <gtest/gtest.h>

#include "decode/decode_driver.h"
#include "decode/progress.h"
#include "engine/archive_walk.h"
#include "tests/support/test_support.h"

namespace {

const uint64_t FOUR_GIB = 1ull << 32;

// A -lh5- stream of `size` zero bytes: a block of one literal 0, then blocks of
// 65,536 matches of 256 bytes at distance 1.  Every code of a block is a single
// value of no bits, so each block is only its tables; the decoder cuts the last
// match at the member's size.
Bytes lh5_zeros(uint64_t size) {
    BitWriter out;
    auto block = [&out](uint32_t symbols, unsigned value) {
        out.put(symbols & 0xFFFF, 16);  // 0 stands for 65,536
        out.put(0, 5);                  // code-length code: a single value
        out.put(0, 5);
        out.put(0, 9);                  // character code: the single value
        out.put(value, 9);
        out.put(0, 4);                  // position code: the single value 0, distance 1
        out.put(0, 4);
    };
    block(1, 0);
    for (uint64_t made = 1; made < size; made += 65536ull * 256) block(65536, 509);
    return out.finish();
}

struct Decoded {
    MemberResult member;
    uint64_t count;
};

Decoded decode_zeros(const Bytes& packed, uint64_t packed_size, uint64_t size, int method) {
    decoder.stop_requested = 0;
    FILE* in = tmpfile();
    if (!packed.empty()) fwrite(packed.data(), 1, packed.size(), in);
    rewind(in);
    Decoded decoded;
    decoded.member = decode_member({packed_size, size, in, nullptr, &METHOD_TABLE[method], 0});
    decoded.count = decoder.decoded_count;
    fclose(in);
    return decoded;
}

// Fast runs, progress and the cut at the end, over 4 GiB and a little more.  The
// positions sent climb to 100 and never fall back, as they would where a 32-bit
// sum wrapped.
TEST(MembersOver4GiB, CodedMemberDecodesWhole) {
    const uint64_t size = FOUR_GIB + 1000003;
    const Bytes packed = lh5_zeros(size);
    ReportRecorder recorder;
    start_progress(size);
    Decoded decoded = decode_zeros(packed, packed.size(), size, METHOD_LH5);
    EXPECT_EQ(decoded.member.result, DECODE_COMPLETE);
    EXPECT_EQ(decoded.count, size);
    EXPECT_EQ(decoded.member.output.written, size);
    EXPECT_EQ(decoded.member.output.crc, 0);
    ASSERT_FALSE(recorder.progress.empty());
    EXPECT_EQ(recorder.progress.back(), 100u);
    for (size_t i = 1; i < recorder.progress.size(); i++)
        EXPECT_GT(recorder.progress[i], recorder.progress[i - 1]) << i;
}

// The stored copy of just over 4 GiB, from a stream of zeros (read through a large
// buffer, as a disk would not give them fast enough).
TEST(MembersOver4GiB, StoredMemberCopiesWhole) {
    const uint64_t size = FOUR_GIB + 2049;
    FILE* in = fopen("/dev/zero", "rb");
    ASSERT_NE(in, nullptr);
    setvbuf(in, nullptr, _IOFBF, 1 << 20);
    start_progress(0);
    MemberResult copied = decode_member({size, size, in, nullptr, &METHOD_TABLE[METHOD_LH0], 0});
    fclose(in);
    EXPECT_EQ(copied.result, DECODE_COMPLETE);
    EXPECT_EQ(copied.output.written, size);
    EXPECT_EQ(copied.output.crc, 0);
}

// A level-2 header's 0x42 sizes over the 32-bit fields: the walk steps over the
// whole data and sums the whole sizes; sums past 64 bits stay at the largest count,
// so that no free-space check is passed by a wrapped total.
TEST(MembersOver4GiB, WalkCountsWholeSizes) {
    ScratchFolder scratch;
    auto sizes = [](uint64_t packed, uint64_t original) {
        std::string data;
        for (uint64_t v : {packed, original})
            for (int i = 0; i < 8; i++) data.push_back((char)(v >> (8 * i)));
        return data;
    };
    TestMember big;
    big.method = "-lh5-";
    big.name = "big";
    big.level = 2;
    big.data = lh5_zeros(FOUR_GIB + 5);
    big.original_size = 5;  // the 32-bit field holds the low bits only
    big.extended = {{0x42, sizes(big.data.size(), FOUR_GIB + 5)}};
    write_file("archive.lzh", build_archive({big, big}));

    ExtractionRun run = {};
    run.archive_file = fopen("archive.lzh", "rb");
    run.archive_size = file_size(run.archive_file);
    uint64_t total = 0;
    std::vector<uint64_t> seen;
    EXPECT_EQ(walk_archive(&run, &total,
                           [](void* c, const MemberHeader& h) {
                               ((std::vector<uint64_t>*)c)->push_back(h.original_size);
                           },
                           &seen),
              SHAPE_SOUND);
    EXPECT_EQ(total, 2 * (FOUR_GIB + 5));
    EXPECT_EQ(seen, (std::vector<uint64_t>{FOUR_GIB + 5, FOUR_GIB + 5}));
    fclose(run.archive_file);

    big.extended = {{0x42, sizes(big.data.size(), UINT64_MAX - 1)}};
    write_file("archive.lzh", build_archive({big, big}));
    run.archive_file = fopen("archive.lzh", "rb");
    EXPECT_EQ(walk_archive(&run, &total), SHAPE_SOUND);
    EXPECT_EQ(total, UINT64_MAX);
    fclose(run.archive_file);
}

}  // namespace
