#include "http/service_address.h"

#include <utility>

#include "http/transport.h"

// Given by the build (CMake cache variable KELVRA_SERVICE_BASE) as a narrow
// string literal; the default names a host that can never resolve, so that a
// build nobody configured cannot post anywhere real.
#ifndef KELVRA_SERVICE_BASE
#define KELVRA_SERVICE_BASE "http://service.kelvra.invalid"
#endif

namespace kelvra {
namespace {

std::wstring WithoutTrailingSlash(std::wstring_view text) {
    while (!text.empty() && text.back() == L'/') text.remove_suffix(1);
    return std::wstring(text);
}

std::wstring& OverrideAddress() {
    static std::wstring address;
    return address;
}

}  // namespace

std::wstring BuildServiceBaseAddress() { return WithoutTrailingSlash(L"" KELVRA_SERVICE_BASE); }

std::wstring ServiceBaseAddress() {
    const std::wstring& address = OverrideAddress();
    return address.empty() ? BuildServiceBaseAddress() : address;
}

std::wstring SetServiceBaseAddress(std::wstring_view base) {
    return std::exchange(OverrideAddress(), WithoutTrailingSlash(base));
}

std::wstring ServiceAddress(std::wstring_view path) {
    return ServiceBaseAddress() + std::wstring(path);
}

bool IsServiceBaseAddress(std::wstring_view text) {
    try {
        return ParseHttpUrl(text).path == L"/" &&
               text.find_first_of(L"?#") == std::wstring_view::npos;
    } catch (const HttpError&) {
        return false;
    }
}

}  // namespace kelvra
