#pragma once
// The program's own error type and the one way to turn any error into the
// text that the default error box shows.

#include <exception>
#include <stdexcept>
#include <string>

namespace kelvra {

// An error whose message is a UTF-16 text, shown to the user as it stands.
class KelvraError : public std::runtime_error {
  public:
    explicit KelvraError(std::wstring message);
    const std::wstring& message() const noexcept { return message_; }

  private:
    std::wstring message_;
};

// The message of any error: KelvraError's own text, otherwise what() read
// in the ANSI code page (the library and platform errors carry ANSI text).
std::wstring ErrorText(const std::exception& error);

}  // namespace kelvra
