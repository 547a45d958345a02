#include "http/transport.h"

#include <atomic>
#include <utility>

#include "common/textconv.h"
#include "common/textutil.h"

namespace kelvra {
namespace {

std::shared_ptr<HttpTransport>& InstalledTransport() {
    static std::shared_ptr<HttpTransport> transport;
    return transport;
}

HttpTransport& PlatformTransport() {
    static const std::unique_ptr<HttpTransport> transport = MakePlatformTransport();
    return *transport;
}

std::atomic<unsigned> abandonCount{0};

[[noreturn]] void BadUrl(std::wstring_view url, const char* why) {
    throw HttpError("not a usable address (" + std::string(why) + "): " + WideToAnsi(url));
}

}  // namespace

std::shared_ptr<HttpTransport> SetHttpTransport(std::shared_ptr<HttpTransport> transport) {
    return std::exchange(InstalledTransport(), std::move(transport));
}

HttpTransport& CurrentHttpTransport() {
    const auto& installed = InstalledTransport();
    return installed ? *installed : PlatformTransport();
}

void AbandonHttpPosts() { abandonCount.fetch_add(1); }

unsigned HttpAbandonCount() { return abandonCount.load(); }

HttpUrl ParseHttpUrl(std::wstring_view url) {
    HttpUrl result;
    const std::wstring lower = LowerAscii(url);
    std::size_t pos = 0;
    if (lower.starts_with(L"http://")) {
        pos = 7;
        result.port = 80;
    } else if (lower.starts_with(L"https://")) {
        pos = 8;
        result.secure = true;
        result.port = 443;
    } else {
        BadUrl(url, "scheme");
    }
    const auto pathStart = url.find_first_of(L"/?#", pos);
    std::wstring_view authority = url.substr(
        pos, pathStart == std::wstring_view::npos ? std::wstring_view::npos : pathStart - pos);
    if (authority.find(L'@') != std::wstring_view::npos) BadUrl(url, "user information");
    const auto colon = authority.rfind(L':');
    if (colon != std::wstring_view::npos &&
        authority.find(L']', colon) == std::wstring_view::npos) {
        const std::wstring_view port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 || !IsAllDigits(port)) BadUrl(url, "port");
        result.port = DigitsToInt(port, 0);
        if (result.port < 1 || result.port > 65535) BadUrl(url, "port");
        authority = authority.substr(0, colon);
    }
    if (authority.empty()) BadUrl(url, "host");
    for (wchar_t ch : authority)
        if (ch <= L' ' || ch == L'\\' || ch == L'"') BadUrl(url, "host");
    result.host = authority;
    if (pathStart == std::wstring_view::npos) {
        result.path = L"/";
    } else {
        result.path = url.substr(pathStart);
        if (const auto hash = result.path.find(L'#'); hash != std::wstring::npos)
            result.path.erase(hash);
        if (result.path.empty() || result.path[0] != L'/') result.path.insert(0, L"/");
    }
    return result;
}

}  // namespace kelvra
