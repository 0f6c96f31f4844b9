// The host tool as a user runs it: exit statuses and the lines it prints.  Combined
// files are made and read in make_command_test.
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

TEST(Tool, UsageAndUnreadableFiles) {
    EXPECT_EQ(run_tool("").status, 2);
    EXPECT_EQ(run_tool("frobnicate x").status, 2);
    ToolRun missing = run_tool("list /nonexistent/archive.lzh");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("/nonexistent/archive.lzh"), std::string::npos);
}

TEST(Tool, ListAndTestACorpusArchive) {
    ToolRun list = run_tool("list " + corpus_path("lh0_level2.lzh"));
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("-lh0-"), std::string::npos);
    EXPECT_NE(list.out.find("data/random.bin"), std::string::npos);
    EXPECT_NE(list.out.find("日本語/表示.txt"), std::string::npos);  // shown as UTF-8
    ToolRun test = run_tool("test " + corpus_path("lh0_level2.lzh"));
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_NE(test.out.find("all OK"), std::string::npos);
}

TEST(Tool, FailuresAreOneLineEachAndExitOne) {
    ScratchFolder scratch;
    TestMember bad;
    bad.name = "bad.txt";
    bad.data = {'x'};
    bad.crc = 1;
    bad.crc_given = true;
    TestMember escape = bad;
    escape.name = "../escape.txt";
    escape.crc_given = false;
    write_file("a.lzh", build_archive({bad, escape}));
    ToolRun run = run_tool("extract -C " + (scratch / "out") + " " + (scratch / "a.lzh"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("bad.txt: CRC-16 mismatch"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("../escape.txt: unsafe path"), std::string::npos) << run.err;
    EXPECT_FALSE(file_exists(scratch / "out/bad.txt"));
    EXPECT_FALSE(file_exists(scratch / "escape.txt"));
}

// list, test and extract give one verdict on an archive's shape; a file without any
// archive is a usage error, an archive of nothing but its end byte is sound.
TEST(Tool, CutShortAndMissingArchivesAgreeAcrossCommands) {
    ScratchFolder scratch;
    TestMember m;
    m.name = "a.txt";
    m.data = bytes_of("alpha");
    Bytes whole = build_archive({m});
    write_file("cut.lzh", Bytes(whole.begin(), whole.end() - 3));
    write_file("text.txt", bytes_of("root:x:0:0:root:/root:/bin/sh\n"));
    write_file("empty.lzh", {});
    write_file("end.lzh", {0});
    for (const char* command : {"list", "test", "extract"}) {
        ToolRun cut = run_tool(std::string(command) + " " + (scratch / "cut.lzh"));
        EXPECT_EQ(cut.status, 1) << command;
        EXPECT_NE(cut.err.find("cut short"), std::string::npos) << command << cut.err;
        for (const char* nothing : {"text.txt", "empty.lzh"}) {
            ToolRun none = run_tool(std::string(command) + " " + (scratch / nothing));
            EXPECT_EQ(none.status, 2) << command << nothing;
            EXPECT_NE(none.err.find("not an LHA archive"), std::string::npos) << command << none.err;
        }
        EXPECT_EQ(run_tool(std::string(command) + " " + (scratch / "end.lzh")).status, 0) << command;
    }
    EXPECT_FALSE(file_exists(scratch / "a.txt"));
    EXPECT_NE(run_tool("test " + (scratch / "end.lzh")).out.find("0 members tested, all OK"), std::string::npos);
}

// A file size limit makes the write fail, which is reported; the signal it would
// raise does not end the tool without a word.
TEST(Tool, FileSizeLimitIsReportedAsAWriteError) {
    ScratchFolder scratch;
    TestMember big;
    big.name = "big.bin";
    big.data = Bytes(200000, 'b');
    write_file("big.lzh", build_archive({big}));
    std::string command = "ulimit -f 16; '" + std::string(MAVUSFX_TOOL) + "' extract -C out big.lzh 2>err";
    int raw = system(("sh -c \"" + command + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_NE(text_of(read_file("err")).find("big.bin: write error"), std::string::npos);
    EXPECT_EQ(folder_entries("out"), std::vector<std::string>{});
}

// Control bytes in a name are shown escaped, so a name cannot rewrite the terminal.
TEST(Tool, NamesAreShownWithTheirControlBytesEscaped) {
    ScratchFolder scratch;
    TestMember evil;
    evil.name = "a\x1b[2Jb.txt";
    evil.data = bytes_of("x");
    write_file("evil.lzh", build_archive({evil}));
    ToolRun list = run_tool("list " + (scratch / "evil.lzh"));
    EXPECT_NE(list.out.find("a\\x1b[2Jb.txt"), std::string::npos) << list.out;
    ToolRun extract = run_tool("extract -C " + (scratch / "out") + " " + (scratch / "evil.lzh"));
    EXPECT_EQ(extract.status, 1);
    EXPECT_NE(extract.err.find("a\\x1b[2Jb.txt: a name Windows cannot hold"), std::string::npos) << extract.err;
    EXPECT_EQ((list.output() + extract.output()).find('\x1b'), std::string::npos);
}

}  // namespace
