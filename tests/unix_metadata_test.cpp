// What the host tool keeps of a Unix system's files: the permissions Unix encoders
// store (and the packer records), and the times of folder entries.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/report_hooks.h"
#include "platform/system_services.h"
#include "tests/support/test_support.h"

namespace {

// Sets the umask while the object lives (the tool run meanwhile inherits it).
class Umask {
public:
    explicit Umask(mode_t mask) : old_(umask(mask)) {}
    ~Umask() { umask(old_); }
private:
    mode_t old_;
};

mode_t mode_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

time_t modified(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

std::string le16(uint32_t v) { return std::string{(char)(v & 0xFF), (char)(v >> 8)}; }

// A level-0 header of a Unix encoder: behind the CRC the OS id 'U', a version
// byte, the Unix time, the mode, the user and the group.
Bytes level0_unix(const std::string& name, const Bytes& data, uint32_t mode) {
    TestMember m;
    m.name = name;
    m.data = data;
    Bytes member = build_member(m);
    Bytes unix_part = {'U', 0, 0, 0, 0, 0, (uint8_t)mode, (uint8_t)(mode >> 8), 0xE8, 3, 0xE8, 3};
    size_t data_at = member.size() - data.size();
    member.insert(member.begin() + (long)data_at, unix_part.begin(), unix_part.end());
    member[0] = (uint8_t)(member[0] + unix_part.size());
    return member;
}

// One member of each form that carries a mode, and one without.
Bytes archive_with_modes() {
    Bytes script = bytes_of("#!/bin/sh\necho hi\n");
    TestMember level2;
    level2.level = 2;
    level2.os_id = 'U';
    level2.name = "run.sh";
    level2.data = script;
    level2.extended = {{0x50, le16(0100755)}};
    TestMember setuid = level2;
    setuid.level = 1;
    setuid.name = "setuid";
    setuid.extended = {{0x50, le16(0104755)}};
    TestMember plain;
    plain.level = 2;
    plain.name = "plain.txt";
    plain.data = bytes_of("text\n");
    Bytes archive = build_archive({level2, setuid, plain}, false);
    Bytes old = level0_unix("old.sh", script, 0100750);
    archive.insert(archive.end(), old.begin(), old.end());
    archive.push_back(0);
    return archive;
}

TEST(UnixPermissions, StoredModesLessTheUmaskAndTheSpecialBits) {
    ScratchFolder scratch;
    write_file("modes.lzh", archive_with_modes());
    struct Case { mode_t mask; mode_t run, setuid, old, plain; };
    for (const Case& c : {Case{022, 0755, 0755, 0750, 0644}, Case{077, 0700, 0700, 0700, 0600},
                          Case{027, 0750, 0750, 0750, 0640}}) {
        SCOPED_TRACE(testing::Message() << "umask " << std::oct << c.mask);
        std::string out = scratch / ("out" + std::to_string(c.mask));
        ToolRun run;
        {
            Umask mask(c.mask);
            run = run_tool({"extract", "-C", out, scratch / "modes.lzh"});
        }
        ASSERT_EQ(run.status, 0) << run.output();
        EXPECT_EQ(mode_of(out + "/run.sh"), c.run);
        EXPECT_EQ(mode_of(out + "/setuid"), c.setuid);
        EXPECT_EQ(mode_of(out + "/old.sh"), c.old);
        EXPECT_EQ(mode_of(out + "/plain.txt"), c.plain);
        EXPECT_EQ(read_file(out + "/old.sh"), bytes_of("#!/bin/sh\necho hi\n"));
    }
}

// A member that fails its CRC-16 leaves nothing, executable or not; one that
// replaces a file takes the stored mode, not the old file's.
TEST(UnixPermissions, OnlySoundMembersReplaceAndTakeTheirMode) {
    ScratchFolder scratch;
    Umask mask(022);
    TestMember bad;
    bad.level = 2;
    bad.os_id = 'U';
    bad.name = "bad.sh";
    bad.data = bytes_of("x");
    bad.crc = 1;
    bad.crc_given = true;
    bad.extended = {{0x50, le16(0100755)}};
    TestMember good = bad;
    good.name = "good.sh";
    good.crc_given = false;
    good.extended = {{0x50, le16(0100700)}};
    write_file("a.lzh", build_archive({bad, good}));
    mkdir((scratch / "out").c_str(), 0777);
    write_file(scratch / "out/good.sh", bytes_of("old"));
    chmod((scratch / "out/good.sh").c_str(), 0666);
    ToolRun run = run_tool({"extract", "-C", scratch / "out", scratch / "a.lzh"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(folder_entries(scratch / "out"), std::vector<std::string>{"good.sh"});
    EXPECT_EQ(mode_of(scratch / "out/good.sh"), 0700u);
    EXPECT_EQ(read_file(scratch / "out/good.sh"), bytes_of("x"));
}

TEST(UnixPermissions, PackThenExtractKeepsTheExecutableBit) {
    ScratchFolder scratch;
    Umask mask(022);
    mkdir((scratch / "src").c_str(), 0777);
    mkdir((scratch / "src/bin").c_str(), 0777);
    write_file(scratch / "src/bin/tool", bytes_of("#!/bin/sh\nexit 0\n"));
    write_file(scratch / "src/readme", Bytes(3000, 'r'));
    write_file(scratch / "src/secret", bytes_of("s"));
    chmod((scratch / "src/bin/tool").c_str(), 04755);
    chmod((scratch / "src/readme").c_str(), 0644);
    chmod((scratch / "src/secret").c_str(), 0600);
    for (const char* level : {"1", "2"}) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        std::string archive = scratch / (std::string("p") + level + ".lzh");
        ASSERT_EQ(run_tool({"pack", scratch / "src", "-o", archive, "--level", level}).status, 0);
        std::string out = scratch / (std::string("out") + level);
        ToolRun run = run_tool({"extract", "-C", out, archive});
        ASSERT_EQ(run.status, 0) << run.output();
        EXPECT_EQ(mode_of(out + "/bin/tool"), 0755u);
        EXPECT_EQ(mode_of(out + "/readme"), 0644u);
        EXPECT_EQ(mode_of(out + "/secret"), 0600u);
        // A reader for Unix other than ours takes the same bits.
        if (system("command -v lha >/dev/null 2>&1") == 0) {
            std::string other = scratch / (std::string("lha") + level);
            mkdir(other.c_str(), 0777);
            std::string command = "cd '" + other + "' && lha xq '" + archive + "' >/dev/null 2>&1";
            EXPECT_EQ(system(command.c_str()), 0);
            EXPECT_EQ(mode_of(other + "/bin/tool") & 0777, 0755u);
            EXPECT_EQ(mode_of(other + "/secret") & 0777, 0600u);
        }
    }
}

// Folder entries' times and permissions hold after their members are written,
// deepest first; a folder made only for a member's path keeps the time it was made.
TEST(FolderTimes, RestoredOnceTheMembersAreIn) {
    ScratchFolder scratch;
    Umask mask(022);
    TestMember top;
    top.level = 2;
    top.os_id = 'U';
    top.method = "-lhd-";
    top.folder = "top\xFF";
    top.raw_time = 1000000000;
    top.extended = {{0x50, le16(040555)}};
    TestMember below = top;
    below.folder = "top\xFFsub\xFF";
    below.raw_time = 900000000;
    below.extended = {{0x50, le16(042777)}};
    TestMember file;
    file.level = 2;
    file.folder = "top\xFFsub\xFF";
    file.name = "f.txt";
    file.data = bytes_of("f");
    file.raw_time = 1100000000;
    TestMember beside = file;
    beside.folder = "top\xFF";
    beside.name = "g.txt";
    TestMember elsewhere = file;
    elsewhere.folder = "made\xFF";
    // Level 0: a folder entry as MS-DOS encoders write it, local time.
    TestMember dos;
    dos.method = "-lhd-";
    dos.name = "dos\\";
    dos.raw_time = 30u << 25 | 6u << 21 | 15u << 16 | 12u << 11;  // 2010-06-15 12:00:00
    write_file("dirs.lzh", build_archive({top, below, file, beside, elsewhere, dos}));
    time_t before = time(nullptr);
    ToolRun run = run_tool({"extract", "-C", scratch / "out", scratch / "dirs.lzh"}, "TZ=UTC0");
    ASSERT_EQ(run.status, 0) << run.output();
    EXPECT_EQ(modified(scratch / "out/top"), 1000000000);
    EXPECT_EQ(modified(scratch / "out/top/sub"), 900000000);
    EXPECT_EQ(modified(scratch / "out/top/sub/f.txt"), 1100000000);
    EXPECT_EQ(modified(scratch / "out/dos"), 1276603200);
    EXPECT_GE(modified(scratch / "out/made"), before);
    EXPECT_EQ(mode_of(scratch / "out/top"), 0555u);
    EXPECT_EQ(mode_of(scratch / "out/top/sub"), 0755u);  // less the umask, no set-group-ID
    EXPECT_EQ(mode_of(scratch / "out/dos"), 0755u);      // none stored: as made
    EXPECT_EQ(read_file(scratch / "out/top/g.txt"), bytes_of("f"));
    chmod((scratch / "out/top").c_str(), 0755);  // for the clean-up
}

// Times and permissions are set through the folders themselves: a link put in a
// folder's place, at the end of the path or on the way, gives nothing to what it
// leads to.
TEST(FolderTimes, NothingThroughALink) {
    ScratchFolder scratch;
    Umask mask(022);
    mkdir("real", 0755);
    mkdir("real/inner", 0755);
    mkdir("a", 0755);
    ASSERT_EQ(symlink("../real", "a/b"), 0);
    ASSERT_EQ(symlink("real", "link"), 0);
    time_t real = modified("real"), inner = modified("real/inner");
    platform_stamp_folder("link", 1000000000, 0700);
    platform_stamp_folder("a/b/inner", 1000000000, 0700);
    platform_stamp_folder("a/b/inner/", 1000000000, 0700);
    EXPECT_EQ(modified("real"), real);
    EXPECT_EQ(modified("real/inner"), inner);
    EXPECT_EQ(mode_of("real"), 0755u);
    EXPECT_EQ(mode_of("real/inner"), 0755u);
    EXPECT_NE(modified("link"), 1000000000);  // a link is no folder: left alone too
    platform_stamp_folder("real/inner/", 1000000000, 0700);
    EXPECT_EQ(modified("real/inner"), 1000000000);
    EXPECT_EQ(mode_of("real/inner"), 0700u);
    platform_stamp_folder("real", 900000000, -1);
    EXPECT_EQ(modified("real"), 900000000);
    EXPECT_EQ(mode_of("real"), 0755u);
}

// A folder swapped for a link to a folder outside while the run goes on: at the
// end neither the link nor what it leads to takes the entry's time or permissions.
void swap_top_for_link(void*, const char* name) {
    if (strcmp(name, "late.txt") != 0) return;
    rename("top", "moved");
    symlink("outside", "top");
}

TEST(FolderTimes, AFolderSwappedForALinkDuringTheRunGivesNothing) {
    ScratchFolder scratch;
    Umask mask(022);
    mkdir("outside", 0755);
    time_t outside = modified("outside");
    TestMember top;
    top.level = 2;
    top.os_id = 'U';
    top.method = "-lhd-";
    top.folder = "top\xFF";
    top.raw_time = 1000000000;
    top.extended = {{0x50, le16(040700)}};
    TestMember inside;
    inside.level = 2;
    inside.folder = "top\xFF";
    inside.name = "a.txt";
    inside.data = bytes_of("a");
    TestMember late = inside;
    late.folder.clear();
    late.name = "late.txt";
    write_file("a.lzh", build_archive({top, inside, late}));
    PlatformHooks hooks = {};
    hooks.member = swap_top_for_link;
    platform_set_hooks(&hooks);
    EngineRun run = run_engine_on("a.lzh");
    platform_set_hooks(nullptr);
    EXPECT_EQ(run.failure_count, 0u);
    ASSERT_TRUE(file_exists("moved/a.txt"));
    EXPECT_EQ(modified("outside"), outside);
    EXPECT_EQ(mode_of("outside"), 0755u);
    EXPECT_NE(modified("top"), 1000000000);  // the link itself
}

}  // namespace
