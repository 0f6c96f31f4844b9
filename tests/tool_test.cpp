// The host tool as a user runs it: exit statuses and the lines it prints.  Combined
// files are made and read in make_command_test.
#include <stdlib.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "platform/text_conversion.h"
#include "tools/local_names.h"
#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

const char* const COMMANDS[] = {"list", "test", "extract", "pack", "make"};

// The version CMakeLists.txt gives the project.
std::string project_version() {
    std::ifstream in(source_path("CMakeLists.txt"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::smatch found;
    return std::regex_search(text, found, std::regex("project\\(mavusfx VERSION ([0-9.]+)")) ? found[1].str() : "";
}

TEST(ToolCommandLine, HelpAndVersionGoToStdoutAndExitZero) {
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"help", "--help"}, {"help", "help"}}) {
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, 0) << words[0];
        EXPECT_EQ(run.out.rfind("usage: mavusfx COMMAND", 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
    for (const char* command : COMMANDS) {
        SCOPED_TRACE(command);
        ToolRun help = run_tool(Words{command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: mavusfx ") + command, 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");
        EXPECT_EQ(run_tool(Words{command, "-h"}).out, help.out);
        EXPECT_EQ(run_tool(Words{"help", command}).out, help.out);
        // Help wins over what is missing, wherever it stands.
        ToolRun late = run_tool(Words{command, "no-such-file", "--help"});
        EXPECT_EQ(late.status, 0);
        EXPECT_EQ(late.out, help.out);
    }
    ToolRun version = run_tool(Words{"--version"});
    ASSERT_NE(project_version(), "");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "mavusfx " + project_version() + "\n");

    // Without a command the usage is an error.
    ToolRun bare = run_tool("");
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_NE(bare.err.find("usage: mavusfx"), std::string::npos);
}

// Every usage error is one line: "mavusfx: ", what is wrong, where the help is.
TEST(ToolCommandLine, UsageErrorsAreOneLineWithAHint) {
    struct Case {
        std::vector<std::string> words;
        const char* says;
    } cases[] = {
        {{"make", "--titel", "x"}, "mavusfx: unknown option '--titel' (did you mean '--title'?); try 'mavusfx make --help'"},
        {{"extract", "--raw-nmaes", "a.lzh"}, "unknown option '--raw-nmaes' (did you mean '--raw-names'?)"},
        {{"list", "--frobnicate", "a.lzh"}, "mavusfx: unknown option '--frobnicate'; try 'mavusfx list --help'"},
        {{"pack", "-x", "dir"}, "unknown option '-x'; try 'mavusfx pack --help'"},
        {{"lsit", "a.lzh"}, "mavusfx: unknown command 'lsit' (did you mean 'list'?); try 'mavusfx --help'"},
        {{"help", "mkae"}, "unknown command 'mkae' (did you mean 'make'?)"},
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"make", "--title"}, "option '--title' needs a value; try 'mavusfx make --help'"},
        {{"extract", "a.lzh", "-C"}, "option '-C' needs a value"},
        {{"make", "--program-files=yes"}, "option '--program-files' takes no value"},
        {{"make", "--s", "x"}, "option '--s' is ambiguous (--stub, --shortcut-target, --start-menu, --send-to)"},
        {{"list"}, "list takes one FILE"},
        {{"test", "a.lzh", "b.lzh"}, "test takes one FILE"},
        {{"pack", "dir"}, "-o ARCHIVE is required"},
        {{"pack", "dir", "-o", "x.lzh", "--level=3"}, "unknown header level '3'"},
        {{"make", "-o", "x.exe"}, "one of --archive or --from is required"},
        {{"make", "--archive", "a.lzh", "--from", "dir", "-o", "x.exe"}, "--archive and --from both given"},
        {{"make", "--from", "dir"}, "-o OUT.exe is required"},
        {{"extract", "--directory=\x1b[2J", "--bogus\x07"}, "unknown option '--bogus\\x07'"},
    };
    for (const Case& c : cases) {
        ToolRun run = run_tool(c.words);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
    }
}

