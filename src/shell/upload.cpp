#include "shell/upload.h"

#include <cstddef>

#include "common/files.h"
#include "common/globals.h"
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

}  // namespace kelvra
