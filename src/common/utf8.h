#pragma once
// UTF-8 for the two places that meet it: answers of the account service that
// declare it, and addresses handed to the browser, whose escapes are UTF-8.
// Works for both widths of wchar_t (UTF-16 on Windows, UTF-32 natively).

#include <string>
#include <string_view>

namespace kelvra {

// Invalid or truncated sequences, overlong forms and encoded surrogates
// become U+FFFD, one per offending byte; nothing is ever dropped silently.
std::wstring Utf8ToWide(std::string_view bytes);

// A lone surrogate (UTF-16 builds) becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text);

}  // namespace kelvra
