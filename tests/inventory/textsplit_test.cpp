// Cutting display names into words and joining them again.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

using Words = std::vector<std::wstring>;

TEST(SplitText, EverySeparatorStartsAField) {
    EXPECT_EQ(SplitText(L"", L' ', 30), Words{L""});
    EXPECT_EQ(SplitText(L"App", L' ', 30), Words{L"App"});
    EXPECT_EQ(SplitText(L"My App 2.0", L' ', 30), (Words{L"My", L"App", L"2.0"}));
    EXPECT_EQ(SplitText(L"a  b", L' ', 30), (Words{L"a", L"", L"b"}));
    EXPECT_EQ(SplitText(L" a ", L' ', 30), (Words{L"", L"a", L""}));
    EXPECT_EQ(SplitText(L"app.exe\t2", L'\t', 2), (Words{L"app.exe", L"2"}));
}

TEST(SplitText, StopsAtTheMaximumAndDropsTheRest) {
    EXPECT_EQ(SplitText(L"a\tb\tc", L'\t', 2), (Words{L"a", L"b"}));
    EXPECT_EQ(SplitText(L"a\tb\t", L'\t', 2), (Words{L"a", L"b"}));
    EXPECT_EQ(SplitText(L"a b", L' ', 1), Words{L"a"});
    EXPECT_EQ(SplitText(L"a b", L' ', 0), Words{L"a"}) << "never fewer than one field";
    EXPECT_EQ(SplitText(L"a b", L' ', -5), Words{L"a"});

    std::wstring many;
    for (int i = 1; i <= 40; ++i) many += std::to_wstring(i) + L" ";
    const Words fields = SplitText(many, L' ', 30);
    ASSERT_EQ(fields.size(), 30u);
    EXPECT_EQ(fields.back(), L"30");
}

TEST(JoinWords, EachWordIsFollowedByTheSeparator) {
    const Words words = {L"My", L"App", L"2.0"};
    EXPECT_EQ(JoinWords(words, 2, L' ', true), L"My App");
    EXPECT_EQ(JoinWords(words, 2, L' ', false), L"My App ");
    EXPECT_EQ(JoinWords(words, 3, L';', true), L"My;App;2.0;")
        << "trimming only takes blanks and controls";
    EXPECT_EQ(JoinWords(words, 0, L' ', false), L"");
    EXPECT_EQ(JoinWords(words, -1, L' ', false), L"");
    EXPECT_EQ(JoinWords(words, 10, L' ', true), L"My App 2.0")
        << "a count past the list takes it all";
    EXPECT_EQ(JoinWords(Words{L"", L" x", L""}, 3, L' ', true), L"x");
    EXPECT_EQ(JoinWords({}, 1, L' ', false), L"");
}

}  // namespace
}  // namespace kelvra
