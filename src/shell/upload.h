#pragma once
// The program's one way of talking to the account service (PostData) and the
// upload of a run's payload file with it.

#include <string>
#include <vector>

namespace kelvra {

inline constexpr wchar_t kUploadPath[] = L"/kv2/account_post.php";

// A value that starts with this marker (exactly, letter case included) names
// a file whose bytes are sent as a file part; the path follows the marker.
inline constexpr wchar_t kFileMarker[] = L"[FILE]";

// Posts the named values as a multipart form to the address, through the
// proxy of the settings when one is configured, and returns the body of the
// answer. Every failure (no connection, a refused proxy, an HTTP error
// status, a time limit, a file part that cannot be read) gives empty text and
// is otherwise swallowed. A "[FILE]" value whose file does not exist is left
// out of the form. names and values go pairwise; a names list longer than
// the values list is a failure like any other.
std::wstring PostData(const std::wstring& address, const std::vector<std::wstring>& names,
                      const std::vector<std::wstring>& values);

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
