#pragma once
// The upload of a run's payload file to the account service.

#include <string>

#include "http/formpost.h"

namespace kelvra {

inline constexpr wchar_t kUploadPath[] = L"/kv2/account_post.php";

// The account values an upload carries.
struct UploadAccount {
    std::wstring username;
    std::wstring password;
    std::wstring profile;
};

struct UploadResult {
    bool sent = false;    // false: no payload file at the path, nothing was sent
    std::wstring answer;  // the service's answer; empty when the post failed
};

// Posts the payload file with the account values of the settings to the
// account post page. The tray program ignores the result.
UploadResult UploadInventory(const std::wstring& payloadPath);

// The same with account values given by the caller (the console scanner).
UploadResult UploadInventory(const std::wstring& payloadPath, const UploadAccount& account);

}  // namespace kelvra