// Options stand anywhere, with their values joined or apart; "--" ends them.
TEST(ToolCommandLine, OptionsAnywhereJoinedValuesAndTheEndOfOptions) {
    ScratchFolder scratch;
    TestMember one;
    one.name = "one.txt";
    one.data = {'1'};
    write_file(scratch / "-a.lzh", build_archive({one}));
    std::string archive = scratch / "-a.lzh";
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"extract", archive, "-C", scratch / "x1"},
          {"extract", "--directory=" + (scratch / "x2"), archive},
          {"extract", "-C" + (scratch / "x3"), archive},
          {"extract", "--dir", scratch / "x4", archive},
          {"extract", "-C", scratch / "x5", "--", archive}}) {
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, 0) << words[1] << run.err;
    }
    for (const char* folder : {"x1", "x2", "x3", "x4", "x5"})
        EXPECT_EQ(read_file(scratch / folder + "/one.txt"), Bytes{'1'}) << folder;

    // A file whose name begins with '-' is an operand after "--"; before, an option.
    std::string inside = "cd '" + scratch.path() + "' &&";
    ToolRun after = run_tool(Words{"list", "--", "-a.lzh"}, inside);
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_NE(after.out.find("one.txt"), std::string::npos);
    EXPECT_NE(run_tool(Words{"list", "-a.lzh"}, inside).err.find("unknown option '-a'"), std::string::npos);
}

