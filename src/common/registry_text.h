#pragma once
// Decoding and encoding of registry values as the registry hands them
// out: raw UTF-16LE bytes, which nothing guarantees to be well formed. A
// writer may store text without its terminating NUL, with an odd number of
// bytes, with NULs inside it or with a length far beyond what any reader
// expects. Both accessors (Win32 and in-memory) decode through here so that
// they agree byte for byte.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvra {

// The text of a REG_SZ / REG_EXPAND_SZ value's raw bytes: UTF-16LE code units
// up to the first NUL unit or the end of the data, whichever comes first. A
// trailing odd byte (half a code unit) is dropped. Nothing is expanded.
std::wstring DecodeRegistryText(std::string_view bytes);

// The value of a REG_DWORD's raw bytes (little-endian). Anything but exactly
// four bytes is a damaged value and raises RegistryError, rather than being
// read short or past its end.
std::int32_t DecodeRegistryDWord(std::string_view bytes, std::wstring_view name);

// The two failures of a read, with the messages the log shows:
// "Invalid data type for '<name>'" and "Failed to get data for '<name>'".
[[noreturn]] void ThrowInvalidDataType(std::wstring_view name);
[[noreturn]] void ThrowGetDataFailed(std::wstring_view name);

// The raw bytes RegSetValueExW stores for the text, terminating NUL included.
std::string EncodeRegistryText(std::wstring_view text);

}  // namespace kelvra
