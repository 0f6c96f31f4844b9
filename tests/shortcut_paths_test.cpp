// The paths of the shortcut files, their targets and the launch.
#include <string>

#include <gtest/gtest.h>

#include "frontend/run_record.h"
#include "frontend/shortcut_paths.h"

namespace {

std::string name_of(const char* path) {
    char out[PATH_BUFFER_SIZE];
    file_name_part(path, out, sizeof out);
    return out;
}

TEST(ShortcutPaths, FileNamePartDropsFolderAndExtension) {
    EXPECT_EQ(name_of("bin\\tool.exe"), "tool");
    EXPECT_EQ(name_of("bin/tool.exe"), "tool");
    EXPECT_EQ(name_of("C:tool.exe"), "tool");
    EXPECT_EQ(name_of("tool.setup.exe"), "tool.setup");
    EXPECT_EQ(name_of("v1.2\\tool"), "tool");
    EXPECT_EQ(name_of(""), "");
    // 表 and ソ end in 0x5C: inside a character it is no separator.
    EXPECT_EQ(name_of("\x83\x5c\x83\x74\x83\x67\\\x95\x5c.exe"), "\x95\x5c");
    EXPECT_EQ(name_of("bin\x80\\tool.exe"), "tool");  // 0x80 is a character of its own
}

TEST(ShortcutPaths, LinkTargetAndLaunchPath) {
    char out[PATH_BUFFER_SIZE];
    ASSERT_TRUE(compose_link_path("C:\\Users\\me\\Desktop", "bin\\tool.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Users\\me\\Desktop\\tool.lnk");
    ASSERT_TRUE(compose_link_target("C:\\Apps\\Tool", "bin\\tool.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Apps\\Tool\\bin\\tool.exe");

    // At a drive root the link target gets no second backslash; the launch does.
    ASSERT_TRUE(compose_link_target("C:\\", "tool.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\tool.exe");
    ASSERT_TRUE(compose_launch_path("C:\\", "tool.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\\\tool.exe");

    // An empty shortcut target: the link is ".lnk", pointing at the folder.
    ASSERT_TRUE(compose_link_path("D:\\Links", "", out, sizeof out));
    EXPECT_STREQ(out, "D:\\Links\\.lnk");
    ASSERT_TRUE(compose_link_target("C:\\Apps", "", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Apps\\");

    // A destination ending in 0x5C as a trail byte (ソ) still gets its backslash.
    ASSERT_TRUE(compose_link_target("C:\\\x83\x5c", "a.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\\x83\x5c\\a.exe");
}

TEST(ShortcutPaths, TooLongIsRefusedNotCut) {
    std::string folder = "C:\\" + std::string(250, 'f');
    char out[PATH_BUFFER_SIZE];
    EXPECT_FALSE(compose_launch_path(folder.c_str(), "program.exe", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(compose_link_target(folder.c_str(), "program.exe", out, sizeof out));
    EXPECT_FALSE(compose_link_path(folder.c_str(), "program.exe", out, sizeof out));
    std::string longest(PATH_BUFFER_SIZE - 1, 'g');
    EXPECT_FALSE(compose_link_target(longest.c_str(), "", out, sizeof out));
    EXPECT_TRUE(compose_launch_path(folder.c_str(), "p", out, sizeof out));
}

}  // namespace
