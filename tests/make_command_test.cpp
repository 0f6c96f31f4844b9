// mavusfx make, run as the built tool: the block it writes, the texts it refuses,
// the inputs it refuses without touching the output, and the end byte that keeps a
// certificate appended later out of the archive.
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"
#include "tools/tool.h"

namespace {

// The smallest PE image that names its own end: headers of 0x200 bytes and one
// section of 0x200 bytes behind them.
Bytes minimal_stub() { return fake_pe({{0x200, 0x200}}, 0x200); }

class MakeCommand : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::string stub = scratch / "stub.exe";
    std::string archive = scratch / "a.lzh";
    std::string out = scratch / "out.exe";

    void SetUp() override {
        write_file(stub, minimal_stub());
        TestMember one;
        one.name = "one.txt";
        one.level = 1;
        one.data = Bytes(100, 'a');
        TestMember two;
        two.name = "two.txt";
        two.level = 2;
        two.data = Bytes(300, 'b');
        TestMember tool;
        tool.name = "tool.exe";
        tool.folder = "bin\xff";
        tool.level = 2;
        tool.data = Bytes(10, 't');
        write_file(archive, build_archive({one, two, tool}));
    }

    ToolRun make(std::vector<std::string> extra) {
        std::vector<std::string> args = {"make", "--stub", stub, "--archive", archive, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_tool(args);
    }

    OpenedArchive open_output() {
        OpenedArchive opened;
        EXPECT_TRUE(open_archive(out.c_str(), &opened));
        return opened;
    }

    // Everything left in the scratch folder, to see that nothing half-written stays.
    std::vector<std::string> files() { return folder_entries(scratch.path()); }
};

TEST_F(MakeCommand, StoresEverySettingThenTheArchive) {
    ToolRun run = make({"--title", "テスト", "--dest", "アプリ\\Tool", "--program-files",
                        "--shortcut-target", "bin\\tool.exe", "--start-menu", "checked",
                        "--desktop", "offer", "--send-to", "forced", "--launch", "bin\\tool.exe"});
    ASSERT_EQ(run.status, 0) << run.output();
    OpenedArchive opened = open_output();
    ASSERT_TRUE(opened.combined);
    EXPECT_EQ(opened.block_offset, 0x400u);
    const SfxConfig& c = opened.config;
    EXPECT_EQ(c.present, 1);
    EXPECT_EQ(std::string(c.title, c.title_length), "\x83\x65\x83\x58\x83\x67");  // テスト
    EXPECT_EQ(std::string(c.dest_name, c.dest_length), "\x83\x41\x83\x76\x83\x8a\\Tool");
    EXPECT_EQ(c.under_program_files, 1);
    EXPECT_EQ(std::string(c.shortcut_target), "bin\\tool.exe");
    EXPECT_EQ(c.start_menu_option, 3);
    EXPECT_EQ(c.desktop_option, 1);
    EXPECT_EQ(c.send_to_option, 2);
    EXPECT_EQ(std::string(c.launch_target), "bin\\tool.exe");
    fclose(opened.file);

    // The archive follows the block byte for byte.
    Bytes combined = read_file(out), source = read_file(archive);
    ASSERT_EQ(combined.size(), opened.archive_offset + source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.end(), combined.begin() + opened.archive_offset));

    ToolRun list = run_tool({"list", out});
    EXPECT_EQ(list.status, 0) << list.output();
    EXPECT_NE(list.output().find("title:          \"テスト\""), std::string::npos) << list.output();
    EXPECT_NE(list.output().find("offered, checked (3)"), std::string::npos);
    EXPECT_NE(list.output().find("Program Files"), std::string::npos);
    EXPECT_NE(list.output().find("two.txt"), std::string::npos);
    EXPECT_NE(list.output().find("always created (2)"), std::string::npos);
}

