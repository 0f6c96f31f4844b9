// The host tool as a user runs it: exit statuses and the lines it prints.  Combined
// files are made and read in make_command_test.
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

}  // namespace
