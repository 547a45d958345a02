#include "versions/fileversion.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "common/tools.h"
#include "versions/directversion.h"

namespace kelvra {
namespace {

// ---- the tree of a version block -------------------------------------------
//
// Every node: a length word (the node with its children), a value-length word,
// in the 32-bit layout a type word (1: the value is text, counted in UTF-16
// units), then the NUL-terminated key, padding to a 32-bit boundary, the
// value, padding, and the children. Boundaries are counted from the start of
// the block.

struct BlockLayout {
    std::size_t header;    // bytes before the key
    std::size_t keyChar;   // bytes per key character
    bool hasType;
};
constexpr BlockLayout kLayout32{6, 2, true};
constexpr BlockLayout kLayout16{4, 1, false};

// A real block nests four deep (root, StringFileInfo, string table, string);
// the limit only keeps a hostile block from recursing without end.
constexpr int kMaxDepth = 16;

constexpr std::size_t kFixedRecordSize = 52;  // VS_FIXEDFILEINFO
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;

std::uint16_t WordAt(std::span<const std::byte> block, std::size_t offset) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(block[offset]) |
                                      (std::to_integer<unsigned>(block[offset + 1]) << 8));
}

std::uint32_t DWordAt(std::span<const std::byte> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(WordAt(bytes, offset)) |
           (static_cast<std::uint32_t>(WordAt(bytes, offset + 2)) << 16);
}

constexpr std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// The offset just past the key's terminator, or 0 when the key does not end
// inside [start, end).
std::size_t KeyEnd(std::span<const std::byte> block, std::size_t start, std::size_t end,
                   const BlockLayout& layout) {
    for (std::size_t at = start; at + layout.keyChar <= end; at += layout.keyChar) {
        const bool nul = layout.keyChar == 2 ? WordAt(block, at) == 0
                                             : std::to_integer<unsigned>(block[at]) == 0;
        if (nul) return at + layout.keyChar;
    }
    return 0;
}

bool NodeIsSound(std::span<const std::byte> block, std::size_t offset, std::size_t limit,
                 const BlockLayout& layout, int depth) {
    if (depth > kMaxDepth || offset > limit || limit - offset < layout.header) return false;
    const std::size_t length = WordAt(block, offset);
    if (length < layout.header || length > limit - offset) return false;
    const std::size_t end = offset + length;

    const std::size_t keyEnd = KeyEnd(block, offset + layout.header, end, layout);
    if (keyEnd == 0) return false;

    // The system finds the children behind the value the same way, trusting
    // the value length; what matters is that each child it reaches lies in
    // this node.
    const std::size_t valueLength = WordAt(block, offset + 2);
    const bool textValue = layout.hasType && WordAt(block, offset + 4) != 0;
    const std::size_t valueBytes = textValue ? valueLength * 2 : valueLength;
    std::size_t child = Align4(Align4(keyEnd) + valueBytes);

    // Fewer bytes than a node header at the end are padding.
    while (child < end && end - child >= layout.header) {
        const std::size_t childLength = WordAt(block, child);
        if (childLength == 0) break;  // the system's walk stops at an empty node as well
        if (!NodeIsSound(block, child, end, layout, depth + 1)) return false;
        child = Align4(child + childLength);
    }
    return true;
}

bool LiesInside(std::span<const std::byte> buffer, const void* value) {
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    return value != nullptr && at >= begin && at - begin < buffer.size();
}

std::wstring HexWord(std::uint32_t word) {
    wchar_t text[8];
    std::swprintf(text, 8, L"%04X", static_cast<unsigned>(word & 0xFFFF));
    return text;
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
    std::wstring* fields[] = {&CompanyName,   &FileDescription,  &FileVersion, &InternalName,
                              &LegalCopyRight, &LegalTradeMark, &OriginalFileName,
                              &ProductName,   &ProductVersion,   &Comments};
    static_assert(std::size(fields) == kVersionInfoKeys.size());
    return *fields[index];
}

// ---- checks and formats -------------------------------------------------------