TEST_F(MakeCommand, DefaultsAndTheEmptyBlock) {
    ASSERT_EQ(make({}).status, 0);
    OpenedArchive opened = open_output();
    EXPECT_EQ(opened.config.present, 1);
    EXPECT_EQ(opened.config.title_length, 0);
    EXPECT_EQ(opened.config.start_menu_option, 0);
    EXPECT_EQ(opened.archive_offset - opened.block_offset, 9u);
    fclose(opened.file);

    ASSERT_EQ(make({"--no-config"}).status, 0);
    opened = open_output();
    EXPECT_EQ(opened.config.present, 0);
    EXPECT_EQ(opened.archive_offset, opened.block_offset + 1);
    fclose(opened.file);

    ToolRun mixed = make({"--no-config", "--title", "x"});
    EXPECT_EQ(mixed.status, EXIT_USAGE);
    EXPECT_NE(mixed.output().find("--no-config"), std::string::npos);
    EXPECT_EQ(make({"--desktop", "sometimes"}).status, EXIT_USAGE);
}

TEST_F(MakeCommand, TextsMustFitShiftJisIn255Bytes) {
    ToolRun euro = make({"--title", "price in €"});
    EXPECT_EQ(euro.status, EXIT_USAGE);
    EXPECT_NE(euro.output().find("cannot be written in Shift-JIS"), std::string::npos) << euro.output();

    EXPECT_EQ(make({"--dest", std::string(255, 'd')}).status, 0);
    ToolRun ascii = make({"--dest", std::string(256, 'd')});
    EXPECT_EQ(ascii.status, EXIT_USAGE);
    EXPECT_NE(ascii.output().find("too long"), std::string::npos) << ascii.output();

    // 漢 is two bytes in Shift-JIS, three in UTF-8.
    std::string kanji;
    for (int i = 0; i < 127; i++) kanji += "漢";
    EXPECT_EQ(make({"--title", kanji + "a"}).status, 0);
    EXPECT_EQ(make({"--title", kanji + "漢"}).status, EXIT_USAGE);
}

// Every refusal leaves an existing output as it was and no temporary file behind.
TEST_F(MakeCommand, RefusesBadInputsWithoutTouchingTheOutput) {
    write_file(out, Bytes{'o', 'l', 'd'});

    Bytes with_tail = minimal_stub();
    with_tail.push_back(1);
    write_file(scratch / "tail.exe", with_tail);
    Bytes cut = minimal_stub();
    cut.resize(0x300);
    write_file(scratch / "cut.exe", cut);
    Bytes garbage(500, 0x41);
    write_file(scratch / "garbage.lzh", garbage);
    Bytes truncated = read_file(archive);
    truncated.resize(truncated.size() - 5);  // inside the last member's data
    write_file(scratch / "truncated.lzh", truncated);
    write_file(scratch / "empty.lzh", Bytes{0});
    const std::vector<std::string> before = files();

    struct Case {
        const char* stub;
        const char* archive;
        const char* says;
    } cases[] = {
        {"a.lzh", "a.lzh", "not a Windows program"},
        {"tail.exe", "a.lzh", "carries data after its image"},
        {"cut.exe", "a.lzh", "cut short"},
        {"missing.exe", "a.lzh", "missing.exe"},
        {"stub.exe", "garbage.lzh", "not an LHA archive"},
        {"stub.exe", "truncated.lzh", "ends inside a member"},
        {"stub.exe", "stub.exe", "is a program"},
        {"stub.exe", "empty.lzh", "holds no members"},
    };
    for (const Case& c : cases) {
        ToolRun run = run_tool({"make", "--stub", scratch / c.stub, "--archive", scratch / c.archive,
                            "-o", out});
        EXPECT_EQ(run.status, EXIT_USAGE) << c.stub << " " << c.archive;
        EXPECT_NE(run.output().find(c.says), std::string::npos) << run.output();
        EXPECT_EQ(read_file(out), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(files(), before);
    }

    // An output that cannot be written: the folder does not exist.
    ToolRun nowhere = run_tool({"make", "--stub", stub, "--archive", archive, "-o",
                            scratch / "no/such/out.exe"});
    EXPECT_EQ(nowhere.status, EXIT_USAGE);
    EXPECT_EQ(files(), before);
}

TEST_F(MakeCommand, WarnsAboutMethodsTheStubCannotDecode) {
    TestMember odd;
    odd.name = "odd.bin";
    odd.method = "-lhx-";
    odd.level = 2;
    odd.data = Bytes(10, 1);
    TestMember fine;
    fine.name = "fine.txt";
    fine.level = 2;
    fine.data = Bytes(10, 2);
    write_file(archive, build_archive({odd, fine}));
    ToolRun run = make({});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output().find("warning: odd.bin: method -lhx- cannot be decoded"), std::string::npos)
        << run.output();
    EXPECT_EQ(run.output().find("fine.txt"), std::string::npos);
}

