#include "versions/versiontext.h"

#include <array>
#include <cstdint>

#include "common/textutil.h"

namespace kelvra {
namespace {

// The characters of a version-like word on its own ...
const CharSet kVersionChars = MakeCharSet(L"()+.0123456789abv");
// ... and once the words below are cut out, which may leave blanks and commas
// between the parts of a date or build tag.
const CharSet kVersionCharsInPhrase = MakeCharSet(L"()+.0123456789abv ,");

// The words that may stand in a version-like word besides its characters: the
// two build abbreviations and the fourteen words of the month table. "ver"
// is cut before the month names are looked for.
constexpr std::array<std::wstring_view, 14> kVersionNoiseWords = {
    L"bld",  L"ver",  L"January", L"February",  L"March",   L"April",    L"May",
    L"June", L"July", L"August",  L"September", L"October", L"November", L"December",
};

// A four-digit word from this range is a release year in a display name
// ("Foo Suite 2007"), not a version, though it consists of version characters.
constexpr std::int32_t kFirstYear = 1998;
constexpr std::int32_t kLastYear = 2020;

bool IsPlainYear(std::wstring_view text) {
    if (text.size() != 4 || !IsAllDigits(text)) return false;
    const std::int32_t year = DigitsToInt(text, -1);
    return year >= kFirstYear && year <= kLastYear;
}

}  // namespace

std::wstring CleanVersionText(std::wstring_view text) {
    std::wstring result = Trim(text);
    result = ReplaceText(result, L",", L".", true);
    result = ReplaceText(result, L". ", L".", true);
    result = ReplaceText(result, L"release", {}, true);
    result = ReplaceText(result, L"version", {}, true);

    // All digits zero: "0", "0.0.0.0", "V0". A text without any digit, or
    // with more digits than fit, is kept.
    if (DigitsToInt(result, -1) == 0) return {};

    if (result.size() == 1 && IsAllDigits(result))
        result += L".0";
    else if (result.size() > 1 && (result[0] == L'v' || result[0] == L'V'))
        result.erase(0, 1);  // not trimmed again: "v 2" keeps its blank
    return result;
}

bool IsVersionWord(std::wstring_view text) {
    std::wstring word = LowerAscii(text);
    if (!AllCharsIn(word, kVersionChars)) {
        word = RemoveWords(word, kVersionNoiseWords);
        if (!AllCharsIn(word, kVersionCharsInPhrase)) return false;
    }
    return !IsPlainYear(word);
}

}  // namespace kelvra
