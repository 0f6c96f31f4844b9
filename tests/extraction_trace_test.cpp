// The observable course of an extraction, pinned: for corpus archives, every report
// of the engine (member names, each progress position with the decoded count after
// which it was sent, failures, the end) and the extracted contents; for cancels at
// fixed progress points, exactly what had been written.  The decoders' fast paths
// must not move any of it: a progress report one symbol late, a cancel seen one
// symbol early or one byte more in the file changes a digest here.
#include <stdlib.h>
#include <time.h>

#include <map>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {


// Every report as a line of text.  The decoded count that goes with a progress
// report is the driver's: during a stored copy it is the one the last decoded
// member left.
void on_member(void* c, const char* name) {
    *(std::string*)c += std::string("member ") + name + "\n";
}
void on_progress(void* c, uint32_t percent) {
    *(std::string*)c += "progress " + std::to_string(percent) + " after " +
                        std::to_string(decoder.decoded_count) + "\n";
}
void on_failure(void* c, const char* name, FailureKind kind) {
    *(std::string*)c += std::string("failed ") + (name ? name : "(archive)") + " " +
                        std::to_string(kind) + "\n";
}
void on_end(void* c, bool cancelled) { *(std::string*)c += cancelled ? "cancelled\n" : "done\n"; }

// Runs the engine on `archive` in a scratch folder and returns the reports followed
// by the digest of every file that `expected_files` names.
std::string course_of(const std::string& archive, const std::vector<std::string>& expected_files) {
    TimeZone utc("UTC");
    WritingInTurn in_turn;
    ScratchFolder scratch;
    std::string trace;
    PlatformHooks hooks = {on_member, on_progress, on_failure, nullptr, on_end, nullptr, &trace, nullptr, nullptr};
    platform_set_hooks(&hooks);
    start_member_state(nullptr, 0, 0, 0);  // a stored copy at the start then reports 0
    run_engine_on(archive);
    platform_set_hooks(nullptr);  // the hooks' context is this frame's
    for (const std::string& path : expected_files) {
        bool there = file_exists(scratch / path);
        trace += path + " " + (there ? sha256_hex(read_file(scratch / path)) : "-") + "\n";
    }
    return trace;
}

std::vector<std::string> manifest_files(const std::string& archive) {
    std::vector<std::string> files;
    for (const ManifestEntry& e : read_manifest(corpus_path("manifest.tsv")))
        if (e.archive == archive && !e.is_folder) files.push_back(e.path);
    return files;
}

TEST(ExtractionTrace, CorpusArchivesRunAsPinned) {
    const std::map<std::string, std::string> pinned = {
        {"lh0_level0.lzh",
         "75aa895cf54859a5b2560ff63b9403a273dddf439a3ba81e839033a8a2cfdd54"},
        {"lh4_level0.lzh",
         "953add04f0029edb47b279b71cb92cd9cbea2df369632be36c269e53132e5254"},
        {"lh5_level0.lzh",
         "c1749950a2cac17c2c4ff65e79c0fe4b800a98697a5bbecf5357f3a60a4f9ce4"},
        {"lh5_long.lzh",
         "a7ee71e2c62552f48424cef2f8c09a5d0bafc08f0f4cc80b1273839cf1038c08"},
        {"lh6_level1.lzh",
         "2b2e5f3305ba289cd685a47f554ccdf3f4f0a35c5c60ca742e39071cf9f908c7"},
        {"lh7_level2.lzh",
         "1c19c390edca565e3613d0dbaca74274238049c258cb32005ecaef3a78bac7c6"},
        {"lh7_long.lzh",
         "0baa8d75e7d9bc7864769f3f611c84575d7c65753386ed9fa166e91f58e1959b"},
        {"lh1_level0.lzh",
         "5fceced81619a644b9907fdd11ae7268a26c5b7170f30e47c1032e13649405eb"},
        {"lh1_long.lzh",
         "deb86465836a5f0bcb4a8e2407c62e8b187b7ec8f8b9dc971cf9884e393d4b00"},
        {"lh2_long.lzh",
         "30733e7ac01c4d2897418185e1b1d977ef70db5c0d4ae12b9325e749493a0f32"},
        {"lh3_long.lzh",
         "a7ee71e2c62552f48424cef2f8c09a5d0bafc08f0f4cc80b1273839cf1038c08"},
        {"lzs_long.lzh",
         "bbb24197946e95a697dd7f9fbe6b761d0a605878fb33abfdd0be2da226fbb7d5"},
        {"lz5_long.lzh",
         "deb86465836a5f0bcb4a8e2407c62e8b187b7ec8f8b9dc971cf9884e393d4b00"},
    };
    for (const auto& [archive, expected] : pinned) {
        std::string trace = course_of(corpus_path(archive), manifest_files(archive));
        EXPECT_EQ(sha256_hex(trace), expected) << archive << ":\n" << trace.substr(0, 2000);
    }
}

