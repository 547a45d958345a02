#include "common/shorttext.h"

#include "common/textconv.h"

namespace kelvra {

ShortText::ShortText(std::wstring_view text) : bytes_(WideToAnsiShort(text, kMaxBytes)) {}

ShortText& ShortText::operator=(std::wstring_view text) {
    bytes_ = WideToAnsiShort(text, kMaxBytes);
    return *this;
}

std::wstring ShortText::str() const { return AnsiToWide(bytes_); }

}  // namespace kelvra
