// The account service's answer as the program reads it: a body with a
// Content-Type header, both as the server sent them. Input: field 0 is the
// header's value, the rest of the input the body.

#include <string>

#include "common/utf8.h"
#include "fuzz_support.h"
#include "http/httpclient.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

bool IsSurrogate(wchar_t ch) { return ch >= 0xD800 && ch <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string_view contentType = input.substr(0, cut);
    const std::string_view body =
        cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

    const std::wstring answer = AnswerText(body, contentType);
    Require(answer.size() <= body.size(), "the answer text is longer than the body");

    // UTF-8: never a surrogate in the text, and well-formed text survives
    // the way back unchanged.
    const std::wstring wide = Utf8ToWide(body);
    for (wchar_t ch : wide) Require(!IsSurrogate(ch), "a surrogate in decoded UTF-8");
    if (wide.find(L'\xFFFD') == std::wstring::npos)
        Require(WideToUtf8(wide) == body, "well-formed UTF-8 does not encode back to itself");
    return 0;
}