bool VersionBlockIsSound(std::span<const std::byte> block) {
    if (block.size() < 5) return false;
    // In the 16-bit layout the key "VS_VERSION_INFO" starts at byte 4; in the
    // 32-bit layout byte 4 is the low byte of the type word, 0 or 1. The
    // system tells the two apart the same way.
    const bool layout16 = std::to_integer<unsigned>(block[4]) >= 0x20;
    return NodeIsSound(block, 0, block.size(), layout16 ? kLayout16 : kLayout32, 0);
}

std::wstring FormatFixedVersion(std::uint32_t ms, std::uint32_t ls) {
    return std::to_wstring(ms >> 16) + L"." + std::to_wstring(ms & 0xFFFF) + L"." +
           std::to_wstring(ls >> 16) + L"." + std::to_wstring(ls & 0xFFFF);
}

std::wstring StringTablePath(std::uint32_t translation, std::wstring_view key) {
    return L"\\StringFileInfo\\" + HexWord(translation) + HexWord(translation >> 16) + L"\\" +
           std::wstring(key);
}

std::optional<std::span<const std::byte>> SpanInsideBuffer(std::span<const std::byte> buffer,
                                                            const void* value,
                                                            std::size_t bytes) {
    if (!LiesInside(buffer, value)) return std::nullopt;
    const std::size_t offset = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(value) -
                                                        reinterpret_cast<std::uintptr_t>(buffer.data()));
    return buffer.subspan(offset, std::min(bytes, buffer.size() - offset));
}

std::optional<VersionBlock::FixedWords> FixedWordsFromRecord(std::span<const std::byte> buffer,
                                                             const void* record,
                                                             std::size_t length) {
    if (length < kFixedRecordSize) return std::nullopt;
    const auto inside = SpanInsideBuffer(buffer, record, kFixedRecordSize);
    if (!inside || inside->size() < kFixedRecordSize) return std::nullopt;
    if (DWordAt(*inside, 0) != kFixedSignature) return std::nullopt;
    return VersionBlock::FixedWords{DWordAt(*inside, 8), DWordAt(*inside, 12)};
}

std::wstring TextFromValue(std::span<const std::byte> buffer, const void* value, std::size_t chars) {
    std::wstring text;
    const auto inside = SpanInsideBuffer(buffer, value, chars > SIZE_MAX / 2 ? SIZE_MAX : chars * 2);
    if (!inside) return text;
    for (std::size_t at = 0; at + 2 <= inside->size(); at += 2) {
        const auto unit = static_cast<wchar_t>(WordAt(*inside, at));
        if (unit == L'\0') break;
        text += unit;
    }
    return text;
}

// ---- VersionBlock -------------------------------------------------------------

VersionBlock VersionBlock::Load(const std::wstring& path) {
    VersionBlock block;
    // Where the file's own bytes are certainly what the system would give,
    // they are taken straight from it: one open and a few reads instead of
    // the check's open and the system's two mappings of the whole file.
    PeResourceVerdict verdict;
    if (DirectVersionReads()) {
        DirectVersionRead direct = ReadVersionBlockDirect(path);
        if (!direct.block.empty()) {
            block.present_ = true;
            block.data_ = std::move(direct.block);
            block.readable_ = VersionBlockIsSound(block.data_);
            return block;
        }
        verdict = direct.verdict;
    } else {
        verdict = version_platform::CheckFile(path);
    }
    switch (verdict) {
        case PeResourceVerdict::NoVersionResource:
        case PeResourceVerdict::Unsound:
            return block;
        case PeResourceVerdict::NotPe:
        case PeResourceVerdict::Sound:
            break;
    }
    std::uint32_t handle = 0;
    const std::uint32_t size = version_platform::InfoSize(path, handle);
    if (size == 0) return block;
    block.present_ = true;
    // Zero-filled, so that nothing the system leaves unwritten is read as data.
    block.data_.assign(size, std::byte{0});
    block.readable_ = version_platform::LoadInfo(path, handle, block.data_) &&
                      VersionBlockIsSound(block.data_);
    return block;
}

