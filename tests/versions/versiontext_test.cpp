#include "versions/versiontext.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kelvra {
namespace {

TEST(VersionText, CleaningNormalisesTheCommonShapes) {
    struct Case {
        std::wstring_view raw, cleaned;
    };
    const Case cases[] = {
        {L"  V2,1 ", L"2.1"},          {L"Version 5", L"5.0"}, {L"Release 3.0", L"3.0"},
        {L"1. 2. 3", L"1.2.3"},        {L"1.  2", L"1. 2"},    {L"prerelease 2", L"pre 2"},
        {L"\t7\r\n", L"7.0"},          {L"V2", L"2"},          {L"v 2", L" 2"},
        {L"ver1.2", L"er1.2"},         {L"beta", L"beta"},     {L"v", L"v"},
        {L"2147483648", L"2147483648"}};
    for (const Case& c : cases) EXPECT_EQ(CleanVersionText(c.raw), c.cleaned) << c.raw.data();
    for (std::wstring_view raw : {L"   ", L"0", L"0.0.0.0", L"V0", L"Version 0,0", L"\x01\x02"})
        EXPECT_EQ(CleanVersionText(raw), L"") << raw.data();
}

// "ver" is cut before the month names are looked for, but no month name
// contains it: a month on its own leaves nothing and passes as a date tag.
TEST(VersionText, VersionWordsAreDigitsDotsFewLettersAndDateTags) {
    for (std::wstring_view word : {L"", L"1.2", L"V2", L"2.0b", L"ab", L"(1.3)", L"1,5", L"bld 12",
                                   L"ver2", L"June 3, 2005", L"2021", L"1997", L"November"})
        EXPECT_TRUE(IsVersionWord(word)) << word.data();
    for (std::wstring_view word : {L"(x86)", L"beta", L"2008", L"1998", L"2020", L"May 2005",
                                   L"Novembers", L"1.2-rc", L"\u00e9"})
        EXPECT_FALSE(IsVersionWord(word)) << word.data();
}

TEST(VersionText, HostileTextsAreHandled) {
    const std::wstring digits(64 * 1024, L'9');
    EXPECT_EQ(CleanVersionText(digits), digits);
    EXPECT_EQ(CleanVersionText(std::wstring(64 * 1024, L',')), std::wstring(64 * 1024, L'.'));
    std::wstring months;
    for (int i = 0; i < 4000; ++i) months += L"May ver ";
    EXPECT_TRUE(IsVersionWord(months));
    EXPECT_FALSE(IsVersionWord(months + L"\u4e2d"));
}

}  // namespace
}  // namespace kelvra
