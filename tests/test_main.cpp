// The main of every test program: GoogleTest's own, with one rule added. A
// skipped test is not a passing test, and the test list would count it as
// one: so a test that skips fails, unless its message begins with the marker
// of support/allowed_skip.h, which says why the machine cannot run it.

#include <gtest/gtest.h>

#include <string_view>

#include "support/allowed_skip.h"

#ifdef KELVRA_FILE_HELPER_HOST
#include "common/helper_process.h"
#include "support/process_win32.h"
#endif

namespace {

class SkipsNeedAReason : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override {
        const ::testing::TestResult& result = *test.result();
        if (!result.Skipped()) return;
        for (int i = 0; i < result.total_part_count(); ++i) {
            const ::testing::TestPartResult& part = result.GetTestPartResult(i);
            if (part.skipped() &&
                std::string_view(part.message()).starts_with(kelvra::testing::kAllowedSkip))
                return;
        }
        // Still part of the test: the result printer, which hears of the
        // test's end after this listener, reports it as failed.
        ADD_FAILURE() << "skipped, but a test that is meant to run must not skip (see "
                         "support/allowed_skip.h for a skip the machine forces)";
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listeners hear of a test's end in the reverse order of the list, so
    // this one, appended after the result printer, comes before it.
    ::testing::UnitTest::GetInstance()->listeners().Append(new SkipsNeedAReason);
#ifdef KELVRA_FILE_HELPER_HOST
    // A test program is not one of the programs that serve as their own
    // helper process.
    kelvra::SetHelperProgram(kelvra::testing::HostPathToWindows(KELVRA_FILE_HELPER_HOST));
#endif
    return RUN_ALL_TESTS();
}
