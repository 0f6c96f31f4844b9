// The stub the tool carries: make uses it when no --stub is given, --stub overrides
// it, and a tool that carries none says so.  A signed stub is refused with the
// advice to sign after make.

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"
#include "tools/embedded_stub.h"
#include "tools/tool.h"

namespace {

class EmbeddedStub : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::string archive = scratch / "a.lzh";
    std::string out = scratch / "setup.exe";

    void SetUp() override {
        TestMember one;
        one.name = "one.txt";
        one.level = 2;
        one.data = Bytes(700, 'a');
        write_file(archive, build_archive({one}));
    }
    bool starts_with(const Bytes& file, const Bytes& head) {
        return file.size() > head.size() && std::equal(head.begin(), head.end(), file.begin());
    }
};

TEST_F(EmbeddedStub, MakeUsesTheCarriedStubUnlessStubIsGiven) {
    uint32_t size = 0;
    const uint8_t* carried = embedded_stub(&size);
    const std::string built = MAVUSFX_STUB;
    if (built.empty()) {
        EXPECT_EQ(carried, nullptr);
        ToolRun run = run_tool({"make", "--archive", archive, "-o", out});
        EXPECT_EQ(run.status, EXIT_USAGE);
        EXPECT_NE(run.err.find("no stub"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--stub"), std::string::npos) << run.err;
        EXPECT_FALSE(file_exists(out));
    } else {
        // The tool carries exactly the stub this build was given or built.
        ASSERT_NE(carried, nullptr);
        const Bytes stub = read_file(built);
        ASSERT_EQ(Bytes(carried, carried + size), stub);
        ToolRun run = run_tool({"make", "--archive", archive, "-o", out, "--title", "既定"});
        ASSERT_EQ(run.status, 0) << run.output();
        EXPECT_TRUE(starts_with(read_file(out), stub));
        ToolRun test = run_tool({"test", out});
        EXPECT_EQ(test.status, 0) << test.output();
    }

    Bytes other = fake_pe({{0x200, 0x200}}, 0x200);
    write_file(scratch / "other.exe", other);
    ToolRun given = run_tool({"make", "--stub", scratch / "other.exe", "--archive", archive, "-o", out});
    ASSERT_EQ(given.status, 0) << given.output();
    Bytes made = read_file(out);
    EXPECT_TRUE(starts_with(made, other));
    EXPECT_EQ(made[other.size()], 1);  // the block follows the given stub's image
}

}  // namespace
