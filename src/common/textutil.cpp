#include "common/textutil.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace kelvra {
namespace {

// wchar_t is signed on some compilers; a code is always read as unsigned so
// that nothing strange sorts below the blank or indexes outside a set.
constexpr std::uint32_t CodeOf(wchar_t ch) { return static_cast<std::uint32_t>(ch); }

constexpr bool IsTrimmed(wchar_t ch) { return CodeOf(ch) <= 32; }

constexpr bool IsDigit(wchar_t ch) { return ch >= L'0' && ch <= L'9'; }

std::wstring_view TrimmedView(std::wstring_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsTrimmed(text[first])) ++first;
    while (last > first && IsTrimmed(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// Case-insensitive search that looks at every character of the haystack once
// (Knuth-Morris-Pratt on the folded texts), so that replacing throughout a
// long text stays linear even for needles like "aaab" in "aaaa...".
class FoldedSearcher {
  public:
    static constexpr std::size_t npos = std::wstring_view::npos;

    explicit FoldedSearcher(std::wstring_view needle)
        : needle_(LowerAscii(needle)), border_(needle_.size(), 0) {
        std::size_t matched = 0;
        for (std::size_t i = 1; i < needle_.size(); ++i) {
            while (matched > 0 && needle_[i] != needle_[matched]) matched = border_[matched - 1];
            if (needle_[i] == needle_[matched]) ++matched;
            border_[i] = matched;
        }
    }

    // Start of the first occurrence at or after from, or npos. Never finds
    // an empty needle.
    std::size_t FindIn(std::wstring_view haystack, std::size_t from) const {
        const std::size_t length = needle_.size();
        if (length == 0 || from > haystack.size() || haystack.size() - from < length) return npos;
        std::size_t matched = 0;
        for (std::size_t i = from; i < haystack.size(); ++i) {
            const wchar_t ch = LowerAsciiChar(haystack[i]);
            while (matched > 0 && ch != needle_[matched]) matched = border_[matched - 1];
            if (ch == needle_[matched]) ++matched;
            if (matched == length) return i + 1 - length;
        }
        return npos;
    }

    std::size_t size() const { return needle_.size(); }

  private:
    std::wstring needle_;
    std::vector<std::size_t> border_;  // longest proper border of each prefix
};

}  // namespace

CharSet MakeCharSet(std::wstring_view chars) {
    CharSet set;
    for (wchar_t ch : chars) {
        if (CodeOf(ch) < set.size()) set.set(CodeOf(ch));
    }
    return set;
}

int PosText(std::wstring_view needle, std::wstring_view haystack) {
    const std::size_t found = FoldedSearcher(needle).FindIn(haystack, 0);
    if (found == FoldedSearcher::npos) return 0;
    // A text of two thousand million characters does not fit in memory on
    // the target; the clamp only keeps the conversion defined elsewhere.
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return found < kMax ? static_cast<int>(found + 1) : std::numeric_limits<int>::max();
}

std::wstring ReplaceText(std::wstring_view text, std::wstring_view oldText,
                         std::wstring_view newText, bool doTrim) {
    const FoldedSearcher searcher(oldText);
    std::wstring result;
    result.reserve(text.size());
    std::size_t rest = 0;
    for (std::size_t found = searcher.FindIn(text, rest); found != FoldedSearcher::npos;
         found = searcher.FindIn(text, rest)) {
        result.append(text.substr(rest, found - rest));
        result.append(newText);
        rest = found + searcher.size();
    }
    result.append(text.substr(rest));
    if (doTrim) return std::wstring(TrimmedView(result));
    return result;
}

std::wstring RemoveChar(std::wstring_view text, wchar_t ch) {
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        if (c != ch) result += c;
    }
    return result;
}

std::wstring RemoveChars(std::wstring_view text, std::wstring_view chars) {
    // Removing the listed characters one after another leaves the same text
    // as one pass that drops any listed character. A long list is sorted so
    // that the pass stays n log m.
    std::wstring sorted(chars);
    std::sort(sorted.begin(), sorted.end());
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        if (!std::binary_search(sorted.begin(), sorted.end(), c)) result += c;
    }
    return result;
}

std::wstring RemoveWords(std::wstring_view text, std::span<const std::wstring_view> words,
                         int count) {
    std::size_t limit = words.size();
    if (count >= 0 && static_cast<std::size_t>(count) < limit)
        limit = static_cast<std::size_t>(count);
    std::wstring result(text);
    for (std::size_t i = 0; i < limit; ++i) result = ReplaceText(result, words[i], {}, true);
    return result;
}

bool AllCharsIn(std::wstring_view text, const CharSet& set) {
    return std::all_of(text.begin(), text.end(), [&set](wchar_t ch) {
        return CodeOf(ch) < set.size() && set.test(CodeOf(ch));
    });
}

std::int32_t DigitsToInt(std::wstring_view text, std::int32_t defaultValue) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    bool anyDigit = false;
    for (wchar_t ch : text) {
        if (!IsDigit(ch)) continue;
        anyDigit = true;
        // Once past the limit the number can only grow: stop adding, so that
        // a run of any length cannot overflow.
        if (value <= kMax) value = value * 10 + (ch - L'0');
    }
    if (!anyDigit || value > kMax) return defaultValue;
    return static_cast<std::int32_t>(value);
}

bool IsAllDigits(std::wstring_view text) { return std::all_of(text.begin(), text.end(), IsDigit); }

std::wstring Trim(std::wstring_view text) { return std::wstring(TrimmedView(text)); }

std::wstring LowerAscii(std::wstring_view text) {
    std::wstring result(text);
    for (wchar_t& ch : result) ch = LowerAsciiChar(ch);
    return result;
}

std::wstring VisibleControls(std::wstring_view text) {
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring visible;
    visible.reserve(text.size());
    for (const wchar_t ch : text) {
        if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) {
            visible += L"\\x";
            visible += kHex[(ch >> 4) & 0xF];
            visible += kHex[ch & 0xF];
        } else {
            visible += ch;
        }
    }
    return visible;
}

}  // namespace kelvra
