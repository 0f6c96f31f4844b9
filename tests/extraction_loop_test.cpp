// The whole extraction loop on archives built in memory, through the POSIX seam:
// what lands on disk, what is reported, and how damage and cancels end a run.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {


TestMember stored(const std::string& name, const std::string& content, int level = 2) {
    TestMember m;
    m.name = name;
    m.data = bytes_of(content);
    m.level = level;
    m.raw_time = 1262581662;
    return m;
}

struct Loop : ::testing::Test {
    TimeZone utc{"UTC"};
    ScratchFolder scratch;
    ReportRecorder recorder;
    EngineRun run;
    void extract(const Bytes& archive, bool test_only = false) {
        write_file(scratch / "archive.lzh", archive);
        run = run_engine_on(scratch / "archive.lzh", test_only);
    }
    std::string content(const std::string& path) { return text_of(read_file(path)); }
};

TEST_F(Loop, EmptyArchiveEndsAtOnce) {
    extract({0});
    EXPECT_TRUE(recorder.members.empty());
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_EQ(recorder.ends, 1);
    EXPECT_FALSE(recorder.cancelled);
    EXPECT_EQ(run.failure_count, 0u);
}

TEST_F(Loop, StoredMembersFoldersAndTimes) {
    TestMember folder;
    folder.method = "-lhd-";
    folder.folder = "docs\xFF";
    folder.level = 2;
    TestMember empty = stored("empty.txt", "");
    empty.raw_time = 951868800;
    TestMember nested = stored("f.txt", "nested", 1);
    nested.folder = "sub\xFF" "dir\xFF";
    nested.raw_time = (30u << 25) | (3u << 21) | (1u << 16);  // 2010-03-01, MS-DOS
    extract(build_archive({stored("a.txt", "alpha"), folder, empty, nested}));
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content("a.txt"), "alpha");
    EXPECT_TRUE(folder_exists("docs"));
    EXPECT_EQ(content("empty.txt"), "");
    EXPECT_EQ(content("sub/dir/f.txt"), "nested");
    struct stat st;
    ASSERT_EQ(stat("empty.txt", &st), 0);
    EXPECT_EQ(st.st_mtime, 951868800);
    ASSERT_EQ(stat("sub/dir/f.txt", &st), 0);
    EXPECT_EQ(st.st_mtime, 1267401600);
    EXPECT_EQ(recorder.members, (std::vector<std::string>{"a.txt", "docs/", "empty.txt", "sub/dir/f.txt"}));
    EXPECT_EQ(recorder.progress.back(), 100u);
    // Each folder made is announced once, and each folder that received files once
    // when the members go elsewhere and at the end; no file by itself.
    std::vector<std::pair<ShellEvent, std::string>> notices;
    for (const auto& n : recorder.notices) notices.push_back({n.event, n.path});
    EXPECT_EQ(notices, (std::vector<std::pair<ShellEvent, std::string>>{
                           {SHELL_FOLDER_MADE, "docs"},
                           {SHELL_FOLDER_MADE, "sub"},
                           {SHELL_FOLDER_MADE, "sub/dir"},
                           {SHELL_FOLDER_UPDATED, "."},
                           {SHELL_FOLDER_UPDATED, "./sub/dir"}}));
}

TEST_F(Loop, FolderEntryWithoutTrailingSlashMakesTheFolder) {
    TestMember folder;
    folder.method = "-lhd-";
    folder.name = "plain";
    folder.level = 2;
    extract(build_archive({folder}));
    EXPECT_TRUE(folder_exists("plain"));
    EXPECT_EQ(run.failure_count, 0u);
}

TEST_F(Loop, UnknownMethodIsSkippedAndCountedLikeTheOthers) {
    TestMember unknown = stored("b.bin", "bravo");
    unknown.method = "-pm2-";
    extract(build_archive({stored("a.txt", "alpha"), unknown, stored("c.txt", "charlie")}));
    EXPECT_FALSE(file_exists("b.bin"));
    EXPECT_EQ(content("c.txt"), "charlie");
    EXPECT_TRUE(recorder.failed("b.bin", FAILED_UNKNOWN_METHOD));
    EXPECT_EQ(recorder.progress.back(), 100u);
    EXPECT_EQ(run.failure_count, 1u);
}

