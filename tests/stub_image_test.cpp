// The built stub itself (MAVUSFX_STUB): what it imports, where its image ends, its
// dialog, icon and manifest resources, and a combined file made of it.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "frontend/config_block.h"
#include "frontend/pe_image.h"
#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"
#include "tools/execution_level.h"

namespace {

const uint32_t RT_ICON = 3, RT_DIALOG = 5, RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24;
const uint32_t JAPANESE = 1041;

#define SKIP_WITHOUT_STUB()                                              \
    if (std::string(MAVUSFX_STUB).empty()) GTEST_SKIP() << "no stub given (MAVUSFX_STUB is empty)"

const PeFile& stub() {
    static PeFile file(read_file(MAVUSFX_STUB));
    return file;
}

std::string lower(std::string s) {
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

bool contains(const Bytes& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// An ASCII text as the stub's UTF-16 constants hold it.
std::string utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string(1, c) + '\0';
    return out;
}

// Only libraries of the KnownDLLs list are loaded by the loader before the entry
// point runs; everything else is loaded by name after the search was restricted.
// ntdll.dll is in every process before any program file is read, so none is
// searched for it.
TEST(StubImage, ImportsOnlyKnownDlls) {
    SKIP_WITHOUT_STUB();
    const std::set<std::string> known = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                         "shell32.dll",  "ole32.dll",  "advapi32.dll",
                                         "msvcrt.dll",   "comdlg32.dll", "oleaut32.dll",
                                         "shlwapi.dll", "ntdll.dll"};
    std::set<std::string> functions;
    for (const PeFile::Import& import : stub().imports()) {
        EXPECT_TRUE(known.count(lower(import.dll))) << import.dll << " is not a KnownDLL";
        for (const std::string& f : import.functions) functions.insert(f);
    }
    // Looked up at run time, so that systems without them still start.
    for (const char* f : {"SetDefaultDllDirectories", "InitCommonControlsEx"}) {
        EXPECT_FALSE(functions.count(f)) << f << " is imported statically";
        EXPECT_TRUE(contains(stub().bytes(), f)) << f << " is never looked up";
    }
    EXPECT_TRUE(functions.count("LoadLibraryW") && functions.count("GetProcAddress"));
    // Where SetDefaultDllDirectories is missing the current folder leaves the search,
    // and comctl32 is loaded by its full path in System32, never searched for.
    EXPECT_TRUE(functions.count("SetDllDirectoryW") && functions.count("GetSystemDirectoryW"));
    EXPECT_TRUE(contains(stub().bytes(), utf16("\\comctl32.dll")));
    // The worker thread comes from the runtime, so its per-thread state exists.
    EXPECT_TRUE(functions.count("_beginthread"));
}

// The configuration block is found where the last section ends: nothing (symbols, a
// debug directory) may follow it in the stub.
TEST(StubImage, EndsWhereItsImageEndsAndStaysSmall) {
    SKIP_WITHOUT_STUB();
    const Bytes& bytes = stub().bytes();
    EXPECT_EQ(pe_image_end(bytes.data(), 4096), bytes.size());
    // What the stub adds to every download, with every method, both dialogs, the icon,
    // the version information, the manifest and every safety check: at most 20,480
    // bytes, one block more than before the progress window took keys and kept inside
    // the screen (README.md has the table of where the bytes are; bench/stub_size.sh
    // shows who costs what).
    EXPECT_LE(bytes.size(), 20480u);
}

// Readers that look for the first archive header anywhere in a file (libarchive,
// and with it bsdtar and many file managers) take any "-lh?-" or "-lz?-" for one:
// the stub must hold none, or they stop at its method table.
TEST(StubImage, HoldsNoBytesThatLookLikeAMemberHeader) {
    SKIP_WITHOUT_STUB();
    const Bytes& bytes = stub().bytes();
    for (size_t i = 0; i + 5 <= bytes.size(); i++) {
        bool looks_like_a_method = bytes[i] == '-' && bytes[i + 1] == 'l' &&
                                   (bytes[i + 2] == 'h' || bytes[i + 2] == 'z') &&
                                   bytes[i + 4] == '-';
        EXPECT_FALSE(looks_like_a_method)
            << "\"" << std::string(bytes.begin() + i, bytes.begin() + i + 5) << "\" at " << i;
    }
}

TEST(StubImage, InstallerListsWithBsdtar) {
    SKIP_WITHOUT_STUB();
    if (system("command -v bsdtar >/dev/null 2>&1") != 0) GTEST_SKIP() << "bsdtar is not installed";
    ScratchFolder scratch;
    std::string content = scratch / "content";
    mkdir(content.c_str(), 0777);
    write_file(content + "/readme.txt", bytes_of("read me\n"));
    write_file(content + "/tool.exe", Bytes(5000, 'x'));
    std::string installer = scratch / "setup.exe";
    ToolRun made = run_tool({"make", "--stub", MAVUSFX_STUB, "--from", content, "-o", installer});
    ASSERT_EQ(made.status, 0) << made.output();
    std::string listing = scratch / "listing.txt";
    std::string command = "bsdtar -tf '" + installer + "' >'" + listing + "' 2>&1";
    int status = system(command.c_str());
    std::string listed = text_of(read_file(listing));
    EXPECT_EQ(status, 0) << listed;
    EXPECT_NE(listed.find("readme.txt"), std::string::npos) << listed;
    EXPECT_NE(listed.find("tool.exe"), std::string::npos) << listed;
}

DialogTemplate dialog(uint32_t id) {
    Bytes data;
    if (!stub().resource(RT_DIALOG, id, JAPANESE, &data)) {
        ADD_FAILURE() << "dialog " << id << " in language 1041 is missing";
        return DialogTemplate();
    }
    return parse_dialog(data);
}

void expect_control(const DialogControl& c, uint16_t id, const char* window_class, uint32_t style,
                    int x, int y, int width, int height, const std::string& text) {
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(c.id, id);
    EXPECT_EQ(c.window_class, window_class);
    EXPECT_EQ(c.style, style);
    EXPECT_EQ(c.extended_style, 0u);
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(c.width, width);
    EXPECT_EQ(c.height, height);
    EXPECT_EQ(c.text, text);
}

TEST(StubResources, DestinationDialog) {
    SKIP_WITHOUT_STUB();
    DialogTemplate d = dialog(103);
    EXPECT_EQ(d.style, 0x80C800C0u);
    EXPECT_EQ(d.extended_style, 0u);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.width, 187);
    EXPECT_EQ(d.height, 93);
    EXPECT_EQ(d.menu, "");
    EXPECT_EQ(d.window_class, "");
    EXPECT_EQ(d.caption, "Mavu SFX");
    EXPECT_EQ(d.font_size, 9);
    EXPECT_EQ(d.font, "ＭＳ Ｐゴシック");
    ASSERT_EQ(d.controls.size(), 8u);
    expect_control(d.controls[0], 0xFFFF, "STATIC", 0x50020000, 7, 6, 48, 8, "解凍先ﾌｫﾙﾀﾞ(&D)");
    expect_control(d.controls[1], 1000, "EDIT", 0x50810080, 7, 15, 142, 14, "");
    expect_control(d.controls[2], 1001, "BUTTON", 0x50010000, 152, 15, 28, 14, "参照(&R)");
    expect_control(d.controls[3], 1002, "BUTTON", 0x50010003, 7, 34, 80, 10, "ｽﾀｰﾄﾒﾆｭｰに登録する");
    expect_control(d.controls[4], 1003, "BUTTON", 0x50010003, 7, 46, 106, 10,
                   "ﾃﾞｽｸﾄｯﾌﾟにｼｮｰﾄｶｯﾄを作成する");
    expect_control(d.controls[5], 1004, "BUTTON", 0x50010003, 7, 58, 68, 10, "「送る」に登録する");
    expect_control(d.controls[6], 1, "BUTTON", 0x50010001, 75, 74, 50, 14, "OK");
    expect_control(d.controls[7], 2, "BUTTON", 0x50010000, 130, 74, 50, 14, "ｷｬﾝｾﾙ");
}

