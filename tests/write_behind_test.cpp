// Files written behind by the second thread: every byte lands in order whatever the
// sizes of the writes, the slots serve file after file, a seek back overwrites what
// was queued before it, and a failed write reaches the caller instead of vanishing.
#include <signal.h>
#include <string.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace {

struct WriteBehindTest : ::testing::Test {
    ScratchFolder scratch;
    void SetUp() override { platform_set_write_behind(true); }
    void TearDown() override { platform_set_write_behind(false); }
};

// Bytes that differ from one position to the next, so that a block lost, doubled or
// out of order shows.
Bytes pattern(size_t length, uint32_t seed) {
    Bytes out(length);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; i++) {
        x = x * 1103515245u + 12345u;
        out[i] = (uint8_t)(x >> 24);
    }
    return out;
}

// Writes `bytes` through `file` in pieces of the sizes given, over and over.
void write_in_pieces(FILE* file, const Bytes& bytes, const std::vector<size_t>& sizes) {
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); i++) {
        size_t n = std::min(sizes[i % sizes.size()], bytes.size() - at);
        ASSERT_EQ(fwrite(bytes.data() + at, 1, n, file), n);
        at += n;
    }
}

TEST_F(WriteBehindTest, WritesOfEverySizeLandInOrderFileAfterFile) {
    // The stdio buffer of the output files, as the engine sets it, and writes from a
    // byte to several times all the slots together.
    static char buffer[64 * 1024];
    const std::vector<std::vector<size_t>> sizes = {
        {1, 7, 4096, 65536, 3}, {8192}, {65536}, {1 << 20, 13}, {5 << 20}};
    for (size_t k = 0; k < sizes.size(); k++) {
        std::string name = "out" + std::to_string(k);
        Bytes expected = pattern(6 * 1024 * 1024 + k * 977, (uint32_t)k);
        FILE* file = platform_create_new_file(name.c_str());
        ASSERT_NE(file, nullptr);
        setvbuf(file, buffer, _IOFBF, sizeof buffer);
        write_in_pieces(file, expected, sizes[k]);
        ASSERT_EQ(fclose(file), 0);
        EXPECT_TRUE(read_file(name) == expected) << "writes of the sizes of set " << k;
    }
}

TEST_F(WriteBehindTest, SmallFilesAndAnExistingNameStayAsWithoutIt) {
    FILE* file = platform_create_new_file("small");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite("abc", 1, 3, file), 3u);
    ASSERT_EQ(fclose(file), 0);
    EXPECT_EQ(text_of(read_file("small")), "abc");
    EXPECT_EQ(platform_create_new_file("small"), nullptr);
    EXPECT_EQ(text_of(read_file("small")), "abc");
}

TEST_F(WriteBehindTest, ASeekBackOverwritesWhatWasQueuedBeforeIt) {
    // A member read a second time goes over the same file from its first byte.
    Bytes first = pattern(3 * 1024 * 1024, 1), second = pattern(3 * 1024 * 1024, 2);
    FILE* file = platform_create_new_file("again");
    ASSERT_NE(file, nullptr);
    write_in_pieces(file, first, {65536});
    ASSERT_EQ(fseek(file, 0, SEEK_SET), 0);
    write_in_pieces(file, second, {65536});
    ASSERT_EQ(fclose(file), 0);
    EXPECT_TRUE(read_file("again") == second);
}

TEST_F(WriteBehindTest, AFailedWriteOnTheThreadIsReportedByTheCloseAtTheLatest) {
    // The file may not grow past 1 MiB: writes beyond fail with EFBIG (the signal
    // that would end the process is ignored meanwhile).
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    Bytes bytes = pattern(4 * 1024 * 1024, 3);
    FILE* file = platform_create_new_file("limited");
    bool failed = file == nullptr;
    if (file != nullptr) {
        size_t at = 0;
        while (at < bytes.size() && fwrite(bytes.data() + at, 1, 65536, file) == 65536) at += 65536;
        failed = ferror(file) != 0;
        failed |= fclose(file) != 0;
    }
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_TRUE(failed);

    // The thread goes on serving the files after it.
    Bytes after = pattern(2 * 1024 * 1024, 4);
    file = platform_create_new_file("after");
    ASSERT_NE(file, nullptr);
    write_in_pieces(file, after, {65536});
    ASSERT_EQ(fclose(file), 0);
    EXPECT_TRUE(read_file("after") == after);
}

}  // namespace