// What other encoders write: level 3 (LHA for OS/2 2.08), a level-2 length stated 2
// short (LHa for OS-9), a comment behind a NUL in the name (Amiga and MorphOS LHA),
// a folder as an -lh0- member without a file name (Amiga LHA 1.22), and PMarc's
// stored -pm0-; its -pm1- and -pm2- stay unknown.
TEST_F(Loop, FormsOfOtherEncodersAreExtracted) {
    TestMember level3 = stored("l3.txt", "level three", 3);
    level3.folder = "os2\xFF";
    level3.os_id = '2';
    Bytes os9 = build_member(stored("os9.txt", "from OS-9"));
    os9[0] = (uint8_t)(os9[0] - 2);
    TestMember amiga = stored(std::string("pic.iff\0a comment", 17), "picture", 1);
    amiga.os_id = 'A';
    TestMember amiga_folder = stored("", "", 1);
    amiga_folder.folder = "drawer\xFF";
    TestMember pm0 = stored("pm0.txt", "pmarc");
    pm0.method = "-pm0-";
    TestMember pm1 = stored("pm1.bin", "pmarc");
    pm1.method = "-pm1-";
    Bytes archive = build_member(level3);
    archive.insert(archive.end(), os9.begin(), os9.end());
    Bytes rest = build_archive({amiga, amiga_folder, pm0, pm1});
    archive.insert(archive.end(), rest.begin(), rest.end());
    extract(archive);
    EXPECT_EQ(content("os2/l3.txt"), "level three");
    EXPECT_EQ(content("os9.txt"), "from OS-9");
    EXPECT_EQ(content("pic.iff"), "picture");
    EXPECT_TRUE(folder_exists("drawer"));
    EXPECT_EQ(content("pm0.txt"), "pmarc");
    EXPECT_FALSE(file_exists("pm1.bin"));
    EXPECT_TRUE(recorder.failed("pm1.bin", FAILED_UNKNOWN_METHOD));
    EXPECT_EQ(run.failure_count, 1u);
    EXPECT_FALSE(run.archive_damaged);
}

TEST_F(Loop, LeadingSlashIsDroppedOnceAndLaterMembersReplaceEarlierOnes) {
    extract(build_archive({stored("/top.txt", "first"), stored("top.txt", "second")}));
    EXPECT_EQ(content("top.txt"), "second");
    EXPECT_EQ(recorder.members[0], "/top.txt");
    EXPECT_EQ(run.failure_count, 0u);
}

TEST_F(Loop, UnsafePathsAreNotWrittenAndTheRunGoesOn) {
    std::vector<TestMember> members;
    for (const char* bad : {"../escape.txt", "a/../../escape2.txt", "//abs.txt", "C:evil.txt"})
        members.push_back(stored(bad, "x"));
    TestMember climbing_folder;
    climbing_folder.method = "-lhd-";
    climbing_folder.folder = "..\xFF" "up\xFF";
    climbing_folder.level = 2;
    members.push_back(climbing_folder);
    members.push_back(stored("safe.txt", "ok"));
    extract(build_archive(members));
    EXPECT_EQ(content("safe.txt"), "ok");
    EXPECT_EQ(run.failure_count, 5u);
    EXPECT_TRUE(recorder.failed("../escape.txt", FAILED_UNSAFE_PATH));
    EXPECT_TRUE(recorder.failed("../up/", FAILED_UNSAFE_PATH));
    EXPECT_FALSE(file_exists(scratch.path() + "/../escape.txt"));
    EXPECT_FALSE(file_exists(scratch.path() + "/../escape2.txt"));
    EXPECT_FALSE(folder_exists(scratch.path() + "/../up"));
}

TEST_F(Loop, CrcMismatchLeavesNoFileAndIsReported) {
    TestMember bad = stored("bad.txt", "payload");
    bad.crc = 0x1111;
    bad.crc_given = true;
    TestMember unchecked = stored("nocrc.txt", "data", 0);
    unchecked.with_crc = false;
    extract(build_archive({bad, unchecked}));
    EXPECT_FALSE(file_exists("bad.txt"));
    EXPECT_TRUE(recorder.failed("bad.txt", FAILED_CRC_MISMATCH));
    EXPECT_EQ(content("nocrc.txt"), "data");
    EXPECT_EQ(run.failure_count, 1u);
}

TEST_F(Loop, StoredSizeBeyondThePackedDataIsDamaged) {
    TestMember liar = stored("liar.txt", "four");
    liar.original_size = 40;  // would copy the next header into this file
    extract(build_archive({liar, stored("next.txt", "intact")}));
    EXPECT_FALSE(file_exists("liar.txt"));
    EXPECT_TRUE(recorder.failed("liar.txt", FAILED_DAMAGED));
    EXPECT_EQ(content("next.txt"), "intact");
}

TEST_F(Loop, DamagedHeaderRefusesTheWholeRun) {
    Bytes archive = build_archive({stored("a.txt", "alpha")}, false);
    Bytes broken = build_member(stored("b.txt", "bravo"));
    broken[20] = 7;  // no such level
    archive.insert(archive.end(), broken.begin(), broken.end());
    archive.push_back(0);
    extract(archive);
    EXPECT_FALSE(file_exists("a.txt"));
    EXPECT_TRUE(recorder.members.empty());
    EXPECT_TRUE(run.archive_damaged);
    EXPECT_TRUE(recorder.failed("", ARCHIVE_DAMAGED));
    EXPECT_EQ(recorder.ends, 1);
    EXPECT_FALSE(recorder.cancelled);
}

