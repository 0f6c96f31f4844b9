// CRC-16/ARC, the progress arithmetic and the stored copy.
#include <string.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "decode/crc16.h"
#include "decode/decode_driver.h"
#include "decode/progress.h"
#include "tests/support/test_support.h"

namespace {

TEST(Crc16, CheckValue) {
    EXPECT_EQ(crc16(0, (const uint8_t*)"123456789", 9), 0xBB3D);
    EXPECT_EQ(crc16(0xBB3D, nullptr, 0), 0xBB3D);
}

// The sliced CRC against a bit-by-bit one, over buffers cut at every length up to
// well past one slice, and in pieces that start at odd offsets.
TEST(Crc16, SlicedAgreesWithBitwise) {
    Bytes data(300);
    uint32_t x = 1;
    for (uint8_t& b : data) b = (uint8_t)((x = x * 1103515245u + 12345u) >> 16);
    for (size_t length = 0; length <= 70; length++) {
        EXPECT_EQ(crc16(0, data.data(), (uint32_t)length),
                  crc16_of(Bytes(data.begin(), data.begin() + length))) << length;
    }
    uint16_t crc = 0;
    for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 37 + 1)
        crc = crc16(crc, data.data() + at, (uint32_t)std::min(piece, data.size() - at));
    EXPECT_EQ(crc, crc16_of(data));
}

// Bit by bit from a given start, as the register runs over the bytes.
uint16_t bitwise_crc(uint16_t crc, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; i++) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; k++) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// Long buffers (where the processor's carry-less multiplication may fold them) at
// every alignment, at lengths around the whole blocks of sixteen and sixty-four
// bytes, from start values with every bit in play, and a window-sized stream in the
// pieces the decoders write.
TEST(Crc16, LongBuffersAgreeWithBitwise) {
    Bytes data(70000);
    uint32_t x = 7;
    for (uint8_t& b : data) b = (uint8_t)((x = x * 1103515245u + 12345u) >> 16);
    const uint16_t starts[] = {0, 1, 0x8000, 0xFFFF, 0xBB3D};
    for (size_t offset = 0; offset < 16; offset++) {
        for (size_t length : {255u, 256u, 257u, 271u, 319u, 320u, 321u, 383u, 384u, 1000u, 4099u}) {
            uint16_t start = starts[(offset + length) % 5];
            EXPECT_EQ(crc16(start, data.data() + offset, (uint32_t)length),
                      bitwise_crc(start, data.data() + offset, length))
                << "offset " << offset << " length " << length << " start " << start;
        }
    }
    // All zeros and all ones, where a lost or doubled block would still differ.
    for (uint8_t fill : {0x00, 0xFF}) {
        Bytes same(5000, fill);
        EXPECT_EQ(crc16(0x1234, same.data(), 5000), bitwise_crc(0x1234, same.data(), 5000));
    }
    uint16_t crc = 0;
    for (size_t at = 0, piece = 8192; at < data.size(); at += piece, piece = piece == 8192 ? 65536 : 8192)
        crc = crc16(crc, data.data() + at, (uint32_t)std::min(piece, data.size() - at));
    EXPECT_EQ(crc, bitwise_crc(0, data.data(), data.size()));
}

// The positions sent for `total` bytes produced in steps of `step`.
std::vector<uint32_t> positions(uint32_t total, uint32_t step) {
    start_progress(total);
    ReportRecorder recorder;
    for (uint32_t n = step; n <= total; n += step) update_progress(n);
    return recorder.progress;
}

TEST(Progress, Arithmetic) {
    std::vector<uint32_t> exact = positions(1000, 1);  // (done * 100) / 1000
    ASSERT_EQ(exact.size(), 100u);
    EXPECT_EQ(exact.front(), 1u);
    EXPECT_EQ(exact.back(), 100u);
    std::vector<uint32_t> coarse = positions(1001, 1);  // divisor 10
    EXPECT_EQ(coarse.back(), 100u);
    std::vector<uint32_t> over = positions(1099, 1);  // divisor 10: ends at 109
    EXPECT_EQ(over.back(), 109u);
    EXPECT_EQ(over.front(), 1u);  // 0 is never sent
}

TEST(Progress, NothingForAnEmptyTotal) {
    start_progress(0);
    ReportRecorder recorder;
    update_progress(0);
    update_progress(5);
    EXPECT_TRUE(recorder.progress.empty());
}

