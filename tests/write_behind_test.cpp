// Writing behind the decoder held against writing each window in turn: the long
// corpus members of the methods that take it, whole, damaged, cut short, cancelled
// and into a file that fails.  The file must get the same bytes in whole rings, the
// CRC-16 and the result must agree, and a member that fails may reach the point
// where it is caught later (at the end of a ring rather than of a window), but
// never writes a byte that writing in turn would not have written.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "decode/write_behind.h"
#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {

struct Written {
    Bytes bytes;
    std::vector<size_t> writes;
    size_t fail_after = SIZE_MAX;  // a write that would pass this many bytes fails
};

struct Outcome {
    DecodeResult result;
    Written file;
    uint16_t crc;
    bool write_failed;
    uint32_t decoded_count;
};

uint32_t cancel_at;  // 0: no cancel

// Rings of 128 KiB, the least that holds the 64 KiB window twice, so that the long
// members hand several over: a fixture for every in-process case.
class WriteBehind : public ::testing::Test {
protected:
    void SetUp() override { decoder.ring_size = 128 * 1024; }
};

Outcome decode_into_file(const Bytes& packed, uint32_t original_size, int method, bool behind,
                         size_t fail_after = SIZE_MAX) {
    Outcome outcome;
    outcome.file.fail_after = fail_after;
    cookie_io_functions_t io = {};
    io.write = [](void* c, const char* data, size_t size) -> ssize_t {
        Written* file = (Written*)c;
        // A cookie reports a failed write as 0 bytes written, never as -1.
        if (file->bytes.size() + size > file->fail_after) return 0;
        file->bytes.insert(file->bytes.end(), data, data + size);
        file->writes.push_back(size);
        return (ssize_t)size;
    };
    FILE* out = fopencookie(&outcome.file, "w", io);
    setvbuf(out, nullptr, _IONBF, 0);
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t percent) {
        if (cancel_at != 0 && percent >= cancel_at) decoder.stop_requested = 1;
    };
    platform_set_hooks(&hooks);
    decoder.writes_in_turn = !behind;
    DecodedMember decoded = decode_packed(packed, original_size, method, UINT32_MAX, true, out);
    outcome.result = decoded.result;
    outcome.crc = decoded.crc;
    outcome.write_failed = decoded.write_failed;
    outcome.decoded_count = decoder.decoded_count;
    fclose(out);
    return outcome;
}

bool is_prefix(const Bytes& shorter, const Bytes& longer) {
    return shorter.size() <= longer.size() &&
           std::equal(shorter.begin(), shorter.end(), longer.begin());
}

// Every write but the last is one whole ring.
void expect_whole_rings(const Written& file, const std::string& what) {
    for (size_t i = 0; i + 1 < file.writes.size(); i++)
        EXPECT_EQ(file.writes[i], (size_t)write_behind_ring()) << what << " write " << i;
}

std::vector<std::pair<ArchiveMember, int>> long_members() {
    std::vector<std::pair<ArchiveMember, int>> members;
    for (const char* archive : {"lh1_long.lzh", "lh5_long.lzh", "lh7_long.lzh"})
        for (const ArchiveMember& m : read_archive_members(corpus_path(archive)))
            if (m.original_size > write_behind_ring())
                members.push_back({m, method_index(m.method.c_str())});
    return members;
}

