// CRC-16/ARC, the progress arithmetic and the stored copy.
#include <string.h>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "engine/output_sink.h"
#include "tests/support/test_support.h"

namespace {

TEST(Crc16, CheckValueAndTable) {
    make_crc_table();
    EXPECT_EQ(crc_table[1], 0xC0C1);
    EXPECT_EQ(crc_table[128], 0xA001);
    running_crc = 0;
    update_crc((const uint8_t*)"123456789", 9);
    EXPECT_EQ(running_crc, 0xBB3D);
    update_crc(nullptr, 0);
    EXPECT_EQ(running_crc, 0xBB3D);
}

// The positions sent for `total` bytes produced in steps of `step`.
std::vector<uint32_t> positions(uint32_t total, uint32_t step) {
    reset_engine_state();
    ReportRecorder recorder;
    progress_total = total;
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
    reset_engine_state();
    ReportRecorder recorder;
    update_progress(0);
    update_progress(5);
    EXPECT_TRUE(recorder.progress.empty());
}

struct StoredCopy : ::testing::Test {
    ScratchFolder scratch;
    SfxApp app;
    Bytes data;
    void SetUp() override {
        reset_engine_state();
        make_crc_table();
        init_app(&app, nullptr);
        for (int i = 0; i < 5000; i++) data.push_back((uint8_t)(i * 7));
        write_file("in", data);
        app.archive_file = fopen("in", "rb");
    }
    void TearDown() override { release_app(&app); }
};

TEST_F(StoredCopy, CopiesInBlocksOf2048) {
    ReportRecorder recorder;
    progress_total = 5000;
    FILE* out = fopen("out", "wb");
    EXPECT_EQ(copy_stored(&app, out, 5000), COPY_COMPLETE);
    fclose(out);
    EXPECT_EQ(read_file("out"), data);
    EXPECT_EQ(running_crc, crc16_of(data));
    // update_progress saw 2048, 4096 and 5000 bytes: 40, 81 and 100 percent.
    EXPECT_EQ(recorder.progress, (std::vector<uint32_t>{40, 81, 100}));
}

TEST_F(StoredCopy, StopsAfterTheBlockInWhichTheCancelWasSeen) {
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t) { run_flag = 0; };
    platform_set_hooks(&hooks);
    progress_total = 5000;
    FILE* out = fopen("out", "wb");
    EXPECT_EQ(copy_stored(&app, out, 5000), COPY_CANCELLED);
    fclose(out);
    platform_set_hooks(nullptr);
    EXPECT_EQ(read_file("out").size(), 2048u);
}

TEST_F(StoredCopy, ShortArchiveIsTruncatedNotComplete) {
    FILE* out = fopen("out", "wb");
    EXPECT_EQ(copy_stored(&app, out, 6000), COPY_TRUNCATED);
    fclose(out);
    EXPECT_EQ(read_file("out"), data);
}

}  // namespace
