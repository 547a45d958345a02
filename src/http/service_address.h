#pragma once
// Where the account service lives. The base address (scheme and host, no
// path) is a constant of the build, set with the CMake cache variable
// KELVRA_SERVICE_BASE. The console scanner and the tests may point a process
// at another service; the tray program never does.

#include <string>
#include <string_view>

namespace kelvra {

// The base address without a trailing "/": the one set for this process, or
// the build's.
std::wstring ServiceBaseAddress();

// The build's own base address.
std::wstring BuildServiceBaseAddress();

// Points this process at another service; an empty text restores the build's
// address. A trailing "/" is dropped. Returns the address set before, empty
// when the process used the build's.
std::wstring SetServiceBaseAddress(std::wstring_view base);

// The base address + path (path starts with "/").
std::wstring ServiceAddress(std::wstring_view path);

// Whether the text can serve as a base address: http:// or https://, a host,
// an optional port and nothing after it but an optional "/".
bool IsServiceBaseAddress(std::wstring_view text);

}  // namespace kelvra
