// Names Windows cannot hold: refused wherever they stand in the path, with the
// Shift-JIS lead-byte rule deciding what a byte is.
#include <string>

#include <gtest/gtest.h>

#include "engine/windows_names.h"

namespace {

const char* problem(const std::string& path) { return windows_name_problem(path.data(), path.size()); }

TEST(WindowsNames, OrdinaryNamesPass) {
    for (const char* path : {"readme.txt", "bin/tool.exe", "dir/", "a\\b\\c", "cond/x", "console",
                             "COM0", "lpt10.txt", "nul_", ".profile", "./a", "a..b", "CONOUT"})
        EXPECT_EQ(problem(path), nullptr) << path;
}

TEST(WindowsNames, DeviceNamesAreRefusedInAnyComponentAndCase) {
    for (const char* path : {"CON", "nul.txt", "sub/AUX", "com1", "LPT9.log", "a/Prn/b", "nul .txt",
                             "conin$", "CONOUT$.x"})
        EXPECT_STREQ(problem(path), "a device name") << path;
}

TEST(WindowsNames, ForbiddenAndControlBytesAndTrailingDotsOrSpaces) {
    EXPECT_NE(problem("ab:c"), nullptr);
    EXPECT_NE(problem("a/b:c/d"), nullptr);
    for (const char* path : {"q?", "a*", "x<y", "x>y", "a\"b", "a|b"}) EXPECT_NE(problem(path), nullptr) << path;
    EXPECT_STREQ(problem("a\x1b[2Jb"), "a control character");
    EXPECT_STREQ(problem(std::string("a\0/../../x", 10)), "a NUL byte");
    EXPECT_STREQ(problem("name."), "a name ending in a dot or a space");
    EXPECT_STREQ(problem("dir /x"), "a name ending in a dot or a space");
}

TEST(WindowsNames, TrailBytesBelongToTheirCharacter) {
    EXPECT_EQ(problem("\x83\x7C.txt"), nullptr);           // ポ: trail byte 0x7C is not '|'
    EXPECT_EQ(problem("\x95\x5C/\x83\x5C\x83t\x83g"), nullptr);  // 表/ソフト: 0x5C trail bytes
    EXPECT_NE(problem("a\x7C"), nullptr);                 // ... but a lone 0x7C is
    // A trail byte is 0x40 or above and a lead byte 0x81 or above: what follows a
    // lead byte otherwise, or 0x80, is a character of its own.
    for (const char* path : {"a\x80:evil", "a\x80\\CON", "\x83?", "\x81\x7F|", "d\x80\\x."})
        EXPECT_NE(problem(path), nullptr) << path;
}

}  // namespace
