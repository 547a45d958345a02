#pragma once
// What every fuzz target shares: cutting an input into fields, turning bytes
// into the program's wide text, the property check that stops the run, and
// a real XML parser.
//
// Input layout: fields separated by NUL bytes. The program's outside texts
// (registry strings, file names, typed values) never hold a NUL, so the
// separator costs the fuzzer nothing it could reach in the field, and seed
// files stay writable by hand.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::fuzz {

// The NUL-separated fields of the input; at least one (possibly empty).
std::vector<std::string_view> SplitFields(const std::uint8_t* data, std::size_t size);

// Bytes as wide text the way the native build meets it: well-formed UTF-8
// sequences of one to four bytes give their code point, surrogates included
// (so lone and paired UTF-16 halves can be written); every other byte gives
// the character of the same number (U+0080 to U+00FF).
std::wstring WideFromBytes(std::string_view bytes);

// The wide text as UTF-8 for messages; code points that UTF-8 cannot carry
// become U+FFFD.
std::string Utf8ForMessage(std::wstring_view text);

// Stops the run as a finding: prints what failed and aborts, which libFuzzer
// reports with the input.
[[noreturn]] void Fail(std::string_view what, std::string_view detail = {});

// Fail unless the property holds. The detail is worked out before the call:
// in a loop, test the property and call Fail instead.
void Require(bool holds, std::string_view what, std::string_view detail = {});

// Whether every character is printable ASCII (32 to 126) or DEL (127).
bool IsPlainAscii(std::wstring_view text);

// A document checked by expat, the parser under Python's xml package, loaded
// at run time so that the build needs no XML headers.
struct XmlVerdict {
    bool wellFormed = false;
    std::string error;               // expat's message and line when not well formed
    std::size_t elements = 0;        // start tags seen
    std::vector<std::string> texts;  // character data of each element named in textOf, UTF-8
};
XmlVerdict ParseXml(std::string_view document, std::string_view textOf = {});

}  // namespace kelvra::fuzz
