// mavusfx make, run as the built tool: the block it writes, the texts it refuses,
// the inputs it refuses without touching the output, and the end byte that keeps a
// certificate appended later out of the archive.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/archive_walk.h"
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

    // An output that cannot be written: a file stands where its folder would be made.
    ToolRun nowhere = run_tool({"make", "--stub", stub, "--archive", archive, "-o",
                            scratch / "a.lzh/such/out.exe"});
    EXPECT_EQ(nowhere.status, EXIT_USAGE);
    EXPECT_NE(nowhere.err.find("a.lzh is not a folder"), std::string::npos) << nowhere.err;
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

// Members of a combined file by name, with their methods.
std::vector<std::pair<std::string, std::string>> members_of_file(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> members;
    OpenedArchive opened;
    if (!open_archive(path.c_str(), &opened)) return members;
    ExtractionRun reader = {};
    reader.archive_file = opened.file;
    reader.archive_size = file_size(opened.file);
    uint64_t total;
    walk_archive(&reader, &total, [](void* context, const MemberHeader& h) {
        ((std::vector<std::pair<std::string, std::string>>*)context)->push_back({h.name, std::string(h.method, 5)});
    }, &members);
    fclose(opened.file);
    return members;
}

// The settings file: its paths relative to its own folder (the tool runs elsewhere),
// the command line over it, and its mistakes told with the line.
TEST_F(MakeCommand, SettingsFileWithTheCommandLineOverIt) {
    mkdir((scratch / "ci").c_str(), 0777);
    write_file(scratch / "ci/setup.toml", bytes_of(
        "# beside the archive\n"
        "stub = \"../stub.exe\"\n"
        "archive = \"../a.lzh\"\n"
        "output = \"../out.exe\"\n"
        "title = \"ツール\"\n"
        "dest = \"Tool\"\n"
        "program-files = true\n"
        "shortcut-target = 'bin\\tool.exe'\n"
        "start-menu = \"checked\"\n"
        "desktop = \"offer\"\n"));
    ToolRun run = run_tool({"make", "--config", scratch / "ci/setup.toml", "--title=Override", "--send-to",
                            "forced"});
    ASSERT_EQ(run.status, 0) << run.output();
    OpenedArchive opened = open_output();
    const SfxConfig& c = opened.config;
    EXPECT_STREQ(c.title, "Override");
    EXPECT_STREQ(c.dest_name, "Tool");
    EXPECT_EQ(c.under_program_files, 1);
    EXPECT_STREQ(c.shortcut_target, "bin\\tool.exe");
    EXPECT_EQ(c.start_menu_option, 3);
    EXPECT_EQ(c.desktop_option, 1);
    EXPECT_EQ(c.send_to_option, 2);
    fclose(opened.file);
    EXPECT_EQ(members_of_file(out).size(), 3u);

    // Without the overrides the file's own title stands; -o on the command line wins.
    ASSERT_EQ(run_tool({"make", "--config", scratch / "ci/setup.toml", "-o", scratch / "second.exe"}).status, 0);
    OpenedArchive second;
    ASSERT_TRUE(open_archive((scratch / "second.exe").c_str(), &second));
    EXPECT_STREQ(second.config.title, "\x83\x63\x81\x5b\x83\x8b");  // ツール
    fclose(second.file);

    write_file(out, Bytes{'o', 'l', 'd'});
    struct Case { const char* text; const char* says; } cases[] = {
        {"stub = \"../stub.exe\"\ntitel = \"x\"\n", "bad.toml:2: unknown key 'titel' (did you mean 'title'?)"},
        {"program-files = \"yes\"\n", "bad.toml:1: program-files takes true or false"},
        {"title = 3\n", "bad.toml:1: title takes a string"},
        {"title = \"unclosed\n", "bad.toml:1:"},
        {"[make]\ntitle = \"x\"\n", "unknown key 'make'"},
    };
    for (const Case& c : cases) {
        write_file(scratch / "ci/bad.toml", bytes_of(c.text));
        ToolRun bad = run_tool({"make", "--config", scratch / "ci/bad.toml", "--stub", stub, "--archive", archive,
                                "-o", out});
        EXPECT_EQ(bad.status, EXIT_USAGE) << c.text;
        EXPECT_NE(bad.err.find(c.says), std::string::npos) << bad.err;
        EXPECT_EQ(read_file(out), (Bytes{'o', 'l', 'd'}));
    }
    ToolRun missing = run_tool({"make", "--config", scratch / "ci/none.toml"});
    EXPECT_EQ(missing.status, EXIT_USAGE);
    EXPECT_NE(missing.err.find("none.toml: No such file"), std::string::npos) << missing.err;
}