// progress_quiet_until: below the count it gives, update_progress sends nothing;
// at it, the percentage has changed (for totals above 1000, where it is computed
// rather than looked at after every symbol).
TEST(Progress, QuietUntilTheNextChangeAndNoFurther) {
    struct Case {
        uint64_t total;
        uint32_t done_before;  // in the run's units
        MemberSize member_done;
    };
    const Case cases[] = {
        {1001, 0, 0},          {1001, 0, 9},         {123457, 0, 0},
        {123457, 5000, 7},     {16777216, 0, 3},     {16777216, 8000000, 167772},
        {1000000000, 4290000000u, 1000},  // the sum wraps before the next change
        {4294967295u, 0, 100},
        // Over 4 GiB the counts go in units of 2 or 4 bytes.
        {6442450944u, 0, 5000000000u},        {6442450944u, 1000000000u, 987654321},
        {17179869185u, 7, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.total) + " " + std::to_string(c.done_before) + " " +
                     std::to_string(c.member_done));
        start_progress(c.total);
        decoder.progress.done = c.done_before;
        ReportRecorder recorder;
        update_progress(c.member_done);  // brings the last position up to date
        const size_t sent = recorder.progress.size();
        MemberSize until = progress_quiet_until(c.member_done);
        ASSERT_GT(until, c.member_done);
        for (MemberSize m = c.member_done; m < until && m - c.member_done < 3000; m++)
            update_progress(m);
        update_progress(until - 1);
        EXPECT_EQ(recorder.progress.size(), sent);
        update_progress(until);
        EXPECT_EQ(recorder.progress.size(), sent + 1);
    }
    // A position still to be sent, exact percentages and an empty total.
    start_progress(50000);
    decoder.progress.done = 20000;
    EXPECT_EQ(progress_quiet_until(10), 10u);
    decoder.progress.total = 1000;
    decoder.progress.done = 0;
    EXPECT_EQ(progress_quiet_until(10), 10u);
    decoder.progress.total = 0;
    EXPECT_EQ(progress_quiet_until(10), (MemberSize)-1);
}

// Members whose sizes sum past 4 GiB: the positions climb to 100 over the run and
// never fall back, as they did where the 32-bit total and sums wrapped.
TEST(Progress, RunsOver4GiBDoNotWrap) {
    const uint64_t sizes[] = {4718592000u, 3000000001u, 123};
    start_progress(sizes[0] + sizes[1] + sizes[2]);
    ReportRecorder recorder;
    for (uint64_t size : sizes) {
        for (uint64_t done = 0; done <= size; done += 1u << 20) update_progress(done);
        update_progress(size);
        progress_pass_member(size);
    }
    ASSERT_EQ(recorder.progress.size(), 100u);
    for (size_t i = 0; i < recorder.progress.size(); i++)
        EXPECT_EQ(recorder.progress[i], i + 1) << i;
}

struct StoredCopy : ::testing::Test {
    ScratchFolder scratch;
    FILE* archive = nullptr;
    Bytes data;
    void SetUp() override {
        start_progress(0);
        for (int i = 0; i < 5000; i++) data.push_back((uint8_t)(i * 7));
        write_file("in", data);
        archive = fopen("in", "rb");
    }
    void TearDown() override { fclose(archive); }
    MemberResult copied;
    DecodeResult copy(FILE* out, uint32_t count) {
        copied = decode_member({count, count, archive, out, &METHOD_TABLE[METHOD_LH0], 0});
        return copied.result;
    }
};

TEST_F(StoredCopy, CopiesInBlocksOf2048) {
    ReportRecorder recorder;
    decoder.progress.total = 5000;
    FILE* out = fopen("out", "wb");
    EXPECT_EQ(copy(out, 5000), DECODE_COMPLETE);
    fclose(out);
    EXPECT_EQ(read_file("out"), data);
    EXPECT_EQ(copied.output.crc, crc16_of(data));
    // update_progress saw 2048, 4096 and 5000 bytes: 40, 81 and 100 percent.
    EXPECT_EQ(recorder.progress, (std::vector<uint32_t>{40, 81, 100}));
}

TEST_F(StoredCopy, StopsAfterTheBlockInWhichTheCancelWasSeen) {
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t) { decoder.stop_requested = 1; };
    platform_set_hooks(&hooks);
    start_progress(5000);
    FILE* out = fopen("out", "wb");
    EXPECT_EQ(copy(out, 5000), DECODE_CANCELLED);
    fclose(out);
    EXPECT_EQ(read_file("out").size(), 2048u);
}

TEST_F(StoredCopy, ShortArchiveIsTruncatedNotComplete) {
    FILE* out = fopen("out", "wb");
    EXPECT_EQ(copy(out, 6000), DECODE_TRUNCATED);
    fclose(out);
    EXPECT_EQ(read_file("out"), data);
}

}  // namespace
