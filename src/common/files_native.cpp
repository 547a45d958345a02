// The native build's file system: std::filesystem, with Windows backslashes
// read as slashes so that portable code that joins paths with "\" works.

#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <system_error>

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

std::int64_t Nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The facts of a regular file; nothing for anything else.
std::optional<FileFacts> FactsOfNative(const fs::path& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    return FileFacts{static_cast<std::uint64_t>(facts.st_size), Nanoseconds(facts.st_mtim),
                     Nanoseconds(facts.st_ctim)};
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

struct PendingFile::State {
    std::wstring target;
    std::wstring temporary;
    std::ofstream out;
    bool finished = false;
    bool committed = false;
};

PendingFile::PendingFile(std::wstring target) : state_(std::make_unique<State>()) {
    std::error_code error;
    // A rename replaces a read-only file here; Windows refuses to. Refuse
    // alike, so that a read-only target stays as it is.
    const auto status = fs::status(NativePath(target), error);
    if (!error && fs::is_regular_file(status) &&
        (status.permissions() & fs::perms::owner_write) == fs::perms::none)
        throw FileError("Cannot write to file \"" + Named(target) + "\"");
    state_->temporary = target + L".tmp";
    state_->target = std::move(target);
    state_->out.open(NativePath(state_->temporary), std::ios::binary | std::ios::trunc);
    if (!state_->out) throw FileError("Cannot create file \"" + Named(state_->target) + "\"");
}

PendingFile::PendingFile(PendingFile&&) noexcept = default;
PendingFile& PendingFile::operator=(PendingFile&&) noexcept = default;

PendingFile::~PendingFile() {
    if (!state_ || state_->committed) return;
    state_->out.close();
    std::error_code error;
    fs::remove(NativePath(state_->temporary), error);
}

void PendingFile::Write(std::string_view bytes) {
    state_->out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!state_->out) throw FileError("Cannot write to file \"" + Named(state_->target) + "\"");
}

void PendingFile::Finish() {
    State& state = *state_;
    if (state.finished) return;
    state.out.flush();
    if (!state.out) throw FileError("Cannot write to file \"" + Named(state.target) + "\"");
    state.out.close();
    state.finished = true;
}

void PendingFile::Commit() {
    Finish();
    std::error_code error;
    fs::rename(NativePath(state_->temporary), NativePath(state_->target), error);
    if (error) throw FileError("Cannot write to file \"" + Named(state_->target) + "\"");
    state_->committed = true;
}

const std::wstring& PendingFile::temporaryPath() const { return state_->temporary; }

struct ReadOnlyFile::Handle {
    int fd = -1;
    ~Handle() {
        if (fd >= 0) ::close(fd);
    }
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Handle> handle, std::uint64_t size)
    : handle_(std::move(handle)), size_(size) {}
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile::~ReadOnlyFile() = default;

std::optional<ReadOnlyFile> ReadOnlyFile::Open(const std::wstring& path) {
    auto handle = std::make_unique<Handle>();
    handle->fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat facts {};
    if (handle->fd < 0 || ::fstat(handle->fd, &facts) != 0 || !S_ISREG(facts.st_mode))
        return std::nullopt;
    return ReadOnlyFile(std::move(handle), static_cast<std::uint64_t>(facts.st_size));
}

std::size_t ReadOnlyFile::ReadAt(std::uint64_t offset, std::span<std::byte> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(handle_->fd, out.data() + done, out.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
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
        if (!entry.isDirectory) {
            const std::optional<FileFacts> facts = FactsOfNative(item.path());
            if (facts) {
                entry.size = facts->size;
                entry.lastWriteTime = facts->lastWriteTime;
                entry.creationTime = facts->creationTime;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<FileFacts> FileFactsOf(const std::wstring& path) {
    return FactsOfNative(NativePath(path));
}

std::optional<std::int64_t> FileLastWriteTime(const std::wstring& path) {
    std::error_code error;
    const auto time = fs::last_write_time(NativePath(path), error);
    if (error) return std::nullopt;
    return static_cast<std::int64_t>(time.time_since_epoch().count());
}

// A development machine's folders are its own disks.
bool DriveMayBlockLong(wchar_t) { return false; }

}  // namespace kelvra