TEST(StubResources, CancelDialog) {
    SKIP_WITHOUT_STUB();
    DialogTemplate d = dialog(101);
    EXPECT_EQ(d.style, 0x50000044u);
    EXPECT_EQ(d.x, 31);
    EXPECT_EQ(d.y, 33);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 22);
    EXPECT_EQ(d.caption, "");
    EXPECT_EQ(d.font_size, 9);
    EXPECT_EQ(d.font, "ＭＳ Ｐゴシック");
    ASSERT_EQ(d.controls.size(), 1u);
    // The default button (BS_DEFPUSHBUTTON), so that Enter presses it as Escape does.
    expect_control(d.controls[0], 2, "BUTTON", 0x50010001, 7, 0, 50, 14, "中止");
}

// Icon group 102: one 32 x 32 image, PNG-compressed, icon resource 1.
TEST(StubResources, IconAndManifest) {
    SKIP_WITHOUT_STUB();
    std::vector<uint32_t> languages = stub().resource_languages(RT_GROUP_ICON, 102);
    ASSERT_EQ(languages.size(), 1u);
    Bytes group;
    ASSERT_TRUE(stub().resource(RT_GROUP_ICON, 102, languages[0], &group));
    ASSERT_EQ(group.size(), 6u + 14u);
    EXPECT_EQ(group[2] | group[3] << 8, 1);   // icons
    EXPECT_EQ(group[4] | group[5] << 8, 1);   // one image
    EXPECT_EQ(group[6], 32);
    EXPECT_EQ(group[7], 32);
    EXPECT_EQ(group[8], 0);                    // no palette count: not a bitmap
    EXPECT_EQ(group[18] | group[19] << 8, 1);  // icon resource 1
    Bytes icon;
    ASSERT_TRUE(stub().resource(RT_ICON, 1, languages[0], &icon));
    ASSERT_GE(icon.size(), 24u);
    EXPECT_EQ(std::string(icon.begin(), icon.begin() + 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(icon[19], 32u);  // IHDR: 32 x 32
    EXPECT_EQ(icon[23], 32u);
    EXPECT_EQ(group[14] | group[15] << 8 | group[16] << 16, (int)icon.size());

    languages = stub().resource_languages(RT_MANIFEST, 1);
    ASSERT_EQ(languages.size(), 1u);
    Bytes manifest;
    ASSERT_TRUE(stub().resource(RT_MANIFEST, 1, languages[0], &manifest));
    std::string text(manifest.begin(), manifest.end());
    // The level field of fixed width that make rewrites.
    EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\"           />"), std::string::npos);
    EXPECT_NE(text.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"),
              std::string::npos);
    // Windows 7 to 11; Vista reads no such list, and a system that knows its own and
    // older ones takes the newest listed, so Vista's entry would change nothing.
    EXPECT_EQ(text.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);
    for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(text.find(os), std::string::npos) << os;
}

