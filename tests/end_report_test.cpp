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

// The damaged archive is a failure without a name: it alone gives the bare
// sentence, and beside named members it does not count as one left out.
TEST(EndReport, DamagedArchiveIsReportedWithoutAName) {
    Outcome o;
    o.fail(nullptr, ARCHIVE_DAMAGED);
    EXPECT_TRUE(run_has_failures(&o.app.run.outcome));
    EXPECT_EQ(o.report(), SENTENCE);

    Outcome p;
    for (int i = 0; i < 10; i++) p.fail(("m" + std::to_string(i)).c_str(), FAILED_DAMAGED);
    p.fail(nullptr, ARCHIVE_DAMAGED);
    EXPECT_EQ(p.report().find(ELLIPSIS), std::string::npos);
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
