#include "common/textconv.h"

#include <gtest/gtest.h>

#include <string>

#include "common/shorttext.h"

// These hold for the portable Windows-1252 table and for a Windows system
// whose ANSI code page is 1252. What a character outside the code page turns
// into in the files' conversion differs (the system may pick a look-alike),
// so no test names it; a short text never takes a look-alike, in either
// build.

namespace kelvra {
namespace {

TEST(TextConv, WesternTextAndEveryByteSurviveTheRoundTrip) {
    const std::wstring western = L"Caf\u00e9 \u00dcber \u20ac5 \u2026 \u0153uvre";
    EXPECT_EQ(AnsiToWide(WideToAnsi(western)), western);
    EXPECT_EQ(WideToAnsi(L"\u20ac\u00ff"), "\x80\xff");

    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte) allBytes += static_cast<char>(byte);
    EXPECT_EQ(WideToAnsi(AnsiToWide(allBytes)), allBytes);
}

TEST(TextConv, CharacterOutsideTheCodePageBecomesOneSubstituteByte) {
    for (const std::wstring text : {L"\u03a9", L"\u4e2d", L"\u0411"}) {
        const std::string bytes = WideToAnsi(text);
        EXPECT_EQ(bytes.size(), 1u);
        EXPECT_NE(AnsiToWide(bytes), text);
    }
}

TEST(TextConv, ShortTextsTakeTheDefaultCharacterNeverALookAlike) {
    // Each of these letters has a look-alike in the system's best-fit table
    // for 1252 (z, l, L, A, a real double quote, <, O, -): the stored text must
    // not pretend the registry said that.
    const struct {
        const wchar_t* text;
        std::string bytes;
    } cases[] = {
        {L"\u017a\u00f3\u0142ty \u0141", "?\xf3?ty ?"},  // Polish; the o-acute is in 1252
        {L"\uff21\uff50\uff50 1.0", "??? 1.0"},          // full-width letters
        {L"\uff02x\uff02 \uff1cb\uff1e", "?x? ?b?"},     // full-width quotes and brackets
        {L"\u03a9\u2212\u00bd", "??\xbd"},               // Greek, a minus sign; one half is in 1252
        {L"\u201cx\u201d \u20ac \u00e9", "\x93x\x94 \x80 \xe9"},  // what 1252 has stays itself
        {L"a\U0001F600b", "a??b"},                                // one '?' per UTF-16 unit
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToAnsiShort(c.text), c.bytes) << "case " << (&c - cases);
        EXPECT_EQ(ShortText(c.text).bytes(), c.bytes) << "case " << (&c - cases);
    }
    EXPECT_FALSE(ShortText(L"\uff21pp") == ShortText(L"App"));
    EXPECT_EQ(ShortText(L"\uff02\u0141").str(), L"??");
}

TEST(TextConv, ShortConversionCutsAtTheLimitWithoutHalfCharacters) {
    EXPECT_EQ(WideToAnsiShort(std::wstring(300, L'a'), 10), std::string(10, 'a'));
    EXPECT_EQ(WideToAnsiShort(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
    // The 255th character is the first half of a surrogate pair.
    const std::wstring pair = std::wstring(254, L'a') + L"\xD83D\xDE00";
    EXPECT_EQ(FirstShortTextChars(pair), std::wstring(254, L'a'));
}

// A made-up double-byte code page with the lead bytes of Shift-JIS.
bool IsShiftJisLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(TextConv, MultiByteCutsNeverSplitACharacter) {
    const std::string text =
        "ab\x82\xa0"
        "c\x82\xa1";  // a b [pair] c [pair]
    EXPECT_EQ(DbcsCutLength(text, 7, IsShiftJisLead), 7u);
    EXPECT_EQ(DbcsCutLength(text, 6, IsShiftJisLead), 5u);  // before the last lead byte
    EXPECT_EQ(DbcsCutLength(text, 3, IsShiftJisLead), 2u);
    // A trail byte that looks like a lead byte does not shift the walk.
    EXPECT_EQ(DbcsCutLength("\x81\x81\x81\x81", 3, IsShiftJisLead), 2u);
    // A lead byte without its trail byte at the end counts alone.
    EXPECT_EQ(DbcsCutLength("ab\x82", 3, IsShiftJisLead), 3u);

    const std::string euro =
        "a\xe2\x82\xac"
        "b";  // UTF-8: a, the euro sign, b
    EXPECT_EQ(Utf8CutLength(euro, 4), 4u);
    EXPECT_EQ(Utf8CutLength(euro, 3), 1u);
    EXPECT_EQ(Utf8CutLength(std::string(10, '\x80'), 5), 5u);  // not UTF-8 at all
}

TEST(TextConv, LocaleComparisonIgnoresCase) {
    EXPECT_EQ(CompareTextLocale(L"Foo Bar", L"fOO bAR"), 0);
    EXPECT_LT(CompareTextLocale(L"apple", L"Banana"), 0);
    EXPECT_GT(CompareTextLocale(L"banana", L"Apple"), 0);
    EXPECT_LT(CompareTextLocale(L"abc", L"ABCD"), 0);
}

}  // namespace
}  // namespace kelvra