uint32_t u32_at(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

// What the file's properties show: product, description and version, in Japanese.
TEST(StubResources, VersionInformation) {
    SKIP_WITHOUT_STUB();
    Bytes version;
    ASSERT_TRUE(stub().resource(RT_VERSION, 1, JAPANESE, &version));
    std::string text(version.begin(), version.end());
    size_t fixed = text.find(utf16("VS_VERSION_INFO"));
    ASSERT_NE(fixed, std::string::npos);
    fixed = (fixed + utf16("VS_VERSION_INFO").size() + 2 + 3) & ~(size_t)3;
    ASSERT_LE(fixed + 52, version.size());
    EXPECT_EQ(u32_at(version, fixed), 0xFEEF04BDu);
    EXPECT_EQ(u32_at(version, fixed + 8), 0x00010000u);   // file version 1.0
    EXPECT_EQ(u32_at(version, fixed + 12), 0u);           // .0.0
    EXPECT_EQ(u32_at(version, fixed + 16), 0x00010000u);  // product version 1.0
    for (const char* key : {"041104B0", "ProductName", "Mavu SFX", "FileDescription", "Translation"})
        EXPECT_NE(text.find(utf16(key)), std::string::npos) << key;
    // "LHA 自己解凍" in UTF-16
    EXPECT_NE(text.find(utf16("LHA ") + std::string("\xea\x81\xf1\x5d\xe3\x89\xcd\x51", 8)),
              std::string::npos);
    // The translation: language 0x0411, code page 1200.
    EXPECT_NE(text.find(std::string("\x11\x04\xb0\x04", 4)), std::string::npos);
}

// make sets the level that the installer's manifest requests, and list shows it:
// read back from the made file's own stub.
TEST(CombinedFile, ExecutionLevelSetByMake) {
    SKIP_WITHOUT_STUB();
    ScratchFolder scratch;
    const std::string out = scratch / "setup.exe";
    struct Case {
        std::vector<std::string> options;
        ExecutionLevel level;
    } cases[] = {
        {{"--dest", "Tool"}, LEVEL_AS_INVOKER},
        {{"--dest", "Tool", "--program-files"}, LEVEL_REQUIRE_ADMINISTRATOR},
        {{"--dest", "C:\\Program Files (x86)\\Tool"}, LEVEL_REQUIRE_ADMINISTRATOR},
        {{"--dest", "Tool", "--program-files", "--elevation", "highest"}, LEVEL_HIGHEST_AVAILABLE},
        {{"--dest", "Tool", "--program-files", "--elevation", "invoker"}, LEVEL_AS_INVOKER},
        {{"--no-config", "--elevation", "admin"}, LEVEL_REQUIRE_ADMINISTRATOR},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"make", "--stub", MAVUSFX_STUB, "--archive",
                                         corpus_path("lh0_level2.lzh"), "-o", out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        SCOPED_TRACE(args.back());
        ToolRun made = run_tool(args);
        ASSERT_EQ(made.status, 0) << made.output();
        Bytes combined = read_file(out);
        ASSERT_GT(combined.size(), stub().bytes().size());
        uint32_t stub_size = (uint32_t)stub().bytes().size();
        EXPECT_EQ(read_execution_level(combined.data(), stub_size), c.level);
        // Only the field changed: the stub keeps its size and every other byte.
        Bytes made_stub(combined.begin(), combined.begin() + stub_size), original = stub().bytes();
        size_t differing = 0;
        for (size_t i = 0; i < original.size(); i++) differing += made_stub[i] != original[i];
        EXPECT_LE(differing, 21u);
        ToolRun listed = run_tool({"list", out});
        EXPECT_NE(listed.out.find(std::string("  elevation:      ") + execution_level_name(c.level) + "\n"),
                  std::string::npos)
            << listed.out;
    }
    ToolRun refused = run_tool({"make", "--stub", MAVUSFX_STUB, "--archive",
                                corpus_path("lh0_level2.lzh"), "-o", out, "--elevation", "root"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--elevation takes invoker, highest or admin"), std::string::npos);
}

// The stub's own reading: the block where the image ends, then the archive right
// behind it, extracted by the worker's loop.
TEST(CombinedFile, BlockAndArchiveBehindTheStub) {
    SKIP_WITHOUT_STUB();
    SfxConfig c = {};
    c.present = 1;
    c.title_length = 4;
    memcpy(c.title, "\x83\x65\x83\x58", 4);  // テス
    c.under_program_files = 1;
    c.dest_length = 9;
    memcpy(c.dest_name, "D:\\Apps\\T", 9);
    c.target_length = 5;
    memcpy(c.shortcut_target, "t.exe", 5);
    c.start_menu_option = 3;
    c.desktop_option = 1;
    c.send_to_option = 2;
    uint8_t block[1100];
    uint32_t block_size = write_config_block(&c, block);

    ScratchFolder scratch;
    Bytes combined = stub().bytes();
    combined.insert(combined.end(), block, block + block_size);
    Bytes archive = read_file(corpus_path("lh0_level2.lzh"));
    combined.insert(combined.end(), archive.begin(), archive.end());
    write_file(scratch / "setup.exe", combined);

    SfxApp app;
    init_app(&app, nullptr);
    app.run.archive_file = fopen((scratch / "setup.exe").c_str(), "rb");
    ASSERT_NE(app.run.archive_file, nullptr);
    uint8_t head[4096];
    ASSERT_EQ(fread(head, 1, sizeof head, app.run.archive_file), sizeof head);
    uint32_t image_end = pe_image_end(head, sizeof head);
    ASSERT_EQ(image_end, stub().bytes().size());
    ASSERT_EQ(fseek(app.run.archive_file, (long)image_end, SEEK_SET), 0);
    ASSERT_TRUE(read_config(&app));
    EXPECT_STREQ(app.title, "\x83\x65\x83\x58");
    EXPECT_STREQ(app.run.dest_folder, "D:\\Apps\\T");
    EXPECT_STREQ(app.shortcut_target, "t.exe");
    EXPECT_STREQ(app.launch_target, "");
    EXPECT_EQ(app.config.start_menu_option, 3);
    EXPECT_EQ(app.config.desktop_option, 1);
    EXPECT_EQ(app.config.send_to_option, 2);
    EXPECT_EQ(app.has_config, 1);
    EXPECT_EQ(ftell(app.run.archive_file), (long)(image_end + block_size));

    ReportRecorder recorder;
    app.run.test_only = 1;
    run_extraction(&app.run);
    EXPECT_EQ(app.run.outcome.failure_count, 0u);
    EXPECT_EQ(recorder.members.size(), 9u);
    EXPECT_FALSE(recorder.cancelled);
    release_app(&app);
}

}  // namespace