std::optional<VersionBlock::FixedWords> VersionBlock::FixedFileVersion() {
    if (!readable_) return std::nullopt;
    const void* record = nullptr;
    std::uint32_t length = 0;
    if (!version_platform::QueryValue(data_, L"\\", record, length)) return std::nullopt;
    return FixedWordsFromRecord(data_, record, length);
}

std::optional<std::uint32_t> VersionBlock::FirstTranslation() {
    if (!readable_) return std::nullopt;
    const void* table = nullptr;
    std::uint32_t length = 0;
    if (!version_platform::QueryValue(data_, L"\\VarFileInfo\\Translation", table, length))
        return std::nullopt;
    const auto inside = SpanInsideBuffer(data_, table, length);
    if (!inside || inside->size() < 4) return std::nullopt;
    return DWordAt(*inside, 0);
}

std::optional<std::wstring> VersionBlock::StringValue(std::wstring_view subBlock) {
    if (!readable_) return std::nullopt;
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!version_platform::QueryValue(data_, std::wstring(subBlock), value, length))
        return std::nullopt;
    return TextFromValue(data_, value, length);
}

// ---- the three readers ----------------------------------------------------------

std::wstring ReadVersionString(VersionBlock& block, std::wstring_view key) {
    const std::optional<std::uint32_t> translation = block.FirstTranslation();
    if (!translation) return L"";
    return block.StringValue(StringTablePath(*translation, key)).value_or(L"");
}

namespace {

// The second half of GetVersion2, on a block already read.
std::wstring FixedVersionOfBlock(const std::wstring& path, VersionBlock& block) {
    if (!block.present()) return L"";
    // A block without a readable fixed record gives no fixed version at all,
    // rather than numbers read from whatever the buffer holds.
    std::wstring version;
    if (const auto words = block.FixedFileVersion()) version = FormatFixedVersion(words->ms, words->ls);
    WriteLogFmt(L"GetVersion2 [%s] B", {path});
    return version;
}

// The rest of GetAppVersionInfo, on a block already read.
TAppVersionInfo StringTableOfBlock(const std::wstring& path, VersionBlock& block) {
    TAppVersionInfo info;
    for (std::size_t i = 0; i < kVersionInfoKeys.size(); ++i)
        info.Field(i) = ReadVersionString(block, kVersionInfoKeys[i]);
    WriteLogFmt(L"GetAppVersionInfo [%s] B", {path});
    return info;
}

}  // namespace

std::wstring GetVersion2(const std::wstring& path) {
    WriteLogFmt(L"GetVersion2 [%s] A", {path});
    VersionBlock block = VersionBlock::Load(path);
    return FixedVersionOfBlock(path, block);
}

TAppVersionInfo GetAppVersionInfo(const std::wstring& path) {
    WriteLogFmt(L"GetAppVersionInfo [%s] A", {path});
    // One read of the block serves all ten keys; the values are those of
    // reading it once per key.
    VersionBlock block = VersionBlock::Load(path);
    return StringTableOfBlock(path, block);
}

FileVersionResult ReadFileVersions(const std::wstring& path) {
    FileVersionResult result;
    try {
        // The block is read once and serves both the fixed version and the
        // string table: reading a file's version resource is by far the
        // dearest step of an inventory, and a second read of the same file
        // in the same moment gives the same bytes. The log lines are those of
        // GetVersion2 followed by GetAppVersionInfo.
        WriteLogFmt(L"GetVersion2 [%s] A", {path});
        VersionBlock block = VersionBlock::Load(path);
        result.fixedVersion = FixedVersionOfBlock(path, block);
        WriteLogFmt(L"GetAppVersionInfo [%s] A", {path});
        // Of the string table only these two are used. Looking up the other
        // eight, as GetAppVersionInfo does, happens in memory on a block
        // already checked, and leaving them out changes nothing but time.
        result.fileVersionText = ReadVersionString(block, L"FileVersion");
        result.productVersionText = ReadVersionString(block, L"ProductVersion");
        WriteLogFmt(L"GetAppVersionInfo [%s] B", {path});
        result.ok = true;
    } catch (...) {
        // Whatever went wrong with this file, the run goes on with the next.
        result.ok = false;
    }
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
