#pragma once
// The upload of a run's payload file to the account service.

#include <string>
#include <string_view>

#include "http/formpost.h"
#include "http/transport.h"

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

// What stands in the shown request for a password.
inline constexpr char kMaskedSecret[] = "********";

// The upload's request as the transport puts it on the wire, for kvscan
// --show-upload: the request line, the headers (the post's Content-Type and
// those WinHTTP adds itself: User-Agent, Host, Content-Length, Connection),
// a blank line and the body, as the bytes go (lines end in CR LF). The value of the form's
// "password" field reads kMaskedSecret; Content-Length still counts the
// bytes that would go, the password's own included. Through a proxy an http
// address stands in full in the request line, as a proxy needs it; an https
// request goes inside the proxy's tunnel with its path alone.
std::string ShownUploadRequest(const HttpPost& post);

// The body with the value of every text field of the given name replaced by
// kMaskedSecret. boundary: the multipart boundary, which occurs in no part.
std::string MaskFormField(std::string_view body, std::string_view boundary, std::string_view name);

}  // namespace kelvra