// A signature appends its certificate table to the file.  The archive's end byte
// keeps the walk from reading it as one more member header; without the byte the
// same tail breaks the archive.
TEST_F(MakeCommand, EndByteKeepsAnAppendedCertificateOutOfTheArchive) {
    TestMember one;
    one.name = "one.txt";
    one.level = 2;
    one.data = Bytes(2000, 'x');
    Bytes bare = build_archive({one}, false);
    write_file(archive, bare);
    ToolRun run = make({"--no-config"});
    ASSERT_EQ(run.status, 0) << run.output();
    EXPECT_NE(run.output().find("end byte added"), std::string::npos);
    Bytes combined = read_file(out);
    ASSERT_EQ(combined.back(), 0);

    // WIN_CERTIFICATE: length 0x0A28, revision 2.0, type PKCS#7, then its data.
    Bytes certificate = {0x28, 0x0A, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
    certificate.resize(0xA28, 0x30);
    Bytes signed_file = combined;
    signed_file.insert(signed_file.end(), certificate.begin(), certificate.end());
    write_file(out, signed_file);
    ToolRun test = run_tool({"test", out});
    EXPECT_EQ(test.status, 0) << test.output();
    EXPECT_NE(test.output().find("1 members tested, all OK"), std::string::npos) << test.output();

    Bytes without_end = minimal_stub();
    without_end.push_back(0);  // the empty block
    without_end.insert(without_end.end(), bare.begin(), bare.end());
    without_end.insert(without_end.end(), certificate.begin(), certificate.end());
    write_file(scratch / "unsafe.exe", without_end);
    EXPECT_NE(run_tool({"test", scratch / "unsafe.exe"}).status, 0);

    // An archive that has its end byte keeps it, and gets no second one.
    write_file(archive, build_archive({one}, true));
    ASSERT_EQ(make({"--no-config"}).status, 0);
    EXPECT_EQ(read_file(out).size(), 0x400 + 1 + bare.size() + 1);
}

TEST_F(MakeCommand, PacksAFolderAndJoinsItInOneGo) {
    mkdir((scratch / "content").c_str(), 0755);
    mkdir((scratch / "content/bin").c_str(), 0755);
    Bytes program(5000, 'p');
    for (size_t i = 0; i < program.size(); i++) program[i] = (uint8_t)(i * i % 251);
    write_file(scratch / "content/bin/tool.exe", program);
    write_file(scratch / "content/readme.txt", Bytes(2000, 'r'));
    ToolRun run = run_tool({"make", "--stub", stub, "--from", scratch / "content", "-o", out,
                        "--title", "Setup", "--start-menu", "checked", "--shortcut-target",
                        "bin\\tool.exe"});
    ASSERT_EQ(run.status, 0) << run.output();
    EXPECT_EQ(files(), (std::vector<std::string>{"a.lzh", "content", "out.exe", "stub.exe"}));
    OpenedArchive opened = open_output();
    EXPECT_STREQ(opened.config.title, "Setup");
    EXPECT_EQ(opened.config.start_menu_option, 3);
    fclose(opened.file);

    ToolRun extract = run_tool({"extract", "-C", scratch / "x", out});
    ASSERT_EQ(extract.status, 0) << extract.output();
    EXPECT_EQ(read_file(scratch / "x/bin/tool.exe"), program);
    EXPECT_EQ(read_file(scratch / "x/readme.txt"), Bytes(2000, 'r'));

    EXPECT_EQ(run_tool({"make", "--stub", stub, "--from", scratch / "content", "--archive", archive,
                    "-o", out}).status, 2);
    ToolRun missing = run_tool({"make", "--stub", stub, "--from", scratch / "nothing", "-o", scratch / "o2.exe"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_FALSE(file_exists(scratch / "o2.exe"));
    EXPECT_FALSE(file_exists(scratch / "o2.exe.mavusfx-pack.lzh"));
}

}  // namespace
