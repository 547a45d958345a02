#include "versions/fileversion.h"

#include <optional>
#include <utility>

#include "common/tools.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

// ---- the one read of a version resource ------------------------------------------

// The index of a key in kVersionInfoKeys.
constexpr std::size_t KeyIndex(std::wstring_view key) {
    std::size_t index = 0;
    while (kVersionInfoKeys[index] != key) ++index;
    return index;
}

constexpr auto kAllKeys = [] {
    std::array<std::size_t, kVersionInfoKeys.size()> all{};
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
}();
// The two keys whose values are used further.
constexpr std::array<std::size_t, 2> kUsedKeys = {KeyIndex(L"FileVersion"),
                                                  KeyIndex(L"ProductVersion")};

// What one read asks of a file's version resource.
struct VersionParts {
    bool fixedVersion = false;          // the fixed file version, with GetVersion2's trace lines
    bool stringTable = false;           // string-table values, with GetAppVersionInfo's trace lines
    std::span<const std::size_t> keys;  // the keys looked up, as indices into kVersionInfoKeys
};

// What the read found. Each part is stored as soon as it is complete, so
// that an error raised later leaves what came before it.
struct VersionRead {
    std::wstring fixedVersion;
    TAppVersionInfo strings;
    bool settled = true;  // the block's settled(), once it was loaded
    VersionReadFailure failure = VersionReadFailure::None;
};

// Reads the parts asked for. The block is loaded once, after the first
// "A" line, and serves both parts: reading a file's version resource is by
// far the dearest step of an inventory, and a second read of the same file
// in the same moment gives the same bytes. The trace lines are GetVersion2's
// followed by GetAppVersionInfo's; "GetVersion2 [path] B" only when the file
// has a block. Errors (the log failing, memory running out) travel on.
void ReadVersionResource(const std::wstring& path, const VersionParts& parts, VersionRead& read) {
    std::optional<VersionBlock> block;
    const auto loaded = [&]() -> VersionBlock& {
        if (!block) {
            block = VersionBlock::Load(path);
            read.settled = block->settled();
            read.failure = block->failure();
        }
        return *block;
    };
    if (parts.fixedVersion) {
        WriteLogFmt(L"GetVersion2 [%s] A", {path});
        VersionBlock& fixedBlock = loaded();
        if (fixedBlock.present()) {
            // A block without a readable fixed record gives no fixed version
            // at all, rather than numbers read from whatever the buffer holds.
            std::wstring version;
            if (const auto words = fixedBlock.FixedFileVersion())
                version = FormatFixedVersion(words->ms, words->ls);
            WriteLogFmt(L"GetVersion2 [%s] B", {path});
            read.fixedVersion = std::move(version);
        }
    }
    if (parts.stringTable) {
        WriteLogFmt(L"GetAppVersionInfo [%s] A", {path});
        VersionBlock& tableBlock = loaded();
        // The lookups happen in memory on a block already checked; leaving
        // out keys whose values are not used changes nothing but time.
        for (const std::size_t key : parts.keys)
            read.strings.Field(key) = ReadVersionString(tableBlock, kVersionInfoKeys[key]);
        WriteLogFmt(L"GetAppVersionInfo [%s] B", {path});
    }
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

std::wstring& TAppVersionInfo::Field(std::size_t index) {
    std::wstring* fields[] = {&CompanyName,    &FileDescription, &FileVersion,      &InternalName,
                              &LegalCopyRight, &LegalTradeMark,  &OriginalFileName, &ProductName,
                              &ProductVersion, &Comments};
    static_assert(std::size(fields) == kVersionInfoKeys.size());
    return *fields[index];
}

// ---- the design's readers ----------------------------------------------------------

std::wstring GetVersion2(const std::wstring& path) {
    VersionRead read;
    ReadVersionResource(path, {.fixedVersion = true, .stringTable = false, .keys = {}}, read);
    return read.fixedVersion;
}

TAppVersionInfo GetAppVersionInfo(const std::wstring& path) {
    VersionRead read;
    ReadVersionResource(path, {.fixedVersion = false, .stringTable = true, .keys = kAllKeys}, read);
    return read.strings;
}

FileVersionResult ReadFileVersions(const std::wstring& path) {
    FileVersionResult result;
    VersionRead read;
    try {
        ReadVersionResource(path, {.fixedVersion = true, .stringTable = true, .keys = kUsedKeys},
                            read);
        result.settled = read.settled;
        result.failure = read.failure;
        result.ok = true;
    } catch (...) {
        // Whatever went wrong with this file, the run goes on with the next.
        result.ok = false;
    }
    result.fixedVersion = std::move(read.fixedVersion);
    result.fileVersionText = std::move(read.strings.FileVersion);
    result.productVersionText = std::move(read.strings.ProductVersion);
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
