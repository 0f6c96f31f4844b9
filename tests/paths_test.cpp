// Folder creation with its shell announcements, the Shift-JIS-aware separator
// helpers, and the refusal of member paths that would leave the destination.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/member_folders.h"
#include "engine/output_file.h"
#include "engine/path_text.h"
#include "engine/shell_notices.h"
#include "engine/unsafe_member_path.h"
#include "platform/system_services.h"
#include "tests/support/test_support.h"

namespace {

struct PathsTest : ::testing::Test {
    ScratchFolder scratch;
    ReportRecorder recorder;
    char dest[8] = "C:\\Dest";
    ExtractionRun run = {};
    void SetUp() override { run.dest_folder = dest; }
    std::vector<std::string> made_folders() const {
        std::vector<std::string> out;
        for (const auto& n : recorder.notices)
            if (n.event == SHELL_FOLDER_MADE) out.push_back(n.path);
        return out;
    }
};

TEST_F(PathsTest, OpeningAFileMakesAndAnnouncesEachFolderAndSettlesUnderItsName) {
    char path[] = "a/b/c.txt";
    OutputFile output;
    ASSERT_EQ(open_output_file(path, false, &output), NO_FAILURE);
    EXPECT_STREQ(path, "a/b/c.txt");  // cut while walked, mended
    fputs("data", output.file);
    EXPECT_EQ(close_output_file(output.file), 0);
    EXPECT_TRUE(file_exists("a/b/mavusfx~0.tmp"));
    EXPECT_EQ(made_folders(), (std::vector<std::string>{"a", "a/b"}));
    ASSERT_TRUE(settle_output_file(&output, true, 1000000000));
    EXPECT_FALSE(file_exists("a/b/mavusfx~0.tmp"));
    EXPECT_EQ(read_file("a/b/c.txt"), bytes_of("data"));
    struct stat st;
    ASSERT_EQ(stat("a/b/c.txt", &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);

    char other[] = "a//d/e.txt";  // an empty component names nothing
    ASSERT_EQ(open_output_file(other, false, &output), NO_FAILURE);
    close_output_file(output.file);
    EXPECT_FALSE(settle_output_file(&output, false, 0));
    EXPECT_FALSE(file_exists("a/d/mavusfx~0.tmp"));
    EXPECT_FALSE(file_exists("a/d/e.txt"));
    EXPECT_EQ(made_folders(), (std::vector<std::string>{"a", "a/b", "a//d"}));
}

// A member whose own name is as long as a name may be (255 bytes here) still has a
// temporary name beside it.
TEST_F(PathsTest, ANameOfTheLongestLengthStillHasATemporaryName) {
    std::string name = "f/" + std::string(255, 'n');
    std::vector<char> path(name.begin(), name.end());
    path.push_back(0);
    OutputFile output;
    ASSERT_EQ(open_output_file(path.data(), false, &output), NO_FAILURE);
    close_output_file(output.file);
    ASSERT_TRUE(settle_output_file(&output, true, 0));
    EXPECT_TRUE(file_exists(name));
}

TEST_F(PathsTest, AFolderThatIsALinkOrAFileIsNeverWalkedThrough) {
    ASSERT_EQ(mkdir("outside", 0777), 0);
    ASSERT_EQ(symlink("outside", "link"), 0);
    write_file("file", {1});
    char through_link[] = "link/x.txt", through_file[] = "file/x.txt";
    OutputFile output;
    EXPECT_EQ(open_output_file(through_link, false, &output), FAILED_LINK_IN_PATH);
    EXPECT_EQ(open_output_file(through_file, false, &output), FAILED_CANNOT_CREATE);
    EXPECT_FALSE(file_exists("outside/mavusfx~0.tmp"));
    EXPECT_EQ(read_file("file"), Bytes{1});
}

TEST_F(PathsTest, FolderCreationEdges) {
    EXPECT_FALSE(make_parent_folders(&run, "plain.txt"));
    EXPECT_FALSE(make_parent_folders(&run, "/rooted"));
    EXPECT_TRUE(recorder.notices.empty());

    EXPECT_TRUE(make_parent_folders(&run, "x/y/z/"));
    EXPECT_TRUE(folder_exists("x/y/z"));
    EXPECT_TRUE(make_parent_folders(&run, "x/y/z/"));  // already there

    write_file("blocker", {1});
    EXPECT_FALSE(make_parent_folders(&run, "blocker/inside.txt"));
    EXPECT_EQ(read_file("blocker"), Bytes{1});
}

TEST(Separators, AppendBackslashRespectsShiftJis) {
    char text[16];
    strcpy(text, "");
    append_backslash(text);
    EXPECT_STREQ(text, "");
    strcpy(text, "C:\\Apps");
    append_backslash(text);
    EXPECT_STREQ(text, "C:\\Apps\\");
    append_backslash(text);
    EXPECT_STREQ(text, "C:\\Apps\\");
    strcpy(text, "\\");
    append_backslash(text);
    EXPECT_STREQ(text, "\\");
    strcpy(text, "C:\\\x95\x5C");  // ends in a character whose second byte is 0x5C
    append_backslash(text);
    EXPECT_STREQ(text, "C:\\\x95\x5C\\");
    strcpy(text, "\xB1\\");  // half-width katakana is a single byte
    append_backslash(text);
    EXPECT_STREQ(text, "\xB1\\");
    strcpy(text, "d\x80\\");  // 0x80 is no lead byte
    append_backslash(text);
    EXPECT_STREQ(text, "d\x80\\");
    strcpy(text, "\x81\x95\\");  // 0x95 is the trail of 0x81 here, not a lead byte
    append_backslash(text);
    EXPECT_STREQ(text, "\x81\x95\\");
}

TEST(Separators, ConvertSeparatorsRespectsShiftJis) {
    char text[32];
    strcpy(text, "sub\xFF" "dir\xFF");
    convert_separators(text, '/');
    EXPECT_STREQ(text, "sub/dir/");
    strcpy(text, "a\\b/\x95\x5C\xFF");
    convert_separators(text, '/');
    EXPECT_STREQ(text, "a/b/\x95\x5C/");
    strcpy(text, "\x95");  // a lead byte at the very end stops the walk
    convert_separators(text, '/');
    EXPECT_STREQ(text, "\x95");
    strcpy(text, "d\x80\\x\x81\xFFy");  // 0x80 is no lead byte; 0xFF is no trail byte
    convert_separators(text, '/');
    EXPECT_STREQ(text, "d\x80/x\x81/y");
}

// A folder's files are announced once for each run of them, by the folder.  The
// order within a whole archive is pinned in the extraction loop's tests.
TEST_F(PathsTest, FilesAreAnnouncedByTheirFolderOnceForEachRun) {
    for (const char* name : {"top.txt", "x/1.txt", "x/2.txt", "x/y/3.txt", "x/4.txt", "top2.txt"})
        notify_file_written(&run, name);
    std::string long_folder(250, 'n');
    notify_file_written(&run, (long_folder + "/f.txt").c_str());
    finish_shell_notices(&run);
    finish_shell_notices(&run);  // nothing left to announce
    std::vector<std::string> updated;
    for (const auto& n : recorder.notices) {
        EXPECT_EQ(n.event, SHELL_FOLDER_UPDATED);
        updated.push_back(n.path);
    }
    EXPECT_EQ(updated, (std::vector<std::string>{".", "./x", "./x/y", "./x", ".", "./" + long_folder}));
}

TEST(UnsafePaths, AbsoluteAndClimbingPathsAreRefused) {
    for (const char* bad : {"//etc/passwd", "/\\x", "\\x", "C:\\x", "c:x", "..", "../x", "a/../../x",
                            "/../x", "a\\..\\x", "a/.../x", "a/. ./x", "x/..", "d\x80\\..\\..\\x",
                            "\x81/../x"})
        EXPECT_TRUE(is_unsafe_member_path(bad)) << bad;
    for (const char* good : {"a", "/a/b.txt", "a/b/", "..a", "a..", "a/.b/c", ".", "a/./b",
                             "\x95\x5C..", "dir/\x81\x5C/x"})
        EXPECT_FALSE(is_unsafe_member_path(good)) << good;
}

}  // namespace
