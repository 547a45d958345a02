// Whether the run reads the 64-bit view as well: the program's own answer in
// the test prefix, a 64-bit Windows on which the 32-bit program runs under
// WOW64 (every registry test relies on both views), and in the Windows32
// suites' prefix, a 32-bit Windows with one view.

#include <gtest/gtest.h>

#include "common/sysfacts.h"

namespace kelvra {
namespace {

TEST(Wow64, TheThirtyTwoBitProgramKnowsItRunsOnA64BitWindows) {
    EXPECT_EQ(sizeof(void*), 4u);
    EXPECT_TRUE(IsRunningOnWow64());
}

TEST(Windows32Wow64, OnA32BitWindowsThereIsNoSecondView) { EXPECT_FALSE(IsRunningOnWow64()); }

}  // namespace
}  // namespace kelvra
