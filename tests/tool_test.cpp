// The host tool as a user runs it: exit statuses, the lines it prints, and combined
// files told apart from bare archives.
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

#include "frontend/config_block.h"
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
    EXPECT_TRUE(file_exists(scratch / "out/bad.txt"));
    EXPECT_FALSE(file_exists(scratch / "escape.txt"));
}

TEST(Tool, CombinedFileShowsItsBlock) {
    ScratchFolder scratch;
    Bytes pe(0x200, 0);  // the smallest image: headers only, no sections
    pe[0] = 'M';
    pe[1] = 'Z';
    pe[0x3C] = 0x40;
    memcpy(&pe[0x40], "PE\0\0", 4);
    pe[0x40 + 20] = 0xE0;
    pe[0x40 + 24 + 60] = 0x00;
    pe[0x40 + 24 + 61] = 0x02;  // SizeOfHeaders 0x200
    SfxConfig c = {};
    c.present = 1;
    c.title_length = 5;
    memcpy(c.title, "Hello", 5);
    c.dest_length = 4;
    memcpy(c.dest_name, "Tool", 4);
    c.under_program_files = 1;
    c.start_menu_option = 3;
    uint8_t block[1100];
    uint32_t block_length = write_config_block(&c, block);
    TestMember m;
    m.name = "inside.txt";
    m.data = {'o', 'k'};
    Bytes combined = pe;
    for (uint32_t i = 0; i < block_length; i++) combined.push_back(block[i]);
    for (uint8_t b : build_archive({m})) combined.push_back(b);
    combined.resize(combined.size() + 2048, 0xCC);  // a signature appended later
    write_file("setup.exe", combined);

    ToolRun list = run_tool("list " + (scratch / "setup.exe"));
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\"Hello\""), std::string::npos);
    EXPECT_NE(list.out.find("Program Files"), std::string::npos);
    EXPECT_NE(list.out.find("offered, checked"), std::string::npos);
    EXPECT_NE(list.out.find("inside.txt"), std::string::npos);
    ToolRun extract = run_tool("extract -C " + (scratch / "x") + " " + (scratch / "setup.exe"));
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(read_file(scratch / "x/inside.txt"), (Bytes{'o', 'k'}));
}

}  // namespace
