#include "common/files.h"

#include <algorithm>

#include "common/handles_win32.h"
#include "common/textconv.h"

namespace kelvra {
namespace {

std::string Utf8Path(const std::wstring& path) {
    // Messages name the file in the ANSI code page, like every other text the
    // program shows or writes.
    return WideToAnsi(path);
}

[[noreturn]] void ThrowCannotCreate(const std::wstring& path) {
    throw FileError("Cannot create file \"" + Utf8Path(path) + "\"");
}

[[noreturn]] void ThrowWriteFailed(const std::wstring& path) {
    throw FileError("Cannot write to file \"" + Utf8Path(path) + "\"");
}

void WriteAll(HANDLE file, std::string_view bytes, const std::wstring& path) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            ThrowWriteFailed(path);
        bytes.remove_prefix(written);
    }
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

std::int64_t Ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

std::uint64_t Size(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

}  // namespace

bool FileExists(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring folder = path;
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    if (DirectoryExists(folder)) return true;
    const auto cut = folder.find_last_of(L"\\/");
    if (cut != std::wstring::npos && cut > 0) {
        const std::wstring parent = folder.substr(0, cut);
        // A drive root ("C:") or a UNC share is not created, only used.
        if (!(parent.size() == 2 && parent[1] == L':')) ForceDirectories(parent);
    }
    return CreateDirectoryW(folder.c_str(), nullptr) || DirectoryExists(folder);
}

std::string ReadFileBytes(const std::wstring& path) {
    UniqueHandle file = MakeUniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) throw FileError("Cannot open file \"" + Utf8Path(path) + "\"");
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
            throw FileError("Cannot read file \"" + Utf8Path(path) + "\"");
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    return bytes;
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    UniqueHandle file = MakeUniqueFileHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) ThrowCannotCreate(path);
    WriteAll(file.get(), bytes, path);
}

namespace {

constexpr std::size_t kWriteBatch = 64 * 1024;

}  // namespace

struct PendingFile::State {
    std::wstring target;
    std::wstring temporary;
    UniqueHandle file;
    std::string batch;
    bool finished = false;
    bool committed = false;
};

PendingFile::PendingFile(std::wstring target) : state_(std::make_unique<State>()) {
    // Windows refuses to move a file over a read-only one, Wine does not:
    // check first, so that a read-only target stays as it is everywhere.
    const DWORD attributes = Attributes(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ThrowWriteFailed(target);
    state_->temporary = target + L".tmp";
    state_->target = std::move(target);
    state_->file = MakeUniqueFileHandle(CreateFileW(state_->temporary.c_str(), GENERIC_WRITE, 0,
                                                    nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!state_->file) ThrowCannotCreate(state_->target);
}

PendingFile::PendingFile(PendingFile&&) noexcept = default;
PendingFile& PendingFile::operator=(PendingFile&&) noexcept = default;

PendingFile::~PendingFile() {
    if (!state_ || state_->committed) return;
    state_->file.reset();
    DeleteFileW(state_->temporary.c_str());
}

void PendingFile::Write(std::string_view bytes) {
    State& state = *state_;
    if (!state.batch.empty() && state.batch.size() + bytes.size() > kWriteBatch) {
        WriteAll(state.file.get(), state.batch, state.target);
        state.batch.clear();
    }
    if (bytes.size() >= kWriteBatch)
        WriteAll(state.file.get(), bytes, state.target);
    else
        state.batch += bytes;
}

void PendingFile::Finish() {
    State& state = *state_;
    if (state.finished) return;
    WriteAll(state.file.get(), state.batch, state.target);
    state.batch = std::string();
    if (!FlushFileBuffers(state.file.get())) ThrowWriteFailed(state.target);
    state.file.reset();
    state.finished = true;
}

void PendingFile::Commit() {
    Finish();
    State& state = *state_;
    if (!MoveFileExW(state.temporary.c_str(), state.target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ThrowWriteFailed(state.target);
    state.committed = true;
}

const std::wstring& PendingFile::temporaryPath() const { return state_->temporary; }

struct ReadOnlyFile::Handle {
    UniqueHandle file;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Handle> handle, std::uint64_t size)
    : handle_(std::move(handle)), size_(size) {}
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile::~ReadOnlyFile() = default;

std::optional<ReadOnlyFile> ReadOnlyFile::Open(const std::wstring& path) {
    auto handle = std::make_unique<Handle>();
    handle->file = MakeUniqueFileHandle(CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!handle->file || !GetFileSizeEx(handle->file.get(), &size)) return std::nullopt;
    return ReadOnlyFile(std::move(handle), static_cast<std::uint64_t>(size.QuadPart));
}

std::size_t ReadOnlyFile::ReadAt(std::uint64_t offset, std::span<std::byte> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        // The offset travels with each read: no separate call to move the
        // file pointer first.
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(handle_->file.get(), out.data() + done, chunk, &got, &at) || got == 0) break;
        done += got;
    }
    return done;
}

void AppendFileBytes(const std::wstring& path, std::string_view bytes) {
    UniqueHandle file =
        MakeUniqueFileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) ThrowCannotCreate(path);
    WriteAll(file.get(), bytes, path);
}

bool DeleteFileAt(const std::wstring& path) {
    return DeleteFileW(path.c_str()) || !FileExists(path);
}

std::vector<DirEntry> FindEntries(const std::wstring& mask) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAW data{};
    UniqueFindHandle search(
        FindFirstFileExW(mask.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
    if (search.get() == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry entry;
        entry.name = name;
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!entry.isDirectory) entry.size = Size(data.nFileSizeHigh, data.nFileSizeLow);
        entry.lastWriteTime = Ticks(data.ftLastWriteTime);
        entry.creationTime = Ticks(data.ftCreationTime);
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search.get(), &data));
    return entries;
}

std::optional<FileFacts> FileFactsOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return FileFacts{Size(data.nFileSizeHigh, data.nFileSizeLow), Ticks(data.ftLastWriteTime),
                     Ticks(data.ftCreationTime)};
}

std::optional<std::int64_t> FileLastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return Ticks(data.ftLastWriteTime);
}

bool DriveMayBlockLong(wchar_t letter) {
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    switch (GetDriveTypeW(root)) {
        case DRIVE_FIXED:
        case DRIVE_RAMDISK:
        case DRIVE_NO_ROOT_DIR: return false;
        default: return true;  // remote, removable, optical, unknown
    }
}

}  // namespace kelvra
