// After every test the process-wide state that a test may change is as it was at
// start: the decoder's (with the run's settings, stop flag and progress) and the
// platform's hooks.  A test sets what it needs and leaves it.
#include <gtest/gtest.h>

#include "decode/decoder_state.h"
#include "platform/report_hooks.h"

namespace {

class ResetAfterEachTest : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override {
        decoder = {};
        platform_set_hooks(nullptr);
    }
};

[[maybe_unused]] const bool registered =
    (testing::UnitTest::GetInstance()->listeners().Append(new ResetAfterEachTest), true);

}  // namespace
