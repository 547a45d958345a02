#include "common/win32.h"

// The Windows build converts with the system's own tables for CP_ACP, so
// that the bytes written to the program's files and the short texts match
// what every other ANSI program on the machine would make of them.

#include <climits>

#include "common/textconv.h"

namespace kelvra {
namespace {

// The code-page functions take int lengths; no text of the program comes
// near that, but a larger one must not wrap around into a negative length.
int ClampedLength(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// An empty view may carry a null pointer, which the system rejects even with
// a length of zero.
const wchar_t* NonNullData(std::wstring_view text) { return text.empty() ? L"" : text.data(); }

// flags: 0 lets the system use its best-fit mapping, so that a character the
// code page lacks becomes a look-alike where there is one rather than a bare
// substitute; WC_NO_BEST_FIT_CHARS makes every such character the default
// character.
std::string ConvertToAnsi(std::wstring_view text, DWORD flags) {
    if (text.empty()) return {};
    // UTF-8 holds every character, and the system refuses the flag for it.
    if (GetACP() == CP_UTF8) flags = 0;
    const int length = ClampedLength(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string result(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, flags, text.data(), length, result.data(),
                                            needed, nullptr, nullptr);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

}  // namespace

std::string WideToAnsi(std::wstring_view text) { return ConvertToAnsi(text, 0); }

std::wstring AnsiToWide(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = ClampedLength(bytes.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, result.data(), needed);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::string WideToAnsiShort(std::wstring_view text, std::size_t maxBytes) {
    std::string bytes = ConvertToAnsi(FirstShortTextChars(text), WC_NO_BEST_FIT_CHARS);
    if (bytes.size() <= maxBytes) return bytes;

    // A plain byte cut would leave half a character at the end of a text in
    // a multi-byte code page, which converts back to garbage and can swallow
    // the next byte of whatever the text is joined to.
    std::size_t cut = maxBytes;
    CPINFO info{};
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8) {
        cut = Utf8CutLength(bytes, maxBytes);
    } else if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1) {
        cut = DbcsCutLength(bytes, maxBytes, [codePage](unsigned char byte) {
            return IsDBCSLeadByteEx(codePage, byte) != FALSE;
        });
    }
    bytes.resize(cut);
    return bytes;
}

int CompareTextLocale(std::wstring_view a, std::wstring_view b) {
    const int result =
        CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, NonNullData(a),
                       ClampedLength(a.size()), NonNullData(b), ClampedLength(b.size()));
    // CompareStringW answers 1, 2 or 3 for less, equal, greater, and 0 when
    // it fails; a failed comparison falls back to the order of the code units.
    if (result == CSTR_LESS_THAN) return -1;
    if (result == CSTR_GREATER_THAN) return 1;
    if (result == CSTR_EQUAL) return 0;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace kelvra
