#include "common/registry_text.h"

#include <cstdint>

#include "common/registry.h"
#include "common/textconv.h"
#include "common/utf16.h"

namespace kelvra {
namespace {

void AppendUnit(std::string& bytes, std::uint32_t unit) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
}

}  // namespace

std::wstring DecodeRegistryText(std::string_view bytes) {
    std::wstring text;
    const std::size_t units = bytes.size() / 2;
    text.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit =
            static_cast<unsigned char>(bytes[2 * i]) |
            (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
        if (unit == 0) break;
        if constexpr (sizeof(wchar_t) >= 4) {
            // Where wchar_t holds a whole code point (the native build), a
            // surrogate pair becomes the one character it stands for, as the
            // native code page table expects. A lone surrogate stays as it is.
            if (IsHighSurrogate(unit) && i + 1 < units) {
                const std::uint32_t next =
                    static_cast<unsigned char>(bytes[2 * i + 2]) |
                    (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 3])) << 8);
                if (IsLowSurrogate(next)) {
                    text += static_cast<wchar_t>(CombineSurrogates(unit, next));
                    ++i;
                    continue;
                }
            }
        }
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

std::int32_t DecodeRegistryDWord(std::string_view bytes, std::wstring_view name) {
    if (bytes.size() != 4) ThrowGetDataFailed(name);
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return static_cast<std::int32_t>(value);
}

void ThrowInvalidDataType(std::wstring_view name) {
    throw RegistryError("Invalid data type for '" + WideToAnsi(name) + "'");
}

void ThrowGetDataFailed(std::wstring_view name) {
    throw RegistryError("Failed to get data for '" + WideToAnsi(name) + "'");
}

std::string EncodeRegistryText(std::wstring_view text) {
    std::string bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (wchar_t ch : text) {
        auto code = static_cast<std::uint32_t>(ch);
        // Only a native wchar_t can hold more than 16 bits; past the last
        // code point there is no pair to write.
        if (code > 0x10FFFF) code = 0xFFFD;
        if (code > 0xFFFF) {
            AppendUnit(bytes, 0xD800 + ((code - 0x10000) >> 10));
            AppendUnit(bytes, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            AppendUnit(bytes, code);
        }
    }
    AppendUnit(bytes, 0);
    return bytes;
}

}  // namespace kelvra