TEST_F(WriteBehind, WritesWhatWritingInTurnWrites) {
    const auto members = long_members();
    ASSERT_EQ(members.size(), 6u);
    std::mt19937 rng(7);
    for (const auto& [m, method] : members) {
        const std::string name = m.method + " " + m.name;
        cancel_at = 0;
        Outcome behind = decode_into_file(m.packed, m.original_size, method, true);
        Outcome in_turn = decode_into_file(m.packed, m.original_size, method, false);
        EXPECT_EQ(behind.result, DECODE_COMPLETE) << name;
        EXPECT_TRUE(behind.file.bytes == in_turn.file.bytes) << name;
        EXPECT_EQ(behind.crc, m.crc) << name;
        EXPECT_EQ(in_turn.crc, m.crc) << name;
        expect_whole_rings(behind.file, name);
        EXPECT_GT(behind.file.writes.size(), 1u) << name;

        // Damage and a cut: the same result; what was written is what writing in
        // turn wrote, or the start of it, or goes on from it (the overrun of a cut
        // is caught at the end of a ring, not of a window).
        for (int k = 0; k < 6; k++) {
            Bytes bad = m.packed;
            bad[rng() % bad.size()] ^= (uint8_t)(1u << rng() % 8);
            if (k == 5) bad.resize(bad.size() / 2);
            const std::string what = name + " damaged " + std::to_string(k);
            Outcome b = decode_into_file(bad, m.original_size, method, true);
            Outcome t = decode_into_file(bad, m.original_size, method, false);
            EXPECT_EQ(b.result, t.result) << what;
            EXPECT_TRUE(is_prefix(t.file.bytes, b.file.bytes) ||
                        is_prefix(b.file.bytes, t.file.bytes))
                << what;
            if (b.result == DECODE_COMPLETE) {
                EXPECT_TRUE(b.file.bytes == t.file.bytes) << what;
            }
            expect_whole_rings(b.file, what);
        }

        // A cancel stops after the same symbol; the file holds the whole rings
        // before it.
        for (uint32_t percent : {30u, 70u}) {
            cancel_at = percent;
            const std::string what = name + " cancel " + std::to_string(percent);
            Outcome b = decode_into_file(m.packed, m.original_size, method, true);
            Outcome t = decode_into_file(m.packed, m.original_size, method, false);
            EXPECT_EQ(b.result, DECODE_CANCELLED) << what;
            EXPECT_EQ(b.decoded_count, t.decoded_count) << what;
            EXPECT_TRUE(is_prefix(b.file.bytes, behind.file.bytes)) << what;
            EXPECT_EQ(b.file.bytes.size() % write_behind_ring(), 0u) << what;
            EXPECT_LE(b.decoded_count - b.file.bytes.size(), (size_t)write_behind_ring()) << what;
        }
        cancel_at = 0;
    }
}

// A write that fails on the writer's thread is the member's write error, as it is
// written in turn, and the decoding still ends as it would.
TEST_F(WriteBehind, AFailedWriteIsTheMembersError) {
    for (const auto& [m, method] : long_members()) {
        const std::string name = m.method + " " + m.name;
        for (size_t fail_after : {(size_t)1000, (size_t)write_behind_ring() + 5}) {
            Outcome b = decode_into_file(m.packed, m.original_size, method, true, fail_after);
            Outcome t = decode_into_file(m.packed, m.original_size, method, false, fail_after);
            EXPECT_TRUE(b.write_failed) << name;
            EXPECT_TRUE(t.write_failed) << name;
            EXPECT_EQ(b.result, t.result) << name;
            EXPECT_EQ(b.crc, m.crc) << name;  // the CRC-16 is of the bytes decoded
            EXPECT_LE(b.file.bytes.size(), fail_after) << name;
        }
    }
}

// Every file of `archive` in `scratch` has the digest the manifest gives it.
void expect_files_as_manifest(const char* archive, const ScratchFolder& scratch) {
    for (const ManifestEntry& e : read_manifest(corpus_path("manifest.tsv"))) {
        if (e.archive != archive || e.is_folder) continue;
        EXPECT_EQ(sha256_hex(read_file(scratch / e.path)), e.sha256) << archive << " " << e.path;
    }
}

// Members one after another, extracted and tested by the engine as the tool runs
// it: the writer started for the first serves the rest, and every file is whole.
TEST_F(WriteBehind, ServesAWholeArchiveOfLongMembers) {
    for (const char* archive : {"lh5_long.lzh", "lh7_long.lzh", "lh1_long.lzh"}) {
        ScratchFolder scratch;
        EngineRun run = run_engine_on(corpus_path(archive));
        EXPECT_EQ(run.failure_count, 0u) << archive;
        EXPECT_EQ(run.refused, 0) << archive;
        expect_files_as_manifest(archive, scratch);
    }
}

// Where the tool may use one processor only it starts no helper and writes in turn
// from the ring it has, with the same files.
TEST_F(WriteBehind, OneProcessorExtractsAlike) {
    if (system("taskset -c 0 true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no taskset";
    for (const char* archive : {"lh5_long.lzh", "lh7_long.lzh"}) {
        ScratchFolder scratch;
        // The words after the environment are the tool's own; taskset runs it.
        ToolRun run = run_tool({"extract", "-C", scratch.path(), corpus_path(archive)},
                               "taskset -c 0");
        EXPECT_EQ(run.status, 0) << archive << ": " << run.output();
        expect_files_as_manifest(archive, scratch);
    }
}

}  // namespace
