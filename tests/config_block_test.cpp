// The configuration block: its fields, blocks cut short, and how the destination is
// composed from them.
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "frontend/config_block.h"
#include "platform/system_services.h"
#include "tests/support/test_support.h"

namespace {

struct Block {
    bool ok;
    SfxApp app;
    long position;
};

// Reads a block followed by one archive byte (0x5A) and keeps the record in `b`, where
// its texts point into it.
void read_block(Block& b, const Bytes& block) {
    FILE* file = tmpfile();
    fwrite(block.data(), 1, block.size(), file);
    fputc(0x5A, file);
    rewind(file);
    init_app(&b.app, nullptr);
    b.app.run.archive_file = file;
    b.ok = read_config(&b.app);
    b.position = ftell(file);
}

Bytes typical_block() {
    SfxConfig c = {};
    c.present = 1;
    c.title_length = 13;
    memcpy(c.title, "Sample Setup!", 13);
    c.under_program_files = 1;
    c.target_length = 8;
    memcpy(c.shortcut_target, "tool.exe", 8);
    c.start_menu_option = 1;
    c.desktop_option = 1;
    uint8_t out[1100];
    return Bytes(out, out + write_config_block(&c, out));
}

TEST(ConfigBlock, TypicalBlockOfThirtyBytes) {
    Bytes block = typical_block();
    ASSERT_EQ(block.size(), 30u);
    Block b;
    read_block(b, block);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.position, 30);  // standing on the archive
    EXPECT_STREQ(b.app.title, "Sample Setup!");
    char here[PATH_BUFFER_SIZE];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    EXPECT_STREQ(b.app.run.dest_folder, here);  // empty name: Program Files has no effect
    EXPECT_STREQ(b.app.shortcut_target, "tool.exe");
    EXPECT_STREQ(b.app.launch_target, "");
    EXPECT_EQ(b.app.config.start_menu_option, 1);
    EXPECT_EQ(b.app.config.send_to_option, 0);
    EXPECT_EQ(b.app.has_config, 1);
    release_app(&b.app);
}

TEST(ConfigBlock, AbsentConfigurationAndEmptyTitle) {
    Block b;
    read_block(b, {0});
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.position, 1);
    EXPECT_STREQ(b.app.title, "Mavu SFX");
    char here[PATH_BUFFER_SIZE];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    EXPECT_STREQ(b.app.run.dest_folder, here);
    EXPECT_EQ(b.app.shortcut_target, nullptr);
    EXPECT_EQ(b.app.launch_target, nullptr);
    EXPECT_EQ(b.app.has_config, 0);
    release_app(&b.app);

    Bytes other_present = typical_block();
    other_present[0] = 0xFF;  // any non-zero value means a block follows
    Block c;
    read_block(c, other_present);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.app.has_config, 1);
    release_app(&c.app);

    Block empty_title;
    read_block(empty_title, {1, 0, 0, 0, 0, 3, 3, 3, 0});  // a block, its title empty
    ASSERT_TRUE(empty_title.ok);
    EXPECT_EQ(empty_title.position, 9);  // its zero fields do not end it early
    EXPECT_STREQ(empty_title.app.title, "Mavu SFX");
    EXPECT_EQ(empty_title.app.config.desktop_option, 3);
    release_app(&empty_title.app);
}

TEST(ConfigBlock, BlockCutShortAnywhereFails) {
    Bytes block = typical_block();
    block.back() = 4;  // a launch target of four bytes
    for (const char c : std::string("a.ex")) block.push_back((uint8_t)c);
    for (size_t cut = 0; cut < block.size(); cut++) {
        FILE* file = tmpfile();
        fwrite(block.data(), 1, cut, file);
        rewind(file);
        SfxApp app;
        init_app(&app, nullptr);
        app.run.archive_file = file;
        EXPECT_FALSE(read_config(&app)) << cut;
        EXPECT_EQ(app.has_config, 0) << cut;
        release_app(&app);
    }
}

TEST(Destination, Composition) {
    char out[PATH_BUFFER_SIZE];
    ASSERT_TRUE(compose_destination("D:\\Apps\\Tool", true, "C:\\Windows", "C:\\Work", out, sizeof out));
    EXPECT_STREQ(out, "D:\\Apps\\Tool");
    ASSERT_TRUE(compose_destination("Tool", true, "C:\\Windows", "E:\\Work", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Program Files\\Tool");
    ASSERT_TRUE(compose_destination("Tool", false, "C:\\Windows", "C:\\Work", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Work\\Tool");
    ASSERT_TRUE(compose_destination("Tool", false, "C:\\Windows", "C:\\", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Tool");
    ASSERT_TRUE(compose_destination("\\Tool", false, "C:\\Windows", "C:\\Work", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Work\\\\Tool");  // a leading backslash is joined unchanged
    ASSERT_TRUE(compose_destination("\x95\x5C", false, "C:\\Windows", "C:\\\x95\x5C", out, sizeof out));
    EXPECT_STREQ(out, "C:\\\x95\x5C\\\x95\x5C");
}

// The reader composes in whatever a folder query leaves behind: a folder that does
// not fit comes back empty, never as a cut or stale text.
TEST(Destination, FolderNotGivenComesBackEmpty) {
    char out[19];
    memset(out, 'x', sizeof out);
    EXPECT_FALSE(platform_system_folder(out, sizeof out));  // "C:\Windows\System32" needs 20
    EXPECT_STREQ(out, "");
    char one[1] = {'x'};
    EXPECT_FALSE(platform_current_folder(one, sizeof one));
    EXPECT_EQ(one[0], 0);
    char full[PATH_BUFFER_SIZE];
    EXPECT_TRUE(platform_system_folder(full, sizeof full));
    EXPECT_STREQ(full, "C:\\Windows\\System32");
    EXPECT_TRUE(platform_current_folder(full, sizeof full));
    EXPECT_EQ(full[0], '/');
}

TEST(Destination, TooLongIsRefusedNotOverrun) {
    char out[PATH_BUFFER_SIZE + 8];
    memset(out, 0x7E, sizeof out);
    std::string name(200, 'n');
    std::string folder = "C:\\" + std::string(100, 'w');
    EXPECT_FALSE(compose_destination(name.c_str(), false, "C:\\Windows", folder.c_str(), out, PATH_BUFFER_SIZE));
    for (size_t i = PATH_BUFFER_SIZE; i < sizeof out; i++) EXPECT_EQ(out[i], 0x7E);
    std::string fits(259 - 17, 'f');  // "C:\Program Files\" is 17 bytes
    EXPECT_TRUE(compose_destination(fits.c_str(), true, "C:\\Windows", "", out, PATH_BUFFER_SIZE));
    EXPECT_EQ(strlen(out), 259u);
    fits += 'x';
    EXPECT_FALSE(compose_destination(fits.c_str(), true, "C:\\Windows", "", out, PATH_BUFFER_SIZE));

    SfxConfig c = {};  // and through the reader: start-up fails as for a short block
    c.present = 1;
    c.dest_length = 255;
    memset(c.dest_name, 'n', 255);
    uint8_t raw[1100];
    Bytes block(raw, raw + write_config_block(&c, raw));
    Block b;
    read_block(b, block);
    EXPECT_FALSE(b.ok);
    release_app(&b.app);
}

}  // namespace
