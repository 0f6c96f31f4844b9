// The host tool on member names that are not failures but not what the archive may
// mean either: names Windows cannot hold, written here and named in one warning,
// and members that land on one file, one warning line each.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

TestMember stored(const std::string& name, const std::string& content) {
    TestMember m;
    m.name = name;
    m.data = bytes_of(content);
    m.level = 2;
    return m;
}

TestMember folder_entry(const std::string& folder) {
    TestMember m;
    m.method = "-lhd-";
    m.folder = folder;
    m.level = 2;
    return m;
}

// The lines of `text` that hold `part`.
std::vector<std::string> lines_with(const std::string& text, const std::string& part) {
    std::vector<std::string> found;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.find(part) != std::string::npos) found.push_back(line);
    }
    return found;
}

const char BEYOND_WINDOWS[] = "Windows cannot hold and would not extract there";

TEST(ToolNameWarnings, NamesOnlyWindowsRefusesAreWrittenHereAndNamedOnce) {
    ScratchFolder scratch;
    std::vector<TestMember> members = {stored("GPL-2.", "gpl"), stored("CON", "con"), stored("ok.txt", "ok")};
    TestMember in_folder = stored("AUX.txt", "aux");
    in_folder.folder = "sub\xFF";
    members.push_back(in_folder);
    for (const char* name : {"ab:c", "q?.txt", "trailing ", "pipe|", "\x83\x7C:"})  // "ポ" then ':'
        members.push_back(stored(name, name));
    write_file(scratch / "a.lzh", build_archive(members));

    ToolRun extract = run_tool(Words{"extract", "-C", scratch / "out", scratch / "a.lzh"});
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(text_of(read_file(scratch / "out/GPL-2.")), "gpl");
    EXPECT_EQ(text_of(read_file(scratch / "out/CON")), "con");
    EXPECT_EQ(text_of(read_file(scratch / "out/sub/AUX.txt")), "aux");
    EXPECT_EQ(text_of(read_file(scratch / "out/trailing ")), "trailing ");
    EXPECT_EQ(text_of(read_file(scratch / "out/ポ:")), "\x83\x7C:");
    // One line for all eight: the first five by name, then how many more.
    EXPECT_EQ(extract.err, std::string("mavusfx: warning: 8 members have names ") + BEYOND_WINDOWS +
                               ": \"GPL-2.\", \"CON\", \"sub/AUX.txt\", \"ab:c\", \"q?.txt\" and 3 more\n");

    ToolRun test = run_tool(Words{"test", scratch / "a.lzh"});
    EXPECT_EQ(test.status, 0);
    EXPECT_EQ(test.err, extract.err);
    EXPECT_NE(test.out.find("9 members tested, all OK"), std::string::npos) << test.out;
    ToolRun list = run_tool(Words{"list", scratch / "a.lzh"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, extract.err);

    // One such name is told in the singular.
    write_file(scratch / "one.lzh", build_archive({stored("ok.txt", "ok"), stored("dot.", "d")}));
    EXPECT_EQ(run_tool(Words{"test", scratch / "one.lzh"}).err,
              std::string("mavusfx: warning: 1 member has a name ") + BEYOND_WINDOWS + ": \"dot.\"\n");
}

// --windows-names refuses them as the installer does: each a failure, nothing written.
TEST(ToolNameWarnings, WindowsNamesOptionRefusesThemAsTheInstallerDoes) {
    ScratchFolder scratch;
    write_file(scratch / "a.lzh",
               build_archive({stored("GPL-2.", "gpl"), stored("nul.txt", "n"), stored("ok.txt", "ok")}));
    ToolRun extract = run_tool(Words{"extract", "--windows-names", "-C", scratch / "out", scratch / "a.lzh"});
    ToolRun test = run_tool(Words{"test", "--windows-names", scratch / "a.lzh"});
    for (const ToolRun* run : {&extract, &test}) {
        EXPECT_EQ(run->status, 1);
        EXPECT_NE(run->err.find("mavusfx: GPL-2.: a name Windows cannot hold"), std::string::npos)
            << run->err;
        EXPECT_NE(run->err.find("mavusfx: nul.txt: a name Windows cannot hold"), std::string::npos)
            << run->err;
        EXPECT_EQ(run->err.find(BEYOND_WINDOWS), std::string::npos) << run->err;
    }
    EXPECT_EQ(folder_entries(scratch / "out"), std::vector<std::string>{"ok.txt"});
}

// Names no system should get stay refused, each with its own failure line, and are
// not among the names beyond Windows: control characters (a NUL in a folder name
// too), paths that climb out or are absolute, a drive prefix.
TEST(ToolNameWarnings, UnsafeNamesStayRefused) {
    ScratchFolder scratch;
    mkdir((scratch / "out").c_str(), 0777);
    TestMember nul_in_folder = stored("f.", "x");
    nul_in_folder.folder = std::string("a\0/../\xFF", 7);
    TestMember climbs = stored("up.", "x");
    climbs.folder = "..\xFF";
    write_file(scratch / "a.lzh",
               build_archive({stored("bell\x07.", "x"), stored("C:drive.", "x"), stored("/abs/../../x.", "x"),
                              stored("...", "x"), nul_in_folder, climbs, stored("ok.", "ok")}));
    ToolRun extract = run_tool(Words{"extract", "-C", scratch / "out", scratch / "a.lzh"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(lines_with(extract.err, "mavusfx: ").size(), 7u) << extract.err;
    EXPECT_EQ(lines_with(extract.err, "unsafe path").size(), 4u) << extract.err;
    EXPECT_EQ(lines_with(extract.err, ": a name Windows cannot hold (").size(), 2u) << extract.err;
    EXPECT_EQ(lines_with(extract.err, BEYOND_WINDOWS),
              std::vector<std::string>{std::string("mavusfx: warning: 1 member has a name ") +
                                       BEYOND_WINDOWS + ": \"ok.\""});
    EXPECT_EQ(folder_entries(scratch / "out"), std::vector<std::string>{"ok."});
    EXPECT_EQ(folder_entries(scratch.path()), (std::vector<std::string>{"a.lzh", "out"}));
}

// Two members of one name: the later replaces the earlier, and a warning says so.
// Names that differ only in ASCII case are one file on Windows: both are written
// here, and the warning names both.  A Shift-JIS character whose second byte is a
// letter is compared as it is; folder entries, refused members and members of an
// unknown method make no clash.
TEST(ToolNameWarnings, MembersOfOneFileAreNamedOneLineAClash) {
    ScratchFolder scratch;
    TestMember unknown = stored("a.txt", "?");
    unknown.method = "-zz9-";
    TestMember readme = stored("Readme.txt", "first");
    readme.folder = "Docs\xFF";
    write_file(
        scratch / "a.lzh",
        build_archive({stored("a.txt", "one"), readme, stored("a.txt", "two"), stored("/a.txt", "three"),
                       stored("docs/README.TXT", "second"), stored("\x83\x41.txt", "a"),
                       stored("\x83\x61.txt", "b"), folder_entry("Docs\xFF"), folder_entry("DOCS\xFF"),
                       unknown, stored("../a.txt", "x")}));
    ToolRun extract = run_tool(Words{"extract", "-C", scratch / "out", scratch / "a.lzh"});
    EXPECT_EQ(extract.status, 1);  // the unknown method and the unsafe path
    EXPECT_EQ(text_of(read_file(scratch / "out/a.txt")), "three");
    EXPECT_EQ(text_of(read_file(scratch / "out/Docs/Readme.txt")), "first");
    EXPECT_EQ(text_of(read_file(scratch / "out/docs/README.TXT")), "second");
    EXPECT_TRUE(file_exists(scratch / "out/\x83\x41.txt") || file_exists(scratch / "out/ア.txt"));
    const std::vector<std::string> clashes = {
        "mavusfx: warning: members 1 and 3 are both named \"a.txt\"; extracting leaves member 3",
        "mavusfx: warning: members 3 \"a.txt\" and 4 \"/a.txt\" are the same file; extracting leaves member "
        "4",
        "mavusfx: warning: members 2 \"Docs/Readme.txt\" and 5 \"docs/README.TXT\" are one file on Windows, "
        "which does not tell letter case apart; extracting there leaves member 5"};
    EXPECT_EQ(lines_with(extract.err, "warning"), clashes) << extract.err;
    ToolRun test = run_tool(Words{"test", scratch / "a.lzh"});
    EXPECT_EQ(lines_with(test.err, "warning"), clashes) << test.err;
    ToolRun list = run_tool(Words{"list", scratch / "a.lzh"});
    EXPECT_EQ(lines_with(list.err, "warning"), clashes) << list.err;
}

}  // namespace

namespace {

// make --archive takes the publisher's archive as it is, and tells what the
// installer would refuse or leave behind: one warning a member, one a clash.
TEST(ToolNameWarnings, MakeTellsWhatTheInstallerWouldRefuseOrLeave) {
    ScratchFolder scratch;
    write_file(scratch / "a.lzh", build_archive({stored("GPL-2.", "g"), stored("a.txt", "1"), stored("A.TXT", "2"),
                                                 stored("../up", "u"), stored("ok.txt", "ok")}));
    ToolRun make = run_tool(Words{"make", "--archive", scratch / "a.lzh", "-o", scratch / "setup.exe"});
    EXPECT_EQ(make.status, 0) << make.err;
    EXPECT_EQ(lines_with(make.err, "warning"),
              (std::vector<std::string>{
                  "mavusfx: warning: GPL-2.: a name Windows cannot hold (a name ending in a dot or a space); the "
                  "stub will refuse this member",
                  "mavusfx: warning: ../up: a path outside the destination; the stub will refuse this member",
                  "mavusfx: warning: members 2 \"a.txt\" and 3 \"A.TXT\" are one file on Windows, which does not tell "
                  "letter case apart; extracting there leaves member 3"}))
        << make.err;
    EXPECT_TRUE(file_exists(scratch / "setup.exe"));
}

}  // namespace
