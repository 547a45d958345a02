#include "common/paths.h"

namespace kelvra {

std::size_t FileNameStart(std::wstring_view path, PathSeparators separators) {
    const std::size_t last =
        path.find_last_of(separators == PathSeparators::Any ? L"\\/:" : L"\\:");
    return last == std::wstring_view::npos ? 0 : last + 1;
}

std::wstring FolderPart(std::wstring_view path, PathSeparators separators) {
    return std::wstring(path.substr(0, FileNameStart(path, separators)));
}

std::wstring FileNamePart(std::wstring_view path, PathSeparators separators) {
    return std::wstring(path.substr(FileNameStart(path, separators)));
}

std::wstring IncludeTrailingBackslash(std::wstring_view path) {
    std::wstring result(path);
    if (result.empty() || result.back() != L'\\') result += L'\\';
    return result;
}

}  // namespace kelvra