TEST_F(Loop, CancelDeletesTheMemberBeingWrittenAndKeepsEarlierOnes) {
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t percent) { if (percent >= 50) decoder.stop_requested = 1; };
    hooks.end = [](void* c, bool cancelled) { *(bool*)c = cancelled; };
    bool cancelled = false;
    hooks.context = &cancelled;
    platform_set_hooks(&hooks);
    extract(build_archive({stored("early.txt", "e"), stored("big.bin", std::string(100000, 'b')),
                           stored("late.txt", "l")}));
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(file_exists("early.txt"));
    EXPECT_FALSE(file_exists("big.bin"));
    EXPECT_FALSE(file_exists("late.txt"));
}

TEST_F(Loop, TestOnlyWritesNothingButChecksEverything) {
    TestMember bad = stored("bad.txt", "payload");
    bad.crc = 0x1111;
    bad.crc_given = true;
    TestMember folder;
    folder.method = "-lhd-";
    folder.folder = "dir\xFF";
    folder.level = 2;
    extract(build_archive({stored("a.txt", "alpha"), bad, folder}), true);
    EXPECT_FALSE(file_exists("a.txt"));
    EXPECT_FALSE(folder_exists("dir"));
    EXPECT_TRUE(recorder.failed("bad.txt", FAILED_CRC_MISMATCH));
    EXPECT_EQ(run.failure_count, 1u);
}

TEST_F(Loop, SumOfOriginalSizesWalksEveryLevel) {
    TestMember folder;
    folder.method = "-lhd-";
    folder.folder = "d\xFF";
    folder.level = 1;
    TestMember m1 = stored("one", std::string(10, '1'), 1);
    m1.folder = "d\xFF";
    write_file("archive.lzh", build_archive({stored("zero", "0000", 0), m1, folder, stored("two", "22")}));
    ExtractionRun run = {};
    run.archive_file = fopen("archive.lzh", "rb");
    run.archive_size = (long)read_file("archive.lzh").size();
    uint64_t total = 0;
    uint32_t members = 0;
    EXPECT_EQ(walk_archive(&run, &total, [](void* count, const MemberHeader&) { ++*(uint32_t*)count; },
                           &members), SHAPE_SOUND);
    EXPECT_EQ(total, 16u);
    EXPECT_EQ(members, 4u);
    EXPECT_EQ(ftell(run.archive_file), 0);
    fclose(run.archive_file);
}

// The next header is read where the member's data ends, whether the decoder stopped
// short of it (a stored copy of fewer bytes than stored), read past it (a long
// member's input block refilled over the next header) or took it exactly.
TEST_F(Loop, NextHeaderFollowsTheDataWhateverTheDecoderRead) {
    TestMember short_copy = stored("short.txt", "four bytes");
    short_copy.original_size = 4;
    short_copy.crc = crc16_of(bytes_of("four"));
    short_copy.crc_given = true;
    const ArchiveMember long_member = read_archive_members(corpus_path("lh5_long.lzh")).at(0);
    TestMember coded;
    coded.method = long_member.method;
    coded.name = "long.txt";
    coded.level = 2;
    coded.data = long_member.packed;
    coded.original_size = long_member.original_size;
    coded.crc = long_member.crc;
    coded.crc_given = true;
    extract(build_archive({short_copy, stored("a.txt", "alpha"), coded, stored("b.txt", "bravo")}));
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content("short.txt"), "four");
    EXPECT_EQ(content("a.txt"), "alpha");
    EXPECT_EQ(read_file("long.txt").size(), long_member.original_size);
    EXPECT_EQ(content("b.txt"), "bravo");
}

// The members of one folder go into the folder that the first of them walked into,
// held open from member to member: a folder swapped for a link to another place
// between two of its members leads nothing there, and the later member lands in
// the folder as it was walked, under its new name.  Members of other folders in
// between, and at the top, go where their own paths lead.
TEST_F(Loop, HeldFolderLeadsNothingThroughALinkSwappedIn) {
    char outside_template[] = "/tmp/mavusfx-outside-XXXXXX";
    ASSERT_NE(mkdtemp(outside_template), nullptr);
    static std::string outside;
    outside = outside_template;
    PlatformHooks hooks = {};
    hooks.member = [](void*, const char* name) {
        if (std::string(name) != "d/b.txt") return;
        ASSERT_EQ(rename("d", "d.moved"), 0);
        ASSERT_EQ(symlink(outside.c_str(), "d"), 0);
    };
    platform_set_hooks(&hooks);
    extract(build_archive({stored("d/a.txt", "alpha"), stored("d/b.txt", "bravo"),
                           stored("e/c.txt", "charlie"), stored("top.txt", "top"),
                           stored("e/d.txt", "delta")}));
    platform_set_hooks(nullptr);
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content("d.moved/a.txt"), "alpha");
    EXPECT_EQ(content("d.moved/b.txt"), "bravo");
    EXPECT_EQ(content("e/c.txt"), "charlie");
    EXPECT_EQ(content("e/d.txt"), "delta");
    EXPECT_EQ(content("top.txt"), "top");
    EXPECT_FALSE(file_exists(outside + "/b.txt"));
    rmdir(outside.c_str());
}

}  // namespace
