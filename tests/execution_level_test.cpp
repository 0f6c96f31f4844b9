// The execution level field of the stub's manifest: which level a destination
// needs, and the field read and rewritten in place in an image.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"
#include "tools/execution_level.h"

namespace {

TEST(ExecutionLevel, ProgramFilesNeedsTheAdministrator) {
    EXPECT_EQ(level_for_destination(true, "Tool"), LEVEL_REQUIRE_ADMINISTRATOR);
    EXPECT_EQ(level_for_destination(false, "Tool"), LEVEL_AS_INVOKER);
    // An empty name is the current folder, whatever the flag says; a drive makes
    // the flag void.
    EXPECT_EQ(level_for_destination(true, ""), LEVEL_AS_INVOKER);
    EXPECT_EQ(level_for_destination(true, nullptr), LEVEL_AS_INVOKER);
    EXPECT_EQ(level_for_destination(true, "D:\\Apps\\Tool"), LEVEL_AS_INVOKER);
    // Named there with its drive, in any case, the x86 folder too.
    EXPECT_EQ(level_for_destination(false, "C:\\Program Files\\Tool"), LEVEL_REQUIRE_ADMINISTRATOR);
    EXPECT_EQ(level_for_destination(false, "d:/program files"), LEVEL_REQUIRE_ADMINISTRATOR);
    EXPECT_EQ(level_for_destination(false, "C:\\Program Files (x86)\\Tool"),
              LEVEL_REQUIRE_ADMINISTRATOR);
    EXPECT_EQ(level_for_destination(false, "C:\\Program Filesystem\\Tool"), LEVEL_AS_INVOKER);
    EXPECT_EQ(level_for_destination(false, "C:\\Apps\\Program Files"), LEVEL_AS_INVOKER);
}

TEST(ExecutionLevel, WordsOfTheOption) {
    ExecutionLevel level = LEVEL_NONE;
    EXPECT_TRUE(parse_execution_level("highest", &level));
    EXPECT_EQ(level, LEVEL_HIGHEST_AVAILABLE);
    EXPECT_TRUE(parse_execution_level("admin", &level));
    EXPECT_EQ(level, LEVEL_REQUIRE_ADMINISTRATOR);
    EXPECT_TRUE(parse_execution_level("invoker", &level));
    EXPECT_EQ(level, LEVEL_AS_INVOKER);
    EXPECT_FALSE(parse_execution_level("asInvoker", &level));
    EXPECT_FALSE(parse_execution_level("", &level));
}

Bytes image_with(const std::string& manifest) {
    std::string all = std::string(64, '\xCC') + manifest + std::string(64, '\xCC');
    return Bytes(all.begin(), all.end());
}

const char FIELD_START[] = "<trustInfo><requestedExecutionLevel level=\"";

// Each level written over each other one: the field keeps its width, nothing
// around it moves, and what is written is read back.
TEST(ExecutionLevel, RewrittenInPlaceAndReadBack) {
    Bytes image = image_with(std::string(FIELD_START) + "asInvoker\"           /></trustInfo>");
    const Bytes original = image;
    EXPECT_EQ(read_execution_level(image.data(), (uint32_t)image.size()), LEVEL_AS_INVOKER);
    for (ExecutionLevel level : {LEVEL_REQUIRE_ADMINISTRATOR, LEVEL_HIGHEST_AVAILABLE, LEVEL_AS_INVOKER}) {
        SCOPED_TRACE(execution_level_name(level));
        ASSERT_TRUE(write_execution_level(image.data(), (uint32_t)image.size(), level));
        EXPECT_EQ(read_execution_level(image.data(), (uint32_t)image.size()), level);
        ASSERT_EQ(image.size(), original.size());
        std::string text(image.begin() + 64, image.end() - 64);
        std::string expected = std::string(FIELD_START) + execution_level_name(level) + "\"";
        expected += std::string(21 + strlen(FIELD_START) - expected.size(), ' ') + "/></trustInfo>";
        EXPECT_EQ(text, expected);
    }
    EXPECT_EQ(image, original);
}

TEST(ExecutionLevel, ImagesWithoutAWellFormedField) {
    // No manifest at all, a level written without the padding, padding that is cut
    // short by the end of the image, and an unknown level.
    for (std::string manifest :
         {std::string("no manifest here"), std::string(FIELD_START) + "asInvoker\"/>",
          std::string(FIELD_START) + "asInvoker\"    ",
          std::string(FIELD_START) + "asAnybody\"           />"}) {
        SCOPED_TRACE(manifest);
        Bytes image(manifest.begin(), manifest.end());
        EXPECT_EQ(read_execution_level(image.data(), (uint32_t)image.size()), LEVEL_NONE);
    }
    Bytes bare = image_with("no manifest here");
    const Bytes original = bare;
    EXPECT_FALSE(write_execution_level(bare.data(), (uint32_t)bare.size(), LEVEL_REQUIRE_ADMINISTRATOR));
    EXPECT_EQ(bare, original);
}

// A stub without the field (not one of this project's) is joined as it is, with a
// word that it will not ask for the administrator.
TEST(ExecutionLevel, StubWithoutTheFieldIsJoinedWithAWarning) {
    ScratchFolder scratch;
    write_file(scratch / "stub.exe", fake_pe({{0x200, 0x200}}, 0x200));
    TestMember member;
    member.name = "a.txt";
    member.data = Bytes(10, 'a');
    write_file(scratch / "a.lzh", build_archive({member}));
    ToolRun run = run_tool({"make", "--stub", scratch / "stub.exe", "--archive", scratch / "a.lzh",
                            "-o", scratch / "out.exe", "--dest", "Tool", "--program-files"});
    EXPECT_EQ(run.status, 0) << run.output();
    EXPECT_NE(run.err.find("has no execution level in its manifest: the installer runs as the "
                           "invoker, not requireAdministrator"),
              std::string::npos)
        << run.err;
    ToolRun quiet = run_tool({"make", "--stub", scratch / "stub.exe", "--archive", scratch / "a.lzh",
                              "-o", scratch / "out.exe", "--dest", "Tool"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

}  // namespace
