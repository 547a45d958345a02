#pragma once

// Conversions between the program's UTF-16 texts and the system's ANSI code
// page, and the comparison used to sort text lists. The Windows build speaks
// to the code-page functions of the system; the portable build carries a
// Windows-1252 table of its own so that the version engine behaves the same
// on a development machine.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf16.h"

namespace kelvra {

// The whole text in the system's ANSI code page, the conversion of the files
// the program writes. Characters the code page lacks become whatever the
// platform substitutes for them (on Windows a look-alike where the system
// knows one). The texts of the run's files come out of short texts, so they
// hold no such character.
std::string WideToAnsi(std::wstring_view text);

// ANSI bytes back to UTF-16.
std::wstring AnsiToWide(std::string_view bytes);

// The first 255 characters of the text, converted, cut to at most maxBytes
// bytes. A cut never splits a multi-byte character: when the last whole
// character would not fit, the cut falls before its first byte. Every
// character the code page lacks becomes the code page's default character
// ('?'), never a look-alike: a best-fit mapping would turn a full-width quote
// into a real one and a Polish L-stroke into a plain L, so that the stored
// text says something other than the registry did.
std::string WideToAnsiShort(std::wstring_view text, std::size_t maxBytes = 255);

// Locale-aware case-insensitive comparison for sorting: <0, 0 or >0.
int CompareTextLocale(std::wstring_view a, std::wstring_view b);

// How many leading bytes of an ANSI text fit into maxBytes without splitting
// a double-byte character. isLeadByte tells whether a byte opens a two-byte
// character in the code page at hand; a lead byte at the very end of the text
// (no trail byte follows) counts as one byte. Kept here, free of any platform
// call, so that the walk can be checked against a made-up code page.
template <class IsLeadByte>
std::size_t DbcsCutLength(std::string_view bytes, std::size_t maxBytes, IsLeadByte isLeadByte) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t width = 1;
        if (pos + 1 < bytes.size() && isLeadByte(static_cast<unsigned char>(bytes[pos]))) width = 2;
        if (width > maxBytes - pos) break;
        pos += width;
    }
    return pos;
}

// The same for UTF-8, where a character spans one to four bytes and every
// byte after the first has the form 10xxxxxx: the cut moves back until it no
// longer falls in front of such a continuation byte. It moves back three
// bytes at most, the most a valid character can have before the cut.
inline std::size_t Utf8CutLength(std::string_view bytes, std::size_t maxBytes) {
    if (bytes.size() <= maxBytes) return bytes.size();
    auto isContinuation = [&](std::size_t pos) {
        return (static_cast<unsigned char>(bytes[pos]) & 0xC0) == 0x80;
    };
    std::size_t cut = maxBytes;
    for (int step = 0; step < 3 && cut > 0 && isContinuation(cut); ++step) --cut;
    return isContinuation(cut) ? maxBytes : cut;
}

// The first 255 UTF-16 code units of a text, without leaving the high half
// of a surrogate pair dangling at the end.
inline std::wstring_view FirstShortTextChars(std::wstring_view text) {
    constexpr std::size_t kMaxChars = 255;
    if (text.size() <= kMaxChars) return text;
    std::size_t count = kMaxChars;
    if (IsSurrogatePair(static_cast<std::uint32_t>(text[count - 1]),
                        static_cast<std::uint32_t>(text[count]))) {
        --count;
    }
    return text.substr(0, count);
}

}  // namespace kelvra
