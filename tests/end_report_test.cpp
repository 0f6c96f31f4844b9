// The end-of-run report's text, composed from the run outcome that the engine
// fills through record_failure.
#include <string>

#include <gtest/gtest.h>

#include "frontend/end_report.h"
#include "tests/support/test_support.h"

namespace {

// "一部のファイルを正しく展開できませんでした" and "…" in Shift-JIS.
const std::string SENTENCE =
    "\x88\xea\x95\x94\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x90\xb3\x82\xb5"
    "\x82\xad\x93\x57\x8a\x4a\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5"
    "\x82\xbd";
const std::string ELLIPSIS = "\x81\x63";

struct Outcome {
    SfxApp app;
    Outcome() { init_app(&app, nullptr); }
    ~Outcome() { release_app(&app); }
    void fail(const char* name, FailureKind kind) { record_failure(&app.run, name, kind); }
    std::string report(unsigned size = END_REPORT_SIZE) {
        std::string text(size, '\x7f');
        compose_end_report(&app.run.outcome, &text[0], size);
        return text.substr(0, text.find('\0'));
    }
};

TEST(EndReport, NamesEachFailedMemberOnItsOwnLine) {
    Outcome o;
    EXPECT_FALSE(run_has_failures(&o.app.run.outcome));
    o.fail("data/bad.bin", FAILED_CRC_MISMATCH);
    o.fail("\x93\xfa\x96\x7b\x8c\xea/\x95\x5c.txt", FAILED_DAMAGED);  // 日本語/表.txt
    EXPECT_TRUE(run_has_failures(&o.app.run.outcome));
    EXPECT_EQ(o.report(), SENTENCE + "\ndata/bad.bin\n\x93\xfa\x96\x7b\x8c\xea/\x95\x5c.txt");
}

TEST(EndReport, TenNamesAtMostThenAnEllipsis) {
    for (int count : {10, 11, 12}) {
        Outcome o;
        std::string expected = SENTENCE;
        for (int i = 0; i < count; i++) {
            std::string name = "member" + std::to_string(i);
            o.fail(name.c_str(), FAILED_CRC_MISMATCH);
            if (i < 10) expected += "\n" + name;
        }
        EXPECT_EQ(o.report(), count > 10 ? expected + "\n" + ELLIPSIS : expected) << count;
    }
}

// A run refused before anything was written has one sentence that says why, and no
// names: a damaged, cut or missing archive, or a destination without room.
TEST(EndReport, ARefusedRunIsOneSentence) {
    const std::string cut_short =
        "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x89\xf3\x82\xea\x82\xc4\x82\xa2\x82\xe9"
        "\x82\xa9\x81\x41\x93\x72\x92\x86\x82\xdc\x82\xc5\x82\xb5\x82\xa9\x82\xa0\x82\xe8"
        "\x82\xdc\x82\xb9\x82\xf1\x81\x42\x82\xe0\x82\xa4\x88\xea\x93\x78\x93\xfc\x8e\xe8"
        "\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";  // ファイルが壊れているか、…
    const std::string no_space =
        "\x83\x66\x83\x42\x83\x58\x83\x4e\x82\xcc\x8b\xf3\x82\xab\x97\x65\x97\xca\x82\xaa"
        "\x91\xab\x82\xe8\x82\xdc\x82\xb9\x82\xf1";  // ディスクの空き容量が足りません
    const std::string not_writable =
        "\x93\x57\x8a\x4a\x90\xe6\x82\xcc\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xc9\x8f\x91"
        "\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";  // 展開先のフォルダに書き込めません
    for (FailureKind kind :
         {ARCHIVE_DAMAGED, ARCHIVE_CUT_SHORT, ARCHIVE_NOT_LHA, ARCHIVE_NO_SPACE, ARCHIVE_NOT_WRITABLE}) {
        Outcome o;
        o.fail(nullptr, kind);
        EXPECT_TRUE(run_has_failures(&o.app.run.outcome));
        EXPECT_EQ(o.report(), kind == ARCHIVE_NO_SPACE       ? no_space
                              : kind == ARCHIVE_NOT_WRITABLE ? not_writable
                                                             : cut_short)
            << kind;
    }
}

TEST(EndReport, LongestReportFitsAndASmallBufferIsCutSafely) {
    Outcome o;
    std::string long_name(PATH_BUFFER_SIZE - 1, 'x');
    for (int i = 0; i < 11; i++) o.fail(long_name.c_str(), FAILED_DAMAGED);
    std::string full = o.report();
    EXPECT_EQ(full.size(), SENTENCE.size() + 10 * (1 + long_name.size()) + 1 + ELLIPSIS.size());
    EXPECT_EQ(o.report(20), SENTENCE.substr(0, 19));
}

}  // namespace
