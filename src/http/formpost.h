#pragma once
// The program's one way of talking to the account service: a multipart form
// posted through the proxy of the settings. The account dialogs and the
// upload of a run's payload both post with it.

#include <cstddef>
#include <string>
#include <vector>

namespace kelvra {

// In the entry that the caller names as the file entry, a value that starts
// with this marker (exactly, letter case included) names a file whose bytes
// are sent as a file part; the path follows the marker.
inline constexpr wchar_t kFileMarker[] = L"[FILE]";

// No entry of the form may name a file.
inline constexpr std::size_t kNoFileEntry = static_cast<std::size_t>(-1);

// Posts the named values as a multipart form to the address, through the
// proxy of the settings when one is configured, and returns the body of the
// answer. Every failure (no connection, a refused proxy, an HTTP error
// status, a time limit, a file part that cannot be read) gives empty text and
// is otherwise swallowed. names and values go pairwise; a names list longer
// than the values list is a failure like any other.
//
// Only the entry at fileEntry may become a file part, when its value starts
// with "[FILE]"; when that file does not exist, the entry is left out. Every
// other value goes as the text typed, marker or not: a password or user name
// that happens to start with "[FILE]" must never send a local file to the
// service.
std::wstring PostData(const std::wstring& address, const std::vector<std::wstring>& names,
                      const std::vector<std::wstring>& values,
                      std::size_t fileEntry = kNoFileEntry);

}  // namespace kelvra
