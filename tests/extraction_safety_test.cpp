// What an extraction may touch and what it must keep: links below the destination
// are never written through, an old file survives a member that fails or a stop,
// names Windows cannot hold are refused, and an archive cut short, missing, or too
// big for the free space extracts nothing at all, unless the sound members before
// damage or a cut are asked for.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/test_support.h"

namespace {

TestMember stored(const std::string& name, const std::string& content) {
    TestMember m;
    m.name = name;
    m.data = bytes_of(content);
    m.level = 2;
    m.raw_time = 1262581662;
    return m;
}

TestMember folder_entry(const std::string& folder) {
    TestMember m;
    m.method = "-lhd-";
    m.folder = folder;
    m.level = 2;
    return m;
}

// The archive lies beside the destination, which is the current folder of the run.
struct Safety : ::testing::Test {
    TimeZone utc{"UTC"};
    ScratchFolder scratch;
    ReportRecorder recorder;
    EngineRun run;
    std::string dest = scratch / "dest";
    void SetUp() override {
        mkdir(dest.c_str(), 0777);
        mkdir((scratch / "outside").c_str(), 0777);
    }
    void extract(const Bytes& archive, bool test_only = false) {
        write_file(scratch / "archive.lzh", archive);
        ASSERT_EQ(chdir(dest.c_str()), 0);
        run = run_engine_on(scratch / "archive.lzh", test_only);
        ASSERT_EQ(chdir(scratch.path().c_str()), 0);
    }
    std::string content(const std::string& path) { return text_of(read_file(path)); }
};

TEST_F(Safety, LinksBelowTheDestinationAreNeverWrittenThrough) {
    write_file(scratch / "outside/x", bytes_of("outside x"));
    write_file(scratch / "outside/target", bytes_of("outside target"));
    ASSERT_EQ(symlink("../outside", (dest + "/d").c_str()), 0);
    ASSERT_EQ(symlink("../outside/target", (dest + "/f").c_str()), 0);
    ASSERT_EQ(symlink("../outside/nothing-yet", (dest + "/dangling").c_str()), 0);
    extract(build_archive({stored("d/x", "evil"), stored("d/sub/new", "evil"), stored("f", "evil"),
                           stored("dangling", "evil"), folder_entry("d\xFF" "made\xFF"),
                           stored("fine.txt", "ok")}));
    EXPECT_EQ(content(scratch / "outside/x"), "outside x");
    EXPECT_EQ(content(scratch / "outside/target"), "outside target");
    EXPECT_FALSE(folder_exists(scratch / "outside/sub"));
    EXPECT_FALSE(folder_exists(scratch / "outside/made"));
    EXPECT_FALSE(file_exists(scratch / "outside/nothing-yet"));
    for (const char* name : {"d/x", "d/sub/new", "f", "dangling", "d/made/"})
        EXPECT_TRUE(recorder.failed(name, FAILED_LINK_IN_PATH)) << name;
    EXPECT_EQ(content(dest + "/fine.txt"), "ok");
    EXPECT_EQ(run.failure_count, 5u);
    // The links themselves are left as they were.
    struct stat st;
    ASSERT_EQ(lstat((dest + "/f").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// 0x80 is a character of its own in code page 932: the backslash behind it separates,
// for the link check as for Windows.
TEST_F(Safety, ALinkBehindANameEndingIn0x80IsSeen) {
    ASSERT_EQ(symlink("../outside", (dest + "/d\x80").c_str()), 0);
    extract(build_archive({stored("d\x80\\bs.txt", "evil")}));
    EXPECT_TRUE(recorder.failed("d\x80/bs.txt", FAILED_LINK_IN_PATH));
    EXPECT_EQ(folder_entries(scratch / "outside"), std::vector<std::string>{});
    EXPECT_EQ(run.failure_count, 1u);
}

TEST_F(Safety, ATakenTemporaryNameIsPassedOverNeverFollowed) {
    write_file(dest + "/mavusfx~0.tmp", bytes_of("left by an earlier run"));
    ASSERT_EQ(symlink("../outside/planted", (dest + "/mavusfx~1.tmp").c_str()), 0);
    extract(build_archive({stored("a.txt", "alpha")}));
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content(dest + "/a.txt"), "alpha");
    EXPECT_EQ(content(dest + "/mavusfx~0.tmp"), "left by an earlier run");
    EXPECT_FALSE(file_exists(scratch / "outside/planted"));
    EXPECT_FALSE(file_exists(dest + "/mavusfx~2.tmp"));
}

// The old file goes only when the new one is complete and its CRC-16 matches.
TEST_F(Safety, AFailedMemberLeavesTheOldFileAsItWas) {
    for (const char* name : {"crc.txt", "damaged.txt", "short.txt", "good.txt"})
        write_file(dest + "/" + name, bytes_of("old"));
    TestMember crc = stored("crc.txt", "new data");
    crc.crc = 0x1111;
    crc.crc_given = true;
    TestMember damaged = stored("damaged.txt", "");
    damaged.method = "-lh5-";
    damaged.data = Bytes(40, 0xFF);
    damaged.original_size = 1000;
    damaged.crc_given = true;
    TestMember short_stored = stored("short.txt", "four");
    short_stored.original_size = 40;
    extract(build_archive({crc, damaged, short_stored, stored("good.txt", "new")}));
    EXPECT_EQ(content(dest + "/crc.txt"), "old");
    EXPECT_EQ(content(dest + "/damaged.txt"), "old");
    EXPECT_EQ(content(dest + "/short.txt"), "old");
    EXPECT_EQ(content(dest + "/good.txt"), "new");
    struct stat st;
    ASSERT_EQ(stat((dest + "/good.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1262581662);
    EXPECT_EQ(run.failure_count, 3u);
    EXPECT_EQ(folder_entries(dest), (std::vector<std::string>{"crc.txt", "damaged.txt", "good.txt", "short.txt"}));
}

TEST_F(Safety, AStopKeepsTheOldFileAndAStopAfterTheLastByteKeepsTheMember) {
    static uint32_t stop_at;
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t percent) { if (percent >= stop_at) decoder.stop_requested = 1; };
    write_file(dest + "/big.bin", bytes_of("old"));
    stop_at = 50;
    platform_set_hooks(&hooks);
    extract(build_archive({stored("big.bin", std::string(100000, 'b')), stored("late.txt", "l")}));
    EXPECT_EQ(content(dest + "/big.bin"), "old");
    EXPECT_EQ(folder_entries(dest), std::vector<std::string>{"big.bin"});

    stop_at = 100;
    extract(build_archive({stored("whole.bin", std::string(5000, 'w')), stored("late.txt", "l")}));
    EXPECT_EQ(content(dest + "/whole.bin"), std::string(5000, 'w'));
    EXPECT_FALSE(file_exists(dest + "/late.txt"));
}

TEST_F(Safety, NamesWindowsCannotHoldAreRefusedOnEveryPlatform) {
    std::vector<TestMember> members;
    for (const char* bad : {"CON", "nul.txt", "sub/AUX", "COM1", "ab:c", "q?.txt", "tab\t.txt", "dot."})
        members.push_back(stored(bad, "x"));
    members.push_back(stored("\x83\x7C.txt", "po"));  // "ポ": its trail byte is '|'
    TestMember nul_in_folder = stored("f", "x");
    nul_in_folder.folder = std::string("a\0/../../\xFF", 9);
    members.push_back(nul_in_folder);
    extract(build_archive(members));
    for (const char* bad : {"CON", "nul.txt", "sub/AUX", "COM1", "ab:c", "q?.txt", "tab\t.txt", "dot.", "a"})
        EXPECT_TRUE(recorder.failed(bad, FAILED_WINDOWS_NAME)) << bad;
    EXPECT_EQ(run.failure_count, 9u);
    EXPECT_EQ(folder_entries(dest), std::vector<std::string>{"\x83\x7C.txt"});
    EXPECT_FALSE(file_exists(scratch / "f"));
}

// A NUL ends a file name: what follows is a comment (Amiga LHA writes one there),
// never a part of the path.
TEST_F(Safety, WhatFollowsANulInAFileNameIsNeverAPath) {
    extract(build_archive({stored(std::string("a\0/../../x", 10), "cut")}));
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(folder_entries(dest), std::vector<std::string>{"a"});
    EXPECT_EQ(content(dest + "/a"), "cut");
    EXPECT_FALSE(file_exists(scratch / "x"));
}

TEST_F(Safety, DeclaredSizesBeyondTheFreeSpaceWriteNothing) {
    // 4096 members of 4 GiB each, one packed byte apiece: 16 TiB declared.
    std::vector<TestMember> members = {stored("first.txt", "1")};
    TestMember huge = stored("huge", "z");
    huge.method = "-lh5-";
    huge.original_size = 0xFFFFFFFEu;
    for (int i = 0; i < 4096; i++) {
        huge.name = "huge" + std::to_string(i);
        members.push_back(huge);
    }
    extract(build_archive(members));
    EXPECT_EQ(run.refused, ARCHIVE_NO_SPACE);
    EXPECT_TRUE(recorder.failed("", ARCHIVE_NO_SPACE));
    EXPECT_TRUE(recorder.members.empty());
    EXPECT_TRUE(folder_entries(dest).empty());
}

TEST_F(Safety, AnArchiveCutShortExtractsNothing) {
    Bytes whole = build_archive({stored("a.txt", "alpha"), stored("b.txt", std::string(500, 'b'))});
    Bytes inside_data(whole.begin(), whole.end() - 101);
    size_t last = build_member(stored("a.txt", "alpha")).size();
    Bytes inside_header(whole.begin(), whole.begin() + (long)last + 10);
    // The last member's packed size two too large (one too large takes the end byte
    // for data, and the file then ends right after the member).
    Bytes two_too_many = whole;
    two_too_many[last + 7] += 2;
    TestMember folder = folder_entry("dir\xFF");
    folder.data = Bytes(10, 0);
    Bytes folder_past = build_archive({stored("a.txt", "alpha"), folder});
    folder_past.resize(folder_past.size() - 6);
    int i = 0;
    for (const Bytes& cut : {inside_data, inside_header, two_too_many, folder_past}) {
        ReportRecorder each;
        extract(cut);
        EXPECT_EQ(run.refused, ARCHIVE_CUT_SHORT) << i;
        EXPECT_TRUE(each.failed("", ARCHIVE_CUT_SHORT)) << i;
        EXPECT_TRUE(each.members.empty()) << i;
        EXPECT_TRUE(folder_entries(dest).empty()) << i;
        extract(cut, true);  // test agrees
        EXPECT_EQ(run.refused, ARCHIVE_CUT_SHORT) << i++;
    }
}

// Several encoders write no end byte: the file ends right after the last member's
// data, a folder entry's included.
TEST_F(Safety, AnArchiveWithoutItsEndByteIsComplete) {
    extract(build_archive({stored("a.txt", "alpha"), stored("b.txt", "bravo")}, false));
    EXPECT_EQ(run.refused, 0);
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content(dest + "/a.txt"), "alpha");
    EXPECT_EQ(content(dest + "/b.txt"), "bravo");
    extract(build_archive({stored("c.txt", "charlie"), folder_entry("dir\xFF")}, false));
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content(dest + "/c.txt"), "charlie");
    EXPECT_TRUE(folder_exists(dest + "/dir"));
}

// The host tool on a bare archive takes the sound members before damage or a cut,
// then reports it; the installer's run (above) refuses such an archive whole.
TEST_F(Safety, SoundMembersBeforeDamageOrACutWhenAskedFor) {
    Bytes sound = build_archive({stored("a.txt", "alpha"), stored("b.txt", "bravo")}, false);
    Bytes junk = sound;
    junk.insert(junk.end(), {0x1A, 0x1A, 0x1A, 'p', 'a', 'd', 'd', 'i', 'n', 'g', '.', '.', '.', '.', '.',
                             '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'});
    Bytes damaged = sound;  // a later header of no level
    Bytes broken = build_member(stored("c.txt", "charlie"));
    broken[20] = 9;
    damaged.insert(damaged.end(), broken.begin(), broken.end());
    damaged.push_back(0);
    Bytes cut = sound;  // cut inside a later member's data
    Bytes third = build_member(stored("c.txt", std::string(300, 'c')));
    cut.insert(cut.end(), third.begin(), third.end() - 100);
    Bytes header_cut = sound;  // cut inside a later member's header
    header_cut.insert(header_cut.end(), third.begin(), third.begin() + 12);
    struct Case { const Bytes* archive; FailureKind kind; } cases[] = {
        {&junk, ARCHIVE_DAMAGED}, {&damaged, ARCHIVE_DAMAGED}, {&cut, ARCHIVE_CUT_SHORT},
        {&header_cut, ARCHIVE_CUT_SHORT}};
    for (const Case& c : cases) {
        for (bool test_only : {false, true}) {
            SCOPED_TRACE(std::to_string(c.kind) + (test_only ? " test" : " extract"));
            ReportRecorder each;
            write_file(scratch / "archive.lzh", *c.archive);
            ASSERT_EQ(chdir(dest.c_str()), 0);
            run = run_engine_on(scratch / "archive.lzh", test_only, true);
            ASSERT_EQ(chdir(scratch.path().c_str()), 0);
            EXPECT_EQ(each.members, (std::vector<std::string>{"a.txt", "b.txt"}));
            ASSERT_EQ(each.failures.size(), 1u);
            EXPECT_EQ(each.failures[0].kind, c.kind);
            EXPECT_EQ(run.failure_count, 1u);
            EXPECT_EQ(each.ends, 1);
            std::vector<std::string> written;
            if (!test_only) written = {"a.txt", "b.txt"};
            EXPECT_EQ(folder_entries(dest), written);
            if (!test_only) {
                EXPECT_EQ(content(dest + "/b.txt"), "bravo");
            }
            unlink((dest + "/a.txt").c_str());
            unlink((dest + "/b.txt").c_str());
        }
    }
}

TEST_F(Safety, NoArchiveAtAllAndAnEmptyOne) {
    for (const Bytes& nothing : {Bytes(), bytes_of("root:x:0:0:root:/root:/bin/sh\n")}) {
        extract(nothing);
        EXPECT_EQ(run.refused, ARCHIVE_NOT_LHA);
    }
    extract({0});
    EXPECT_EQ(run.refused, 0);
    EXPECT_EQ(run.failure_count, 0u);
    // What follows the end byte, a signature for instance, is not looked at.
    Bytes signed_archive = build_archive({stored("a.txt", "alpha")});
    signed_archive.insert(signed_archive.end(), 3000, 0x30);
    extract(signed_archive);
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content(dest + "/a.txt"), "alpha");
}

// Extended header 0x42 carries the sizes in 64 bits, over the 32-bit fields (MorphOS
// LHA writes it for members over 4 GiB).  Its low halves alone would pass a member
// cut to them as sound.
TEST_F(Safety, SizesOfExtendedHeader0x42OverTheShortFields) {
    auto sizes = [](uint64_t packed, uint64_t original) {
        std::string data;
        for (uint64_t v : {packed, original})
            for (int i = 0; i < 8; i++) data.push_back((char)(v >> (8 * i)));
        return std::make_pair((uint8_t)0x42, data);
    };
    TestMember small = stored("small.txt", "alpha");
    small.original_size = 0;  // the 32-bit fields say nothing; 0x42 says 5
    small.extended = {sizes(5, 5)};
    Bytes archive = build_archive({small}, false);
    archive[7] = 0;  // packed size 0 in the 32-bit field
    extract(archive);
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_EQ(content(dest + "/small.txt"), "alpha");

    TestMember huge = stored("huge.bin", "alpha");
    huge.extended = {sizes(5 + (1ull << 32), 5 + (1ull << 32))};
    extract(build_archive({huge}, false));
    EXPECT_EQ(run.refused, ARCHIVE_CUT_SHORT);
    EXPECT_FALSE(file_exists(dest + "/huge.bin"));
}

// jLHA writes a level-2 header of 256 bytes and more for a long path.
TEST_F(Safety, LongLevel2HeadersAndImpossibleMonthsLoseNoMember) {
    TestMember deep = stored(std::string(39, 'n'), "deep");
    deep.folder = std::string(100, 'f') + "\xFF" + std::string(98, 'g') + "\xFF";
    TestMember month = stored("month.txt", "m");
    month.level = 0;
    month.raw_time = (30u << 25) | (13u << 21) | (1u << 16);  // month 13 of 2010
    extract(build_archive({deep, month, stored("last.txt", "l")}));
    EXPECT_EQ(run.failure_count, 0u);
    std::string deep_path = std::string(100, 'f') + "/" + std::string(98, 'g') + "/" + std::string(39, 'n');
    EXPECT_EQ(content(dest + "/" + deep_path), "deep");
    EXPECT_EQ(content(dest + "/last.txt"), "l");
    struct stat st;
    ASSERT_EQ(stat((dest + "/month.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 315532800);  // 1980-01-01 00:00:00, the earliest MS-DOS stamp
}

}  // namespace

namespace {

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

// Swaps each folder named `watched` that appears in `folder` with the link `link`
// beside it (renameat2 with RENAME_EXCHANGE), the moment inotify reports it: the
// folder becomes the link and the link takes the folder's place.
class FolderSwapper {
  public:
    FolderSwapper(const std::string& folder, const std::string& watched, const std::string& link)
        : folder_(folder), watched_(watched), link_(link) {
        notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(notify_, folder.c_str(), IN_CREATE);
        thread_ = std::thread([this] { watch(); });
    }
    ~FolderSwapper() {
        stop_ = true;
        thread_.join();
        close(notify_);
    }
    int swaps() const { return swaps_; }

  private:
    void watch() {
        alignas(inotify_event) char buffer[4096];
        while (!stop_) {
            pollfd ready = {notify_, POLLIN, 0};
            if (poll(&ready, 1, 5) <= 0) continue;
            ssize_t got = read(notify_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                auto* event = reinterpret_cast<inotify_event*>(buffer + at);
                if (event->len > 0 && watched_ == event->name &&
                    syscall(SYS_renameat2, AT_FDCWD, (folder_ + "/" + watched_).c_str(), AT_FDCWD,
                            link_.c_str(), RENAME_EXCHANGE) == 0)
                    swaps_++;
                at += (ssize_t)(sizeof(inotify_event) + event->len);
            }
        }
    }
    std::string folder_, watched_, link_;
    int notify_;
    std::atomic<bool> stop_{false};
    std::atomic<int> swaps_{0};
    std::thread thread_;
};

}  // namespace

// A folder that the extraction has just made is swapped for a link to a folder
// outside, while its members are being written: nothing ever lands outside,
// whichever step the swap falls between.  Each member is written or refused.
TEST_F(Safety, AFolderSwappedForALinkMidwayLeadsNoWriteOutside) {
    Bytes archive = build_archive({folder_entry("s\xFF"), stored("s/payload.txt", "payload"),
                                   stored("s/t/deeper.txt", "deeper"), stored("s/last.txt", "last")});
    int swaps = 0;
    for (int round = 0; round < 200; round++) {
        std::filesystem::remove_all(dest);
        mkdir(dest.c_str(), 0777);
        ASSERT_EQ(symlink((scratch / "outside").c_str(), (dest + "/lnk").c_str()), 0);
        {
            FolderSwapper swapper(dest, "s", dest + "/lnk");
            extract(archive);
            swaps += swapper.swaps();
        }
        ASSERT_EQ(folder_entries(scratch / "outside"), std::vector<std::string>{}) << "round " << round;
    }
    EXPECT_GT(swaps, 0);  // the race was run, not missed
}
