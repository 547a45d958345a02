#include "common/paths.h"

namespace kelvra {

namespace {

const wchar_t* SeparatorsOf(PathSeparators separators) {
    switch (separators) {
        case PathSeparators::Backslash: return L"\\";
        case PathSeparators::BackslashOrColon: return L"\\:";
        case PathSeparators::Any: break;
    }
    return L"\\/:";
}

}  // namespace

std::size_t FileNameStart(std::wstring_view path, PathSeparators separators) {
    const std::size_t last = path.find_last_of(SeparatorsOf(separators));
    return last == std::wstring_view::npos ? 0 : last + 1;
}

std::size_t ExtensionStart(std::wstring_view path, PathSeparators separators) {
    const std::size_t dot = path.rfind(L'.');
    return dot != std::wstring_view::npos && dot >= FileNameStart(path, separators) ? dot
                                                                                    : path.size();
}

std::wstring_view ExtensionPart(std::wstring_view path, PathSeparators separators) {
    return path.substr(ExtensionStart(path, separators));
}

std::wstring_view WithoutExtension(std::wstring_view path, PathSeparators separators) {
    return path.substr(0, ExtensionStart(path, separators));
}

std::wstring_view FileNameWithoutExtension(std::wstring_view path, PathSeparators separators) {
    const std::size_t start = FileNameStart(path, separators);
    return path.substr(start, ExtensionStart(path, separators) - start);
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

std::wstring IncludeTrailingSeparator(std::wstring_view folder) {
    return folder.ends_with(L'/') ? std::wstring(folder) : IncludeTrailingBackslash(folder);
}

}  // namespace kelvra
