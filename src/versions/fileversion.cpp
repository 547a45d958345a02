#include "versions/fileversion.h"

#include <utility>

#include "common/tools.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

// ---- the one read of a version resource ------------------------------------------

// What the read found. Each part is stored as soon as it is complete, so
// that an error raised later leaves what came before it.
struct VersionRead {
    std::wstring fixedVersion, fileVersionText, productVersionText;
    bool settled = true;  // the block's settled(), once it was loaded
    VersionReadFailure failure = VersionReadFailure::None;
};

// The block is loaded once, after the first "A" line, and serves both the
// fixed version and the string table: reading a file's version resource is
// by far the dearest step of an inventory. The trace lines are those of the
// design's two readers, GetVersion2's followed by GetAppVersionInfo's;
// "GetVersion2 [path] B" only when the file has a block. Errors (the log
// failing, memory running out) travel on.
void ReadVersionResource(const std::wstring& path, VersionRead& read) {
    WriteLogFmt(L"GetVersion2 [%s] A", {path});
    VersionBlock block = VersionBlock::Load(path);
    read.settled = block.settled();
    read.failure = block.failure();
    if (block.present()) {
        // A block without a readable fixed record gives no fixed version
        // at all, rather than numbers read from whatever the buffer holds.
        std::wstring version;
        if (const auto words = block.FixedFileVersion())
            version = FormatFixedVersion(words->ms, words->ls);
        WriteLogFmt(L"GetVersion2 [%s] B", {path});
        read.fixedVersion = std::move(version);
    }
    WriteLogFmt(L"GetAppVersionInfo [%s] A", {path});
    // The lookups happen in memory on a block already checked; of the
    // table's strings only these two are used.
    read.fileVersionText = ReadVersionString(block, L"FileVersion");
    read.productVersionText = ReadVersionString(block, L"ProductVersion");
    WriteLogFmt(L"GetAppVersionInfo [%s] B", {path});
}

// ---- the installed reader -----------------------------------------------------

class PlatformFileVersionReader : public FileVersionReader {
  public:
    FileVersionResult Read(const std::wstring& path) override { return ReadFileVersions(path); }
};

std::shared_ptr<FileVersionReader>& InstalledReader() {
    static std::shared_ptr<FileVersionReader> reader;
    return reader;
}

}  // namespace

FileVersionResult ReadFileVersions(const std::wstring& path) {
    FileVersionResult result;
    VersionRead read;
    try {
        ReadVersionResource(path, read);
        result.settled = read.settled;
        result.failure = read.failure;
        result.ok = true;
    } catch (...) {
        // Whatever went wrong with this file, the run goes on with the next.
        result.ok = false;
    }
    result.fixedVersion = std::move(read.fixedVersion);
    result.fileVersionText = std::move(read.fileVersionText);
    result.productVersionText = std::move(read.productVersionText);
    return result;
}

// ---- the installed reader -------------------------------------------------------

std::shared_ptr<FileVersionReader> CurrentFileVersionReader() {
    static const auto platform = std::make_shared<PlatformFileVersionReader>();
    const std::shared_ptr<FileVersionReader>& installed = InstalledReader();
    return installed ? installed : platform;
}

std::shared_ptr<FileVersionReader> SetFileVersionReader(std::shared_ptr<FileVersionReader> reader) {
    return std::exchange(InstalledReader(), std::move(reader));
}

}  // namespace kelvra
