// What the packer takes from the file system: names (NFC, the Shift-JIS round trip,
// names Windows cannot create), symbolic links with and without --follow-symlinks,
// --exclude, and member times under SOURCE_DATE_EPOCH.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include "platform/host_services.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"
#include "tools/pack/exclude_globs.h"
#include "tools/pack/folder_packer.h"

namespace {

std::vector<std::string> member_names(const std::string& archive) {
    std::vector<std::string> names;
    for (const ArchiveMember& m : read_archive_members(archive)) names.push_back(m.header.name);
    return names;
}

ToolRun pack_command(const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {"pack"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return run_tool(words);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void touch(const std::string& path, const std::string& content = "x") { write_file(path, bytes_of(content)); }

// ---- names -------------------------------------------------------------------------

TEST(PackNames, DecomposedNamesArePackedComposedAndLookAlikesTakeTheCodePage932Form) {
    ScratchFolder work;
    mkdir((work / "in").c_str(), 0777);
    // "データ" as macOS writes it: "テ" + U+3099, "ー", "タ"; the file "が.txt" as "か" + U+3099.
    std::string folder = "\xE3\x83\x86\xE3\x82\x99\xE3\x83\xBC\xE3\x82\xBF";
    mkdir((work / "in/" + folder).c_str(), 0777);
    touch(work / "in/" + folder + "/\xE3\x81\x8B\xE3\x82\x99.txt", "ga");
    // "〜" U+301C and "−" U+2212 read back from Shift-JIS as "～" U+FF5E and "－" U+FF0D.
    touch(work / "in/\xE3\x80\x9C\xE2\x88\x92.txt", "wave");
    ToolRun run = pack_command({work / "in", "-o", work / "a.lzh"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> names = member_names(work / "a.lzh");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "\x81\x60\x81\x7C.txt");                  // ～－.txt
    EXPECT_EQ(names[1], "\x83\x66\x81\x5B\x83\x5E/");            // データ/
    EXPECT_EQ(names[2], "\x83\x66\x81\x5B\x83\x5E/\x82\xAA.txt");  // データ/が.txt
    ScratchFolder out;
    EXPECT_EQ(run_engine_on(work / "a.lzh").failure_count, 0u);
    EXPECT_TRUE(read_file(out / "\x83\x66\x81\x5B\x83\x5E/\x82\xAA.txt") == bytes_of("ga"));
}

TEST(PackNames, NamesThatDoNotComeBackOrCollideAreRefusedAndNoArchiveIsMade) {
    struct Case { std::string name; std::string twin; const char* words; };
    const Case cases[] = {
        // U+00A5 converts to 0x5C: it would extract as folder "x" and file "y".
        {"x\xC2\xA5y", "", "0x5C"},
        // U+203E OVERLINE converts to '~', which reads back as a tilde.
        {"over\xE2\x80\xBE", "", "does not come back the same"},
        {"\xFF\xFEnot-utf8", "", "not UTF-8"},
        // Two forms of one name, and names that differ only in case.
        {"\xE3\x81\x8C.txt", "\xE3\x81\x8B\xE3\x82\x99.txt", "the same name"},
        {"Read.me", "READ.ME", "letter case"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        ScratchFolder work;
        mkdir((work / "in").c_str(), 0777);
        touch(work / "in/fine.txt");
        touch(work / "in/" + c.name);
        if (!c.twin.empty()) touch(work / "in/" + c.twin);
        ToolRun run = pack_command({work / "in", "-o", work / "a.lzh"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(contains(run.err, c.words)) << run.err;
        EXPECT_FALSE(file_exists(work / "a.lzh"));
        EXPECT_EQ(folder_entries(work.path()).size(), 1u);  // no temporary left
    }
}

TEST(PackNames, NamesWindowsCannotCreateAreRefusedWithTheReason) {
    struct Case { const char* name; const char* reason; const char* shown = nullptr; };
    const Case cases[] = {{"CON", "a device name"},
                          {"nul.txt", "a device name"},
                          {"com1", "a device name"},
                          {"a:b", "a character Windows forbids"},
                          {"q?", "a character Windows forbids"},
                          {"pipe|d", "a character Windows forbids"},
                          {"dot.", "a name ending in a dot or a space"},
                          {"space ", "a name ending in a dot or a space"},
                          {"tab\there", "a control character", "tab\\x09here"}};  // shown escaped
    ScratchFolder work;
    mkdir((work / "in").c_str(), 0777);
    mkdir((work / "in/sub").c_str(), 0777);
    touch(work / "in/sub/COM0");                // not a device
    touch(work / "in/sub/\xE3\x83\x9D.txt");    // "ポ": 0x83 0x7C, a '|' only as a trail byte
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        touch(work / "in/sub/" + c.name);
        ToolRun run = pack_command({work / "in", "-o", work / "a.lzh"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(contains(run.err, std::string("sub/") + (c.shown ? c.shown : c.name) +
                                          ": Windows cannot create this name: " +
                                          c.reason))
            << run.err;
        EXPECT_FALSE(file_exists(work / "a.lzh"));
        unlink((work / "in/sub/" + c.name).c_str());
    }
    // A folder name is checked as well.
    mkdir((work / "in/aux").c_str(), 0777);
    EXPECT_TRUE(contains(pack_command({work / "in", "-o", work / "a.lzh"}).err, "aux: Windows cannot create"));
    rmdir((work / "in/aux").c_str());
    ASSERT_EQ(pack_command({work / "in", "-o", work / "a.lzh"}).status, 0);
    EXPECT_EQ(member_names(work / "a.lzh").size(), 3u);
}

// ---- symbolic links ----------------------------------------------------------------

TEST(PackLinks, OnlyLinksToFilesInsideArePackedUnlessFollowed) {
    ScratchFolder work;
    mkdir((work / "in").c_str(), 0777);
    mkdir((work / "in/real").c_str(), 0777);
    touch(work / "in/real/inner.txt", "inner");
    touch(work / "secret.txt", "secret");
    mkdir((work / "elsewhere").c_str(), 0777);
    touch(work / "elsewhere/far.txt", "far");
    ASSERT_EQ(symlink("../secret.txt", (work / "in/outside.txt").c_str()), 0);
    ASSERT_EQ(symlink("..", (work / "in/real/up").c_str()), 0);
    ASSERT_EQ(symlink("real", (work / "in/folder-link").c_str()), 0);
    ASSERT_EQ(symlink("../elsewhere", (work / "in/far-link").c_str()), 0);
    ASSERT_EQ(symlink("real/inner.txt", (work / "in/inner-link.txt").c_str()), 0);
    ASSERT_EQ(symlink("no-such-file", (work / "in/dangling").c_str()), 0);
    // Through a linked folder a link inside still leads outside.
    ASSERT_EQ(symlink("../folder-link/../../secret.txt", (work / "in/real/sneaky").c_str()), 0);

    ToolRun run = pack_command({work / "in", "-o", work / "a.lzh"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(member_names(work / "a.lzh"),
              (std::vector<std::string>{"inner-link.txt", "real/", "real/inner.txt"}));
    for (const char* name : {"outside.txt", "real/up", "folder-link", "far-link", "dangling", "real/sneaky"})
        EXPECT_TRUE(contains(run.err, std::string(name) + ": left out: ")) << name << "\n" << run.err;
    EXPECT_TRUE(contains(run.out, "6 left out"));
    ScratchFolder out;
    EXPECT_EQ(run_engine_on(work / "a.lzh").failure_count, 0u);
    EXPECT_TRUE(read_file(out / "inner-link.txt") == bytes_of("inner"));

    // Followed, what the links lead to is packed; the link back up is a loop.
    ToolRun looped = pack_command({work / "in", "-o", work / "b.lzh", "--follow-symlinks"});
    EXPECT_EQ(looped.status, 1);
    EXPECT_TRUE(contains(looped.err, "up: a link back to a folder that holds it")) << looped.err;
    EXPECT_FALSE(file_exists(work / "b.lzh"));
    unlink((work / "in/real/up").c_str());
    unlink((work / "in/dangling").c_str());
    ToolRun followed = pack_command({work / "in", "-o", work / "b.lzh", "--follow-symlinks"});
    ASSERT_EQ(followed.status, 0) << followed.err;
    std::vector<std::string> names = member_names(work / "b.lzh");
    EXPECT_EQ(names, (std::vector<std::string>{"far-link/", "far-link/far.txt", "folder-link/",
                                               "folder-link/inner.txt", "folder-link/sneaky", "inner-link.txt",
                                               "outside.txt"}));
    // "real" is the folder "folder-link" packed already: each real folder once.
    EXPECT_TRUE(contains(followed.err, "real: left out: the same folder as folder-link")) << followed.err;
}

TEST(PackLinks, FollowedLinksCannotMultiplyTheFolders) {
    // Two links in each folder to the next one, 14 levels deep: followed naively
    // that is 2^15 - 1 folders.  Each real folder is packed once.
    ScratchFolder work;
    const int LEVELS = 14;
    for (int i = 0; i <= LEVELS; i++) mkdir((work / "f" + std::to_string(i)).c_str(), 0777);
    touch(work / "f" + std::to_string(LEVELS) + "/bottom.txt", "bottom");
    mkdir((work / "in").c_str(), 0777);
    for (int i = 0; i <= LEVELS; i++) {
        std::string from = i == 0 ? work / "in" : work / "f" + std::to_string(i - 1);
        std::string to = work / "f" + std::to_string(i);
        ASSERT_EQ(symlink(to.c_str(), (from + "/a").c_str()), 0);
        ASSERT_EQ(symlink(to.c_str(), (from + "/b").c_str()), 0);
    }
    PackSettings settings = DEFAULT_PACK_SETTINGS;
    settings.show_progress = false;
    settings.follow_links = true;
    PackTotals totals = {};
    double started = platform_seconds_now();
    ASSERT_EQ(pack_folder((work / "in").c_str(), (work / "a.lzh").c_str(), &settings, &totals), 0);
    EXPECT_LT(platform_seconds_now() - started, 10.0);
    EXPECT_EQ(totals.folders, (uint32_t)LEVELS + 1);
    EXPECT_EQ(totals.files, 1u);
    EXPECT_EQ(totals.left_out, (uint32_t)LEVELS + 1);  // every "b"
    std::string deepest;
    for (int i = 0; i <= LEVELS; i++) deepest += "a/";
    EXPECT_EQ(member_names(work / "a.lzh").back(), deepest + "bottom.txt");
}

// ---- --exclude ---------------------------------------------------------------------

TEST(PackExclude, PatternsOnThePathAndOnTheName) {
    ScratchFolder work;
    for (const char* folder : {"in", "in/src", "in/src/deep", "in/build", "in/keep", "in/keep/build.txt"})
        mkdir((work / folder).c_str(), 0777);
    for (const char* file : {"in/a.o", "in/src/b.o", "in/src/main.c", "in/src/deep/c.c", "in/build/out.bin",
                             "in/keep/build.txt/x", "in/notes.txt", "in/\xE3\x81\x8C.txt"})
        touch(work / file);
    ToolRun run = pack_command({work / "in", "-o", work / "a.lzh", "--exclude", "*.o", "--exclude", "src/*.c",
                                "--exclude", "build/", "--exclude", "build.txt/", "--exclude",
                                "\xE3\x81\x8B\xE3\x82\x99.txt"});  // decomposed "が.txt" matches the composed name
    ASSERT_EQ(run.status, 0) << run.err;
    // "*.o" by name at every depth; "src/*.c" only directly in src; "build/" only the
    // folder, with its content; the excluded folder "keep/build.txt" takes "x" along.
    EXPECT_EQ(member_names(work / "a.lzh"),
              (std::vector<std::string>{"keep/", "notes.txt", "src/", "src/deep/", "src/deep/c.c"}));
    // Excluded, a name that could not be packed is no problem.
    touch(work / "in/CON");
    EXPECT_EQ(pack_command({work / "in", "-o", work / "a.lzh", "--exclude", "CON"}).status, 0);
}

TEST(PackExclude, GlobsMatchAsFnmatchDoes) {
    struct Case { const char* pattern; const char* text; bool path; bool matches; };
    const Case cases[] = {
        {"*.txt", "a.txt", false, true},      {"*.txt", "a.txt.bak", false, false},
        {"*", "a/b", false, true},            {"*", "a/b", true, false},
        {"a/*", "a/b", true, true},           {"a/*", "a/b/c", true, false},
        {"a*b*c", "aXXbYYc", false, true},    {"a*b*c", "aXXbYY", false, false},
        {"?.c", "x.c", false, true},          {"?.c", "xy.c", false, false},
        {"?", "\xE3\x81\x8C", false, true},   {"[abc].o", "b.o", false, true},
        {"[!abc].o", "b.o", false, false},    {"[^abc].o", "d.o", false, true},
        {"[a-f]x", "ex", false, true},        {"[a-f]x", "gx", false, false},
        {"[]]", "]", false, true},            {"[a", "[a", false, true},
        {"\\*", "*", false, true},            {"\\*", "a", false, false},
        {"a\\", "a\\", false, false},          {"a\\\\", "a\\", false, true},
        {"a?b", "a/b", true, false},          {"[/]", "/", true, false},
        {"", "", false, true},                {"**", "", false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(glob_matches(c.pattern, c.text, c.path), c.matches)
            << c.pattern << " on " << c.text << (c.path ? " (path)" : "");
}

// ---- SOURCE_DATE_EPOCH -------------------------------------------------------------

struct SourceDateEpoch {
    explicit SourceDateEpoch(const char* value) { setenv("SOURCE_DATE_EPOCH", value, 1); }
    ~SourceDateEpoch() { unsetenv("SOURCE_DATE_EPOCH"); }
};

void set_time(const std::string& path, time_t t) {
    struct utimbuf times = {t, t};
    utime(path.c_str(), &times);
}

TEST(PackTimes, SourceDateEpochMakesCopiesPackAlike) {
    ScratchFolder work;
    mkdir((work / "in").c_str(), 0777);
    mkdir((work / "in/sub").c_str(), 0777);
    touch(work / "in/a.txt", std::string(5000, 'a'));
    touch(work / "in/sub/b.txt", "b");
    set_time(work / "in/a.txt", 1700000000);
    set_time(work / "in/sub/b.txt", 1700000123);
    set_time(work / "in/sub", 1700000456);
    // A copy made now: every time is new.
    ASSERT_EQ(system(("cp -r " + work / "in" + " " + work / "copy").c_str()), 0);
    set_time(work / "copy/a.txt", 1800000000);

    SourceDateEpoch epoch("1650000000");
    for (int level = 0; level <= 2; level++) {
        SCOPED_TRACE(level);
        PackSettings settings = DEFAULT_PACK_SETTINGS;
        settings.show_progress = false;
        settings.level = level;
        ASSERT_EQ(pack_folder((work / "in").c_str(), (work / "one.lzh").c_str(), &settings, nullptr), 0);
        ASSERT_EQ(pack_folder((work / "copy").c_str(), (work / "two.lzh").c_str(), &settings, nullptr), 0);
        EXPECT_TRUE(read_file(work / "one.lzh") == read_file(work / "two.lzh"));
    }
    // Through the command too; a time before the epoch stays as it is.
    set_time(work / "in/a.txt", 1600000000);
    ASSERT_EQ(pack_command({work / "in", "-o", work / "three.lzh"}).status, 0);
    std::vector<ArchiveMember> members = read_archive_members(work / "three.lzh");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].header.time, 1600000000u);
    EXPECT_EQ(members[1].header.time, 1650000000u);
    EXPECT_EQ(members[2].header.time, 1650000000u);
}

TEST(PackTimes, SourceDateEpochThatIsNotANumberIsAUsageError) {
    ScratchFolder work;
    mkdir((work / "in").c_str(), 0777);
    touch(work / "in/a.txt");
    for (const char* value : {"yesterday", "12x", "-5", " 7"}) {
        SourceDateEpoch epoch(value);
        ToolRun run = pack_command({work / "in", "-o", work / "a.lzh"});
        EXPECT_EQ(run.status, 2) << value;
        EXPECT_TRUE(contains(run.err, "SOURCE_DATE_EPOCH")) << run.err;
    }
    SourceDateEpoch empty("");
    EXPECT_EQ(pack_command({work / "in", "-o", work / "a.lzh"}).status, 0);
}

}  // namespace