// Members that fail before or while they decode: the next member's first report
// comes at a percentage that jumped; a damaged member stops inside a block; a
// size one short cuts the last match and leaves the mismatch to the CRC-16.
TEST(ExtractionTrace, FailingMembersRunAsPinned) {
    std::vector<TestMember> members;
    auto add = [&](const std::string& method, const std::string& name, const ArchiveMember& from) {
        TestMember m;
        m.method = method;
        m.name = name;
        m.level = 2;
        m.data = from.packed;
        m.original_size = from.original_size;
        m.crc = from.crc;
        m.crc_given = true;
        members.push_back(m);
        return &members.back();
    };
    ArchiveMember text5 = members_of("lh5_long.lzh", METHOD_LH5, METHOD_LH5)[0];
    ArchiveMember text7 = members_of("lh7_long.lzh", METHOD_LH7, METHOD_LH7)[0];
    ArchiveMember readme6 = members_of("lh6_level0.lzh", METHOD_LH6, METHOD_LH6)[0];
    add("-lhx-", "unknown.bin", text5)->original_size = 70000;
    add("-lh5-", "text5.txt", text5);
    add("-lh7-", "flipped.txt", text7)->data[text7.packed.size() / 2] ^= 0x10;
    add("-lh6-", "short.txt", readme6)->original_size = readme6.original_size - 1;
    add("-lh5-", "cut.txt", text5)->data.resize(text5.packed.size() / 3);
    add("-lh7-", "again.txt", text7);

    ScratchFolder scratch;
    write_file(scratch / "failing.lzh", build_archive(members));
    std::string trace = course_of(scratch / "failing.lzh",
                                  {"unknown.bin", "text5.txt", "flipped.txt", "short.txt",
                                   "cut.txt", "again.txt"});
    EXPECT_EQ(sha256_hex(trace), "058a04068b7909f79b2b15f80c1191f80b0b6a54030bfa0fcbaead4dcdf1dcb5")
        << trace.substr(0, 2000);
}

// A cancel at a fixed percentage stops after the symbol that reached it, with only
// the whole windows written before it in the file.
std::string cancel_trace(const std::vector<std::string>& archives, int first, int last) {
    static uint32_t cancel_at;
    WritingInTurn in_turn;
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t percent) { if (percent >= cancel_at) decoder.stop_requested = 1; };
    platform_set_hooks(&hooks);
    std::string trace;
    for (const std::string& archive : archives) {
        for (const ArchiveMember& m : members_of(archive, first, last)) {
            for (uint32_t percent : {1u, 37u, 81u, 100u}) {
                cancel_at = percent;
                DecodedMember out = decode_packed(m.packed, m.original_size,
                                                  method_index(m.method.c_str()), UINT32_MAX, true);
                trace += archive + " " + m.name + " " + std::to_string(percent) + ": " +
                         std::to_string(out.result) + " after " + std::to_string(decoder.decoded_count) +
                         ", " + std::to_string(out.output.size()) + " bytes " +
                         sha256_hex(out.output) + "\n";
            }
        }
    }
    return trace;
}

TEST(ExtractionTrace, CancelsWriteAsPinned) {
    std::string blocks = cancel_trace({"lh4_level0.lzh", "lh5_long.lzh", "lh6_level2.lzh",
                                       "lh7_long.lzh"},
                                      METHOD_LH4, METHOD_LH7);
    EXPECT_EQ(sha256_hex(blocks), "e606ab1845239b13ea153afd9b636ee91f3d7d4a8c392ef1030db5501da8e478")
        << blocks;
    std::string older = cancel_trace(
        {"lh1_long.lzh", "lh2_long.lzh", "lh3_long.lzh", "lzs_long.lzh", "lz5_long.lzh"},
        METHOD_LH1, METHOD_LZ5);
    EXPECT_EQ(sha256_hex(older), "35f623c5a49e50ab3a0950c71dc82f5536c751a7d29e4b0a65324e2eb441e28a")
        << older;
}

// A cancel that comes between two progress reports (here: while the second window
// is written) is still seen after the very symbol during which it came.
std::string between_trace(const std::vector<std::string>& archives, int first, int last) {
    struct Sink {
        Bytes written;
        int writes = 0;
    };
    cookie_io_functions_t io = {};
    io.write = [](void* c, const char* data, size_t size) -> ssize_t {
        Sink* sink = (Sink*)c;
        sink->written.insert(sink->written.end(), data, data + size);
        if (++sink->writes == 2) decoder.stop_requested = 1;
        return (ssize_t)size;
    };
    WritingInTurn in_turn;
    std::string trace;
    for (const std::string& archive : archives) {
        for (const ArchiveMember& m : members_of(archive, first, last)) {
            Sink sink;
            FILE* out = fopencookie(&sink, "w", io);
            setvbuf(out, nullptr, _IONBF, 0);
            DecodeResult result = decode_packed(m.packed, m.original_size, method_index(m.method.c_str()),
                                                UINT32_MAX, true, out).result;
            fclose(out);
            trace += archive + " " + m.name + ": " + std::to_string(result) + " after " +
                     std::to_string(decoder.decoded_count) + ", " + std::to_string(sink.written.size()) +
                     " bytes\n";
        }
    }
    return trace;
}

TEST(ExtractionTrace, CancelsBetweenReportsStopAfterTheSymbol) {
    std::string blocks =
        between_trace({"lh4_level0.lzh", "lh5_long.lzh", "lh7_long.lzh"}, METHOD_LH4, METHOD_LH7);
    EXPECT_EQ(sha256_hex(blocks), "754318481e274b1286757eb333ee7197e1384005570de3e71b75c6e291962668")
        << blocks;
    std::string older = between_trace({"lh1_long.lzh", "lh3_long.lzh", "lzs_long.lzh"},
                                      METHOD_LH1, METHOD_LZ5);
    EXPECT_EQ(sha256_hex(older), "9f18f63ceddba3a220249eb3bd8d3b42a245450e287437057d3d0b63def5b498")
        << older;
}

}  // namespace
