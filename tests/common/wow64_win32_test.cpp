#include <gtest/gtest.h>
#include "common/win32.h"

// The product is a 32-bit program; the test prefix is a 64-bit one, so every
// registry test relies on running under WOW64 with both views present.
TEST(Platform, ThirtyTwoBitProgramRunsUnderWow64) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);
    EXPECT_EQ(sizeof(void*), 4u);
}
