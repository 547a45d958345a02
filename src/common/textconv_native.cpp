// The portable build's stand-in for the system code page: Windows-1252,
// the ANSI code page of the Western European Windows installations the
// program is mostly run on. The five bytes that Windows-1252 leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of
// the same number, as the system's own table does, so that every byte value
// survives a round trip.

#include "common/textconv.h"

#include <array>
#include <cstdint>
#include <cwctype>

namespace kelvra {
namespace {

constexpr char kMissingChar = '?';

// Code points of the bytes 0x80 to 0x9F; 0xA0 to 0xFF equal their code point.
constexpr std::array<char16_t, 32> kHighControlRow = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char CodePointToAnsi(std::uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
    for (std::size_t i = 0; i < kHighControlRow.size(); ++i) {
        if (kHighControlRow[i] == code) return static_cast<char>(0x80 + i);
    }
    return kMissingChar;
}

}  // namespace

// Like the system's table for a single-byte code page, this knows no best
// fit: a character it lacks becomes '?'. The system converts UTF-16 code unit
// by code unit, so a character outside the Basic Multilingual Plane, one
// wchar_t here but a pair of units there, becomes two of them.
std::string WideToAnsi(std::wstring_view text) {
    std::string result;
    result.reserve(text.size());
    for (wchar_t unit : text) {
        const auto code = static_cast<std::uint32_t>(unit);
        if (code > 0xFFFF) result += kMissingChar;
        result += CodePointToAnsi(code);
    }
    return result;
}

std::wstring AnsiToWide(std::string_view bytes) {
    std::wstring result;
    result.reserve(bytes.size());
    for (char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= 0x80 && code <= 0x9F)
            result += static_cast<wchar_t>(kHighControlRow[code - 0x80]);
        else
            result += static_cast<wchar_t>(code);
    }
    return result;
}

std::string WideToAnsiShort(std::wstring_view text, std::size_t maxBytes) {
    // One byte per character: the cut can fall anywhere.
    std::string bytes = WideToAnsi(FirstShortTextChars(text));
    if (bytes.size() > maxBytes) bytes.resize(maxBytes);
    return bytes;
}

int CompareTextLocale(std::wstring_view a, std::wstring_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto left = static_cast<std::uint32_t>(std::towlower(static_cast<std::wint_t>(a[i])));
        const auto right =
            static_cast<std::uint32_t>(std::towlower(static_cast<std::wint_t>(b[i])));
        if (left != right) return left < right ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace kelvra
