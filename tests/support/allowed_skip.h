#pragma once
// A skipped test is not a passing test: every test program fails a test that
// skips (tests/test_main.cpp), except a skip made with this macro, whose
// message begins with "Allowed skip: " and which the test list then shows as
// not run. Use it only where the machine, not the program, cannot give the
// test what it needs, and say what is missing:
//     KELVRA_ALLOWED_SKIP() << "mounting a file system needs root";

#include <gtest/gtest.h>

namespace kelvra::testing {

inline constexpr char kAllowedSkip[] = "Allowed skip: ";

}  // namespace kelvra::testing

#define KELVRA_ALLOWED_SKIP() GTEST_SKIP() << ::kelvra::testing::kAllowedSkip