// The shortcut and launch targets must be what the archive puts in the destination.
TEST_F(MakeCommand, TargetsMustBeMembers) {
    write_file(out, Bytes{'o', 'l', 'd'});
    struct Case {
        std::vector<std::string> settings;
        const char* says;  // null: accepted
    } cases[] = {
        {{"--launch", "bin\\missing.exe"}, "the launch target 'bin\\missing.exe' is not a file in the archive"},
        {{"--shortcut-target", "tool.exe"}, "the shortcut target 'tool.exe' is not a file or folder in the archive"},
        {{"--launch", "bin"}, "the launch target 'bin' is not a file"},
        {{"--desktop", "checked"}, "no --shortcut-target names the file they point to"},
        {{"--shortcut-target", "bin", "--launch", "BIN\\Tool.EXE", "--desktop", "checked"}, nullptr},
        {{"--shortcut-target", "bin/tool.exe", "--launch", "one.txt"}, nullptr},
        {{"--no-config"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings[0] + " " + (c.settings.size() > 1 ? c.settings[1] : ""));
        ToolRun run = make(c.settings);
        if (c.says == nullptr) {
            EXPECT_EQ(run.status, 0) << run.output();
            continue;
        }
        EXPECT_EQ(run.status, EXIT_USAGE);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(files(), (std::vector<std::string>{"a.lzh", "out.exe", "stub.exe"}));
    }
}

// The output is never one of the inputs, a signed stub is sent to be signed after
// make, and --method belongs to --from.
TEST_F(MakeCommand, RefusesItsInputsAsOutputAndASignedStub) {
    const Bytes archive_bytes = read_file(archive), stub_bytes = read_file(stub);
    link(archive.c_str(), (scratch / "same.lzh").c_str());
    struct Case { std::vector<std::string> words; const char* says; } cases[] = {
        {{"make", "--stub", stub, "--archive", archive, "-o", archive}, "is the archive itself"},
        {{"make", "--stub", stub, "--archive", archive, "-o", scratch / "same.lzh"}, "is the archive itself"},
        {{"make", "--stub", stub, "--archive", archive, "-o", stub}, "is the stub itself"},
        {{"make", "--stub", stub, "--archive", archive, "-o", out, "--method", "lh5"}, "--method chooses how --from packs"},
    };
    for (const Case& c : cases) {
        ToolRun run = run_tool(c.words);
        EXPECT_EQ(run.status, EXIT_USAGE) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_EQ(read_file(archive), archive_bytes);
    EXPECT_EQ(read_file(stub), stub_bytes);

    // A signed stub: its security directory names a certificate table after the image.
    Bytes signed_stub = minimal_stub();
    const uint32_t optional = 0x80 + 24, count = 16, table = 0x400, size = 0x100;
    signed_stub[optional] = 0x0B;  // PE32
    signed_stub[optional + 1] = 0x01;
    memcpy(&signed_stub[optional + 92], &count, 4);
    memcpy(&signed_stub[optional + 96 + 4 * 8], &table, 4);
    memcpy(&signed_stub[optional + 96 + 4 * 8 + 4], &size, 4);
    signed_stub.resize(table + size, 0x30);
    write_file(scratch / "signed.exe", signed_stub);
    ToolRun run = run_tool({"make", "--stub", scratch / "signed.exe", "--archive", archive, "-o", out});
    EXPECT_EQ(run.status, EXIT_USAGE);
    EXPECT_NE(run.err.find("is signed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("sign the installer after make"), std::string::npos) << run.err;
    EXPECT_FALSE(file_exists(out));
}

// make --from with its output inside the folder, twice: the second installer holds
// what the first did, not the first installer; --method chooses the packing.
TEST_F(MakeCommand, FromLeavesItsOwnOutputOutAndTakesAMethod) {
    mkdir((scratch / "app").c_str(), 0755);
    write_file(scratch / "app/tool.exe", Bytes(4000, 't'));
    write_file(scratch / "app/readme.txt", Bytes(3000, 'r'));
    std::string inside = scratch / "app/setup.exe";
    for (int round = 0; round < 2; round++) {
        ToolRun run = run_tool({"make", "--stub", stub, "--from", scratch / "app", "-o", inside, "--launch",
                                "tool.exe"});
        ASSERT_EQ(run.status, 0) << run.output();
        auto members = members_of_file(inside);
        ASSERT_EQ(members.size(), 2u) << round;
        EXPECT_EQ(members[0].first, "readme.txt");
        EXPECT_EQ(members[1].first, "tool.exe");
        EXPECT_EQ(members[1].second, "-lh7-");
    }
    EXPECT_EQ(folder_entries(scratch / "app"), (std::vector<std::string>{"readme.txt", "setup.exe", "tool.exe"}));

    ASSERT_EQ(run_tool({"make", "--stub", stub, "--from", scratch / "app", "-o", out, "--method=lh5"}).status, 0);
    auto members = members_of_file(out);
    ASSERT_EQ(members.size(), 3u);  // setup.exe now among them: it is not this output
    for (const auto& m : members) EXPECT_EQ(m.second, "-lh5-") << m.first;
    ToolRun stored = run_tool({"make", "--stub", stub, "--from", scratch / "app", "-o", out, "--method", "lh0"});
    ASSERT_EQ(stored.status, 0) << stored.output();
    for (const auto& m : members_of_file(out)) EXPECT_EQ(m.second, "-lh0-") << m.first;
    // --exclude leaves out what pack would: here the older installer and the readme.
    ToolRun only_tool = run_tool({"make", "--stub", stub, "--from", scratch / "app", "-o", out,
                                  "--exclude=setup.*", "--exclude", "readme.txt"});
    ASSERT_EQ(only_tool.status, 0) << only_tool.output();
    auto kept = members_of_file(out);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].first, "tool.exe");
    EXPECT_EQ(run_tool({"make", "--stub", stub, "--archive", archive, "-o", out, "--exclude", "x"}).status,
              EXIT_USAGE);
    ToolRun unknown = run_tool({"make", "--stub", stub, "--from", scratch / "app", "-o", out, "--method", "lh9"});
    EXPECT_EQ(unknown.status, EXIT_USAGE);
    EXPECT_NE(unknown.err.find("--method takes lh7, lh6, lh5 or lh0, not 'lh9'"), std::string::npos) << unknown.err;
    // A target the packed folder does not hold leaves no output behind.
    ToolRun missing = run_tool({"make", "--stub", stub, "--from", scratch / "app", "-o", scratch / "new.exe",
                                "--launch", "setup2.exe"});
    EXPECT_EQ(missing.status, EXIT_USAGE);
    EXPECT_FALSE(file_exists(scratch / "new.exe"));
    EXPECT_EQ(files(), (std::vector<std::string>{"a.lzh", "app", "out.exe", "stub.exe"}));
}

}  // namespace
