// The native build's file system: std::filesystem, with Windows backslashes
// read as slashes so that portable code that joins paths with "\" works.

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/files.h"
#include "common/textconv.h"

namespace kelvra {
namespace fs = std::filesystem;
namespace {

fs::path NativePath(std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return fs::path(path);
}

std::string Named(const std::wstring& path) { return WideToAnsi(path); }

bool WildcardMatch(std::wstring_view pattern, std::wstring_view name) {
    // Iterative '*' / '?' matcher, case-insensitive like the Windows search.
    std::size_t p = 0, n = 0, star = std::wstring_view::npos, mark = 0;
    auto same = [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            mark = n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

template <class Pieces>
void WriteWhole(const fs::path& target, const Pieces& pieces, const std::wstring& shown) {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) throw FileError("Cannot create file \"" + Named(shown) + "\"");
    for (const std::string_view bytes : pieces)
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) throw FileError("Cannot write to file \"" + Named(shown) + "\"");
}

}  // namespace

bool FileExists(const std::wstring& path) {
    std::error_code error;
    return fs::is_regular_file(NativePath(path), error);
}

bool DirectoryExists(const std::wstring& path) {
    std::error_code error;
    return fs::is_directory(NativePath(path), error);
}

bool ForceDirectories(const std::wstring& path) {
    std::error_code error;
    fs::create_directories(NativePath(path), error);
    return DirectoryExists(path);
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) throw FileError("Cannot open file \"" + Named(path) + "\"");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    WriteWhole(NativePath(path), std::span<const std::string_view>(&bytes, 1), path);
}

namespace {

template <class Pieces>
void ReplaceWithPieces(const std::wstring& path, const Pieces& pieces) {
    const fs::path target = NativePath(path);
    std::error_code error;
    // A rename replaces a read-only file here; Windows refuses to. Refuse
    // alike, so that a read-only target stays as it is.
    const auto status = fs::status(target, error);
    if (!error && fs::is_regular_file(status) &&
        (status.permissions() & fs::perms::owner_write) == fs::perms::none)
        throw FileError("Cannot write to file \"" + Named(path) + "\"");
    fs::path temporary = target;
    temporary += ".tmp";
    try {
        WriteWhole(temporary, pieces, path);
    } catch (...) {
        fs::remove(temporary, error);
        throw;
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        throw FileError("Cannot write to file \"" + Named(path) + "\"");
    }
}

}  // namespace

void ReplaceFileBytes(const std::wstring& path, std::string_view bytes) {
    ReplaceWithPieces(path, std::span<const std::string_view>(&bytes, 1));
}

void ReplaceFileBytes(const std::wstring& path, std::span<const std::string> pieces) {
    ReplaceWithPieces(path, pieces);
}

void AppendFileBytes(const std::wstring& path, std::string_view bytes) {
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::app);
    if (!out) throw FileError("Cannot create file \"" + Named(path) + "\"");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) throw FileError("Cannot write to file \"" + Named(path) + "\"");
}

bool DeleteFileAt(const std::wstring& path) {
    std::error_code error;
    fs::remove(NativePath(path), error);
    return !FileExists(path);
}

std::vector<DirEntry> FindEntries(const std::wstring& mask) {
    std::vector<DirEntry> entries;
    const fs::path native = NativePath(mask);
    const std::wstring pattern = native.filename().wstring();
    const fs::path folder = native.has_parent_path() ? native.parent_path() : fs::path(".");
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return entries;
    for (const auto& item : it) {
        const std::wstring name = item.path().filename().wstring();
        if (!WildcardMatch(pattern, name)) continue;
        DirEntry entry;
        entry.name = name;
        entry.isDirectory = item.is_directory(error);
        if (!entry.isDirectory) entry.size = item.file_size(error);
        if (error) entry.size = 0;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::int64_t> FileLastWriteTime(const std::wstring& path) {
    std::error_code error;
    const auto time = fs::last_write_time(NativePath(path), error);
    if (error) return std::nullopt;
    return static_cast<std::int64_t>(time.time_since_epoch().count());
}

}  // namespace kelvra
