#pragma once

// The short text: at most 255 bytes of text in the system's ANSI code page,
// the form in which the application and version records keep their text
// fields. Assigning converts from UTF-16 and cuts; reading converts back, so
// characters the code page lacks come back as the conversion rendered them.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvra {

class ShortText {
  public:
    static constexpr std::size_t kMaxBytes = 255;

    ShortText() = default;
    explicit ShortText(std::wstring_view text);
    ShortText& operator=(std::wstring_view text);

    // The stored text converted back to UTF-16.
    std::wstring str() const;
    const std::string& bytes() const noexcept { return bytes_; }
    bool empty() const noexcept { return bytes_.empty(); }

    // Byte-for-byte: two texts that differ only in characters the code page
    // lacks can be equal once stored.
    friend bool operator==(const ShortText& a, const ShortText& b) noexcept {
        return a.bytes_ == b.bytes_;
    }

  private:
    std::string bytes_;
};

}  // namespace kelvra