TEST(Tool, UsageAndUnreadableFiles) {
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

// A bare archive damaged or cut after sound members: extract and test handle those
// members, list shows them, and each command then reports the damage or cut with
// status 1.  The same archive behind a stub (an installer) is refused whole.
TEST(Tool, SoundMembersOfABareArchiveBeforeDamageOrACut) {
    ScratchFolder scratch;
    TestMember a, b, c;
    a.name = "a.txt";
    a.data = bytes_of("alpha");
    b.name = "b.txt";
    b.data = bytes_of("bravo");
    c.name = "c.txt";
    c.data = Bytes(400, 'c');
    Bytes sound = build_archive({a, b}, false);
    Bytes padded = sound;
    padded.insert(padded.end(), 40, 0x1A);  // padding of no header
    Bytes cut = sound;
    Bytes third = build_member(c);
    cut.insert(cut.end(), third.begin(), third.end() - 50);
    write_file("padded.lzh", padded);
    write_file("cut.lzh", cut);
    for (const char* name : {"padded.lzh", "cut.lzh"}) {
        SCOPED_TRACE(name);
        const char* fault = name[0] == 'p' ? "damaged archive" : "cut short";
        ToolRun list = run_tool("list " + (scratch / name));
        EXPECT_EQ(list.status, 1);
        EXPECT_NE(list.out.find("a.txt"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("b.txt"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("2 members"), std::string::npos) << list.out;
        EXPECT_NE(list.err.find(fault), std::string::npos) << list.err;
        ToolRun test = run_tool("test " + (scratch / name));
        EXPECT_EQ(test.status, 1);
        EXPECT_NE(test.out.find("2 members tested, all OK"), std::string::npos) << test.out;
        EXPECT_NE(test.err.find(fault), std::string::npos) << test.err;
        ToolRun extract = run_tool("extract -C " + (scratch / "out") + " " + (scratch / name));
        EXPECT_EQ(extract.status, 1);
        EXPECT_NE(extract.err.find(fault), std::string::npos) << extract.err;
        EXPECT_EQ(folder_entries(scratch / "out"), (std::vector<std::string>{"a.txt", "b.txt"}));
        EXPECT_EQ(text_of(read_file(scratch / "out/b.txt")), "bravo");
        EXPECT_EQ(system(("rm -rf '" + (scratch / "out") + "'").c_str()), 0);
    }
    // As an installer: made from the sound archive, then cut inside its last member.
    write_file("sound.lzh", sound);
    write_file("stub.exe", fake_pe({{0x200, 0x200}}, 0x200));
    ASSERT_EQ(run_tool({"make", "--stub", scratch / "stub.exe", "--archive", scratch / "sound.lzh", "-o",
                        scratch / "setup.exe"}).status, 0);
    Bytes setup = read_file(scratch / "setup.exe");
    setup.resize(setup.size() - 3);  // the end byte and two bytes of "bravo"
    write_file("setup.exe", setup);
    ToolRun refused = run_tool("extract -C " + (scratch / "out") + " " + (scratch / "setup.exe"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("cut short"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nothing extracted"), std::string::npos) << refused.err;
    EXPECT_TRUE(folder_entries(scratch / "out").empty());
}

// A file size limit makes the write fail, which is reported with the system's
// reason and stops the run, as a full disk does; the signal it would raise does not
// end the tool without a word.
TEST(Tool, FileSizeLimitIsReportedAsAWriteError) {
    ScratchFolder scratch;
    TestMember big, after;
    big.name = "big.bin";
    big.data = Bytes(200000, 'b');
    after.name = "after.txt";
    after.data = {'a'};
    write_file("big.lzh", build_archive({big, after}));
    std::string command = "ulimit -f 16; '" + std::string(MAVUSFX_TOOL) + "' extract -C out big.lzh 2>err";
    int raw = system(("sh -c \"" + command + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(text_of(read_file("err")), "mavusfx: big.bin: File too large\n");
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

// ---- names -----------------------------------------------------------------------

struct NamedFile {
    std::string path;  // UTF-8
    Bytes content;
};

const std::vector<NamedFile> JAPANESE_TREE = {
    {"ツール.exe", Bytes(3000, 'e')},
    {"説明書.txt", bytes_of("読んでください\n")},
    {"データ/画像/数列.txt", bytes_of("1 1 2 3 5 8\n")},
    {"ﾊﾝｶｸ/～波.txt", bytes_of("x")},  // half-width katakana; the wave dash of code page 932
};

// Every file below `root` with its content, by path.
void collect(const std::string& root, const std::string& below, std::vector<NamedFile>* out) {
    for (const std::string& name : folder_entries(root + "/" + below)) {
        std::string path = below.empty() ? name : below + "/" + name;
        if (folder_exists(root + "/" + path)) collect(root, path, out);
        else out->push_back({path, read_file(root + "/" + path)});
    }
}

std::vector<std::string> paths_of(const std::vector<NamedFile>& files) {
    std::vector<std::string> paths;
    for (const NamedFile& f : files) paths.push_back(f.path);
    std::sort(paths.begin(), paths.end());
    return paths;
}

// A folder with Japanese names, packed and extracted, comes back as it was: names in
// UTF-8 under a UTF-8 locale, and under the C locale (its names are taken as UTF-8
// too); with --raw-names as the archive's Shift-JIS bytes.
// Components of ASCII alone come out as converting them gives them, every byte from
// 1 to 127 among them, beside a component that is converted; "." and ".." are
// refused either way.
TEST(ToolNames, AsciiComponentsComeOutAsTheConversionGivesThem) {
    for (int c = 1; c < 0x80; c++) {
        if (c == '/') continue;
        const std::string part = std::string("a") + (char)c + "z";
        char converted[64], local[128];
        ASSERT_TRUE(platform_sjis_to_local(part.c_str(), converted, sizeof converted)) << c;
        ASSERT_TRUE(local_file_name((part + "/\x83\x5c/" + part).c_str(), local, sizeof local)) << c;
        char kana[16];  // as its bytes where the locale has no form for it
        if (!platform_sjis_to_local("\x83\x5c", kana, sizeof kana)) strcpy(kana, "\x83\x5c");
        EXPECT_EQ(std::string(local), std::string(converted) + "/" + kana + "/" + converted) << c;
    }
    char local[64];
    EXPECT_FALSE(local_file_name("a/./b", local, sizeof local));
    EXPECT_FALSE(local_file_name("..", local, sizeof local));
    EXPECT_TRUE(local_file_name("a/.../b", local, sizeof local));
}

TEST(ToolNames, ExtractedNamesComeBackInTheLocalesEncoding) {
    ScratchFolder scratch;
    for (const NamedFile& f : JAPANESE_TREE) {
        std::string path = scratch / "app/" + f.path;
        for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0777);
        write_file(path, f.content);
    }
    ToolRun pack = run_tool(Words{"pack", scratch / "app", "-o", scratch / "app.lzh"});
    ASSERT_EQ(pack.status, 0) << pack.err;

    for (const char* locale : {"LC_ALL=C.UTF-8", "LC_ALL=ja_JP.UTF-8", "LC_ALL=C", "LANG= LC_ALL="}) {
        SCOPED_TRACE(locale);
        std::string out = scratch / "out";
        ToolRun run = run_tool(Words{"extract", "-C", out, scratch / "app.lzh"}, locale);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("データ/画像/数列.txt"), std::string::npos) << run.out;
        std::vector<NamedFile> got;
        collect(out, "", &got);
        EXPECT_EQ(paths_of(got), paths_of(JAPANESE_TREE));
        for (const NamedFile& want : JAPANESE_TREE)
            EXPECT_EQ(read_file(out + "/" + want.path), want.content) << want.path;
        system(("rm -rf '" + out + "'").c_str());
    }

    ToolRun raw = run_tool(Words{"extract", "--raw-names", "-C", scratch / "raw", scratch / "app.lzh"});
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_NE(raw.out.find("ツール.exe"), std::string::npos);  // still shown converted
    std::vector<NamedFile> got;
    collect(scratch / "raw", "", &got);
    std::vector<std::string> sjis;
    for (const NamedFile& f : JAPANESE_TREE) {
        char converted[256];
        ASSERT_TRUE(platform_utf8_to_sjis(f.path.c_str(), converted, sizeof converted));
        sjis.push_back(converted);
    }
    std::sort(sjis.begin(), sjis.end());
    EXPECT_EQ(paths_of(got), sjis);
    EXPECT_TRUE(file_exists(scratch / "raw/\x83\x63\x81\x5b\x83\x8b.exe"));  // ツール.exe
}

// Control characters and bytes that are no Shift-JIS are shown as \xNN in the
// listing, the test and extract lines and the failure lines; the files keep the
// names' bytes.
TEST(ToolNames, ControlCharactersAreShownEscaped) {
    ScratchFolder scratch;
    TestMember colour;
    colour.name = "red\x1b[31m.txt";
    colour.data = {'r'};
    TestMember bell;
    bell.name = "bell\x07.txt";
    bell.data = {'b'};
    bell.crc = 1;
    bell.crc_given = true;
    TestMember odd;
    odd.name = "odd\x80\xfd.txt";
    odd.data = {'o'};
    write_file(scratch / "a.lzh", build_archive({colour, bell, odd}));

    ToolRun list = run_tool(Words{"list", scratch / "a.lzh"});
    ToolRun test = run_tool(Words{"test", scratch / "a.lzh"});
    ToolRun extract = run_tool(Words{"extract", "-C", scratch / "out", scratch / "a.lzh"});
    for (const ToolRun* run : {&list, &test, &extract}) {
        std::string all = run->output();
        EXPECT_NE(run->out.find("red\\x1b[31m.txt"), std::string::npos) << all;
        EXPECT_NE(run->out.find("odd\\x80\\xfd.txt"), std::string::npos) << all;
        for (char c : all) EXPECT_FALSE((c >= 0 && c < 0x20 && c != '\n') || c == 0x7F) << all;
    }
    // Names with control characters are refused (Windows cannot hold them), and the
    // refusal shows them escaped too.
    for (const ToolRun* run : {&test, &extract}) {
        EXPECT_NE(run->err.find("mavusfx: red\\x1b[31m.txt: a name Windows cannot hold"), std::string::npos) << run->err;
        EXPECT_NE(run->err.find("mavusfx: bell\\x07.txt: a name Windows cannot hold"), std::string::npos) << run->err;
    }
    EXPECT_EQ(extract.status, 1);
    EXPECT_FALSE(file_exists(scratch / "out/red\x1b[31m.txt"));
    EXPECT_EQ(read_file(scratch / "out/odd\x80\xfd.txt"), Bytes{'o'});  // no form in UTF-8: bytes kept

    // pack names the file it leaves out the same way (here a link to nothing).
    mkdir((scratch / "in").c_str(), 0777);
    symlink("nowhere", (scratch / "in/link\x1b]0;x\x07").c_str());
    ToolRun pack = run_tool(Words{"pack", scratch / "in", "-o", scratch / "in.lzh"});
    EXPECT_NE(pack.err.find("link\\x1b]0;x\\x07"), std::string::npos) << pack.err;
    for (char c : pack.err) EXPECT_FALSE(c >= 0 && c < 0x20 && c != '\n') << pack.err;
}

}  // namespace

// The free-space check on a real small disk (a 1 MiB tmpfs, where the machine lets
// this test mount one), with names mapped as by default: a member larger than the
// disk is refused before anything is written.
TEST(Tool, AnArchiveTooBigForTheDiskIsRefusedBeforeAnythingIsWritten) {
    ScratchFolder scratch;
    std::string disk = scratch / "disk";
    mkdir(disk.c_str(), 0777);
    if (system(("mount -t tmpfs -o size=1m mavusfx-test " + disk + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    TestMember big;
    big.name = "big.bin";
    big.data = Bytes(2 << 20, 'b');
    write_file("big.lzh", build_archive({big}));
    ToolRun run = run_tool("extract -C " + disk + " " + (scratch / "big.lzh"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("free space"), std::string::npos) << run.err;
    EXPECT_EQ(folder_entries(disk), std::vector<std::string>{});
    EXPECT_EQ(system(("umount " + disk).c_str()), 0);
}
