#include "shell/upload.h"

#include <cstddef>

#include "common/files.h"
#include "common/globals.h"
#include "common/textconv.h"
#include "http/service_address.h"

namespace kelvra {
namespace {

// The upload form's "apps" entry: the one entry of the program's posts that
// carries a file.
constexpr std::size_t kPayloadEntry = 3;

}  // namespace

UploadResult UploadInventory(const std::wstring& payloadPath) {
    return UploadInventory(payloadPath, {AccountUsername, AccountPassword, AccountProfile});
}

UploadResult UploadInventory(const std::wstring& payloadPath, const UploadAccount& account) {
    UploadResult result;
    if (!FileExists(payloadPath)) return result;
    result.sent = true;
    result.answer =
        PostData(ServiceAddress(kUploadPath), {L"username", L"password", L"profile", L"apps"},
                 {account.username, account.password, account.profile,
                  std::wstring(kFileMarker) + payloadPath},
                 kPayloadEntry);
    return result;
}

std::string MaskFormField(std::string_view body, std::string_view boundary, std::string_view name) {
    const std::string head =
        "Content-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n\r\n";
    const std::string next = "\r\n--" + std::string(boundary);
    std::string masked;
    std::size_t done = 0;
    for (std::size_t at = body.find(head); at != std::string_view::npos;
         at = body.find(head, done)) {
        const std::size_t value = at + head.size();
        const std::size_t end = body.find(next, value);
        if (end == std::string_view::npos) break;
        masked.append(body.substr(done, value - done));
        masked += kMaskedSecret;
        done = end;
    }
    masked.append(body.substr(done));
    return masked;
}

std::string ShownUploadRequest(const HttpPost& post) {
    const HttpUrl url = ParseHttpUrl(post.url);
    std::string host = WideToAnsi(url.host);
    if (url.port != (url.secure ? 443 : 80)) host += ':' + std::to_string(url.port);
    const std::string target =
        post.proxy && !url.secure ? "http://" + host + WideToAnsi(url.path) : WideToAnsi(url.path);
    const std::string contentType = WideToAnsi(post.contentType);
    const std::string marker = "boundary=";
    const std::size_t boundary = contentType.find(marker);
    const std::string body =
        boundary == std::string::npos
            ? post.body
            : MaskFormField(post.body, contentType.substr(boundary + marker.size()), "password");
    return "POST " + target + " HTTP/1.1\r\n" + "Content-Type: " + contentType + "\r\n" +
           "User-Agent: " + WideToAnsi(post.userAgent) + "\r\n" + "Host: " + host + "\r\n" +
           "Content-Length: " + std::to_string(post.body.size()) + "\r\n" +
           "Connection: Keep-Alive\r\n\r\n" + body;
}

}  // namespace kelvra
