#include "common/textutil.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

namespace kelvra {
namespace {

TEST(TextUtil, PosTextFoldsOnlyAsciiLetters) {
    struct Case {
        std::wstring_view needle, haystack;
        int position;
    };
    const Case cases[] = {{L"putty", L"PuTTY 0.76", 1},
                          {L"(patch", L"Far Cry (Patch 1.3)", 9},
                          {L"", L"abc", 0},
                          {L"abcd", L"abc", 0},
                          {L"\u00e4", L"\u00c4", 0},
                          {L"\u00c4", L"x\u00c4", 2},
                          {L"aab", L"aaab", 2},
                          {L"@", L"`@", 2}};  // '@', '`' border A-Z
    for (const Case& c : cases)
        EXPECT_EQ(PosText(c.needle, c.haystack), c.position) << c.needle.data();
}

TEST(TextUtil, ReplaceTextReplacesLeftToRightWithoutRescanning) {
    EXPECT_EQ(ReplaceText(L"aXa", L"x", L"x", false), L"axa");
    EXPECT_EQ(ReplaceText(L"aaa", L"aa", L"b", false), L"ba");
    EXPECT_EQ(ReplaceText(L"abab", L"A", L"aa", false), L"aabaab");
    EXPECT_EQ(ReplaceText(L" 1,2 ", L",", L".", false), L" 1.2 ");
    EXPECT_EQ(ReplaceText(L" keep ", L"", L"x", true), L"keep");
}

TEST(TextUtil, RemovingCharactersAndWords) {
    EXPECT_EQ(RemoveChars(L"(Patch 1.4)", L"()"), L"Patch 1.4");
    const std::array<std::wstring_view, 3> words = {L"bld", L"ver", L"may"};
    EXPECT_EQ(RemoveWords(L"May bld 5 ver", words), L"5");
    EXPECT_EQ(RemoveWords(L"May bld 5 ver", words, 1), L"May  5 ver");
    EXPECT_EQ(RemoveWords(L"May bld 5 ver", words, 0), L"May bld 5 ver");
}

TEST(TextUtil, CharacterSetsHoldOnlyTheFirst256Codes) {
    const CharSet digits = MakeCharSet(L"0123456789\u0130");
    EXPECT_TRUE(AllCharsIn(L"", digits));
    EXPECT_FALSE(AllCharsIn(L"\u0130", digits));             // listed, but above U+00FF
    EXPECT_FALSE(AllCharsIn(L"\u0130", MakeCharSet(L"0")));  // 0x130 must not alias 0x30
}

TEST(TextUtil, DigitsToIntReadsEveryDigitAndFallsBackWhenTooLarge) {
    struct Case {
        std::wstring_view text;
        std::int32_t value;
    };
    const Case cases[] = {{L"", -1},
                          {L"abc", -1},
                          {L"1.2.3", 123},
                          {L"007", 7},
                          {L"2147483647", 2147483647},
                          {L"2147483648", -1},
                          {L"99999999999999999999999", -1},
                          {L"0000000000000000000042", 42},
                          {L"\u0661\u0662", -1}};  // Arabic-Indic digits are not read
    for (const Case& c : cases) EXPECT_EQ(DigitsToInt(c.text, -1), c.value) << c.text.data();
}

TEST(TextUtil, TrimRemovesBlanksAndControlsAtBothEnds) {
    EXPECT_EQ(Trim(L"\t\r\n 1.2\x01 \x1f"), L"1.2");
    EXPECT_EQ(Trim(std::wstring(L"\0 \x20", 3)), L"");
    EXPECT_EQ(Trim(L"\u00a0x\u00a0"), L"\u00a0x\u00a0");  // no-break space is above 32
}

TEST(TextUtil, VisibleControlsWritesEveryControlCharacterOut) {
    const struct {
        std::wstring text;
        std::wstring visible;
    } cases[] = {
        {L"\x1b]0;owned\a", L"\\x1b]0;owned\\x07"},  // a terminal title
        {L"\x1b[31mred", L"\\x1b[31mred"},           // a colour
        {L"App\r\nOK: 99", L"App\\x0d\\x0aOK: 99"},  // a forged line
        {std::wstring(L"a\0b\x7f\x9b\x9f"
                      L"c",
                      7),
         L"a\\x00b\\x7f\\x9b\\x9f"
         L"c"},                                                     // NUL, DEL, C1
        {L"C:\\Caf\u00e9 \u20ac\t", L"C:\\Caf\u00e9 \u20ac\\x09"},  // letters and paths stay
    };
    for (const auto& c : cases) EXPECT_EQ(VisibleControls(c.text), c.visible);
}

// Texts far larger than any version text: no routine may slow to a crawl,
// read past the end or overflow.
TEST(TextUtil, HostileTextsStayFastAndSafe) {
    const std::wstring longRun(1 << 20, L'a');
    const std::wstring nearMiss = std::wstring(1 << 19, L'A') + L"b";
    EXPECT_EQ(PosText(nearMiss, longRun), 0);
    EXPECT_EQ(PosText(nearMiss, longRun + L"B"), (1 << 19) + 1);
    EXPECT_EQ(ReplaceText(longRun, L"aa", L"b", false), std::wstring(1 << 19, L'b'));
    EXPECT_EQ(RemoveChars(longRun, longRun + L"xyz"), L"");

    std::wstring controls(64 * 1024, L'\0');
    for (std::size_t i = 0; i < controls.size(); ++i) controls[i] = static_cast<wchar_t>(i % 33);
    EXPECT_EQ(Trim(controls), L"");
    EXPECT_EQ(DigitsToInt(std::wstring(64 * 1024, L'9'), 7), 7);
    EXPECT_EQ(DigitsToInt(std::wstring(64 * 1024, L'0') + L"1", 7), 1);
    EXPECT_FALSE(AllCharsIn(std::wstring(64 * 1024, L'\uffff'), MakeCharSet(L"\u00ff")));
}

}  // namespace
}  // namespace kelvra
