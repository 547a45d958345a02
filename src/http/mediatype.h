#pragma once
// The media type of a file part, judged by the file name's extension.

#include <string>
#include <string_view>

namespace kelvra {

// ".txt" gives text/plain; the usual web types are known, case-insensitively;
// anything else, and a name without extension, gives application/octet-stream.
// The extension is what follows the last "." of the file name, never a dot in
// a folder name.
std::wstring MediaTypeForPath(std::wstring_view path);

}  // namespace kelvra
