#pragma once
// The file system as the program uses it: existence tests, whole-file reads
// and writes, appends, folder creation and wildcard listing. Paths are
// Windows paths; the native build maps backslashes to slashes so that the
// portable code can be exercised on a development machine.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

// An input/output failure. The message names the file.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

bool FileExists(const std::wstring& path);       // an existing file, not a folder
bool DirectoryExists(const std::wstring& path);  // an existing folder

// Creates the folder and every missing parent. True when the folder exists
// afterwards.
bool ForceDirectories(const std::wstring& path);

// The whole file. Throws FileError when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// Creates or truncates the file and writes the bytes. Throws FileError with
// the message "Cannot create file \"<path>\"" or a write failure.
void WriteFileBytes(const std::wstring& path, std::string_view bytes);

// Writes the bytes to a new file beside the target and then puts it in the
// target's place in one step, so that a failure leaves the old file whole and
// no half-written target ever exists. Throws FileError.
void ReplaceFileBytes(const std::wstring& path, std::string_view bytes);

// The same for bytes given in pieces, written one after another, so that a
// large file never has to be held in memory in one piece as well.
void ReplaceFileBytes(const std::wstring& path, std::span<const std::string> pieces);

// A file written in pieces under a temporary name beside its target (the
// target's name + ".tmp") and put in the target's place in one step by
// Commit. Until then no file carries the target's name, and a writer dropped
// without Commit deletes its temporary, so that a failure anywhere leaves no
// half-written target and the old target, if any, whole. Small writes are
// gathered into larger ones. Throws FileError.
class PendingFile {
  public:
    // Creates the temporary; a read-only target is refused at once, since
    // Windows would refuse to replace it only at the end.
    explicit PendingFile(std::wstring target);
    PendingFile(PendingFile&&) noexcept;
    PendingFile& operator=(PendingFile&&) noexcept;
    ~PendingFile();

    void Write(std::string_view bytes);
    // Writes what is gathered and flushes it to the disk; the temporary stays
    // under its name and can be read back.
    void Finish();
    // Finishes if need be and puts the temporary in the target's place.
    void Commit();

    const std::wstring& temporaryPath() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A file opened for reading at given offsets, shared in every way so that it
// never stands in the way of another program that has the file open.
class ReadOnlyFile {
  public:
    // Nothing when the file cannot be opened or its size not read.
    static std::optional<ReadOnlyFile> Open(const std::wstring& path);
    ReadOnlyFile(ReadOnlyFile&&) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&&) noexcept;
    ~ReadOnlyFile();

    std::uint64_t size() const noexcept { return size_; }
    // Reads up to out.size() bytes at the offset; returns how many it read,
    // fewer at the end of the file or when reading fails.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> out) const;

  private:
    struct Handle;
    ReadOnlyFile(std::unique_ptr<Handle> handle, std::uint64_t size);
    std::unique_ptr<Handle> handle_;
    std::uint64_t size_ = 0;
};

// Appends to the file, creating it when missing. Throws FileError.
void AppendFileBytes(const std::wstring& path, std::string_view bytes);

// Deletes a file; true when it is gone afterwards.
bool DeleteFileAt(const std::wstring& path);

// What a folder listing tells of a file without opening it. The times are
// the system's own counts: 100 ns ticks on Windows; natively nanoseconds,
// with the status-change time standing in for the creation time.
struct FileFacts {
    std::uint64_t size = 0;  // bytes
    std::int64_t lastWriteTime = 0;
    std::int64_t creationTime = 0;

    friend bool operator==(const FileFacts&, const FileFacts&) = default;
};

struct DirEntry {
    std::wstring name;       // bare name
    std::uint64_t size = 0;  // bytes; 0 for folders
    bool isDirectory = false;
    std::int64_t lastWriteTime = 0;  // as in FileFacts
    std::int64_t creationTime = 0;

    FileFacts facts() const { return {size, lastWriteTime, creationTime}; }
};

// The entries that the system's wildcard search returns for the mask (for
// example C:\App\*.exe), hidden and system files included, "." and ".."
// excluded. A mask whose folder does not exist or cannot be listed gives an
// empty list.
std::vector<DirEntry> FindEntries(const std::wstring& mask);

// The listing facts of one file, as FindEntries gives them, or nothing when
// there is no such file (a folder is none). One system call, no open: it
// costs what FileExists costs.
std::optional<FileFacts> FileFactsOf(const std::wstring& path);

// Whether a call on the drive with this letter may wait long for its
// volume: a network drive, a removable or optical one, or one the system
// cannot tell; never a fixed disk or a RAM disk, which answer at once.
bool DriveMayBlockLong(wchar_t letter);

// Last-write time as a monotonic count (100 ns ticks on Windows), or nothing
// when the file does not exist.
std::optional<std::int64_t> FileLastWriteTime(const std::wstring& path);

}  // namespace kelvra
