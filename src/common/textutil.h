#pragma once

// The small text routines that the version rules are built from; the
// application records use them too. Texts are UTF-16. Wherever a routine
// ignores case, it folds only the letters A to Z onto a to z and compares
// every other character unchanged, whatever the user's locale: the program
// matches fixed English words and must do so the same way on every machine.

#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kelvra {

// A set of characters from U+0000 to U+00FF; a character above U+00FF is in
// no set.
using CharSet = std::bitset<256>;

// The set of the listed characters; listed characters above U+00FF are
// dropped, since no set can hold them.
CharSet MakeCharSet(std::wstring_view chars);

// The letter folded to lower case if it is one of A to Z, else unchanged.
constexpr wchar_t LowerAsciiChar(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch + (L'a' - L'A')) : ch;
}

// 1-based position of the first occurrence of needle in haystack, ignoring
// the case of A to Z; 0 when there is none or the needle is empty.
int PosText(std::wstring_view needle, std::wstring_view haystack);

// Every occurrence of oldText, found as PosText finds it and from left to
// right without overlaps, replaced by newText exactly as given. The inserted
// text is never searched again. With doTrim the result is trimmed.
std::wstring ReplaceText(std::wstring_view text, std::wstring_view oldText,
                         std::wstring_view newText, bool doTrim);

// The text without any occurrence of ch (exact match, case counts).
std::wstring RemoveChar(std::wstring_view text, wchar_t ch);

// The text without any of the listed characters.
std::wstring RemoveChars(std::wstring_view text, std::wstring_view chars);

// For each of the first count words in list order (all of them when count is
// negative), every occurrence of the word is cut out and the text trimmed.
std::wstring RemoveWords(std::wstring_view text, std::span<const std::wstring_view> words,
                         int count = -1);

// Whether every character of the text is in the set; true for an empty text.
bool AllCharsIn(std::wstring_view text, const CharSet& set);

// The digits 0 to 9 of the text, read in order as one decimal number with
// every other character skipped ("1.2.3" gives 123, "007" gives 7).
// defaultValue when the text has no digit or the number exceeds 2147483647.
std::int32_t DigitsToInt(std::wstring_view text, std::int32_t defaultValue);

// Whether every character is one of 0 to 9; true for an empty text.
bool IsAllDigits(std::wstring_view text);

// The text without the characters of code 32 or less (the blank and the
// control characters) at either end.
std::wstring Trim(std::wstring_view text);

// The text with A to Z folded onto a to z and nothing else changed.
std::wstring LowerAscii(std::wstring_view text);

// The text for a terminal: every control character (codes 0 to 31, 127 and
// 128 to 159) written out as \x and two hexadecimal digits, everything else
// as it is. Text from the registry or a server that reached a terminal raw
// could retitle it, recolour it, or forge a line of the program's own with a
// CR or LF.
std::wstring VisibleControls(std::wstring_view text);

}  // namespace kelvra
