#pragma once

// The version resource of an executable: its fixed file version and the
// string table of its first translation, read through the system's
// version-information functions, which read a file on disk without loading
// it. Executable discovery turns three of these texts into candidates.
//
// The block itself is in versionblock.h, the walk that decides whether a file
// is handed to the system at all in peresource.h.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "versions/file_helper.h"

namespace kelvra {

// What ReadFileVersions found. With ok false the texts are not to be used.
struct FileVersionResult {
    bool ok = false;
    std::wstring fixedVersion;        // "1.2.3.4", or empty
    std::wstring fileVersionText;     // the "FileVersion" string as stored
    std::wstring productVersionText;  // the "ProductVersion" string as stored
    // Whether the outcome is the file's own, which the same file gives again:
    // false when the file could not be opened (another program holds it, its
    // rights forbid it), the system could not read the block it reported, or
    // the read failed as below. Such an outcome is never remembered between
    // runs.
    bool settled = true;
    // Why the file gave nothing of its own: the system's reader crashed or
    // hung on it, no helper could read it, or its volume did not answer.
    VersionReadFailure failure = VersionReadFailure::None;
};

// The three texts of one executable: the fixed file version as four
// unsigned decimal numbers joined by full stops (empty when the block holds
// no readable fixed record), and the "FileVersion" and "ProductVersion"
// strings of the first translation. A file without a version resource, a
// missing or unreadable file gives ok with three empty texts; ok is false
// only when reading raised an error (the trace log failing, memory running
// out). The block is loaded once. Logs the trace lines of the design's two
// readers of a file, "GetVersion2 [path] A", "GetVersion2 [path] B" (only
// when the file has a block), "GetAppVersionInfo [path] A" and
// "GetAppVersionInfo [path] B".
FileVersionResult ReadFileVersions(const std::wstring& path);

// ---- replaceable reader, so that discovery can be tested without files ----

class FileVersionReader {
  public:
    virtual ~FileVersionReader() = default;
    virtual FileVersionResult Read(const std::wstring& path) = 0;
};

// The reader that executable discovery uses: the installed one, or the
// platform reader (ReadFileVersions; in the native build the system part is a
// stand-in that finds no version blocks).
std::shared_ptr<FileVersionReader> CurrentFileVersionReader();

// Installs a reader; an empty pointer restores the platform reader. Returns
// the reader installed before (empty for the platform reader).
std::shared_ptr<FileVersionReader> SetFileVersionReader(std::shared_ptr<FileVersionReader> reader);

// ---- system rim (fileversion_win32.cpp / fileversion_native.cpp) ----------
// The system's reading of the file itself is in file_helper.h: it runs only
// in the helper process.

namespace version_platform {
// VerQueryValueW on a block already checked: the pointer and length as the
// system reports them, unchecked.
bool QueryValue(std::span<std::byte> buffer, const std::wstring& subBlock, const void*& value,
                std::uint32_t& length);
}  // namespace version_platform

}  // namespace kelvra
