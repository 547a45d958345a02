// The walk from an executable's headers to its version resource, done on the
// file's bytes with every offset checked, before the system is asked to do
// the same walk on a mapped image.

#include "versions/peresource.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kelvra {
namespace {

constexpr std::uint32_t kVersionType = 16;  // RT_VERSION
constexpr std::size_t kMaxSections = 96;    // the most the system's loader accepts
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
// Smaller than any version block: such an entry would make the system read
// node headers past the data it was given.
constexpr std::uint32_t kMinVersionData = 8;

std::uint32_t Word(const std::vector<std::byte>& bytes, std::size_t at) {
    return std::to_integer<std::uint32_t>(bytes[at]) |
           (std::to_integer<std::uint32_t>(bytes[at + 1]) << 8);
}

std::uint32_t DWord(const std::vector<std::byte>& bytes, std::size_t at) {
    return Word(bytes, at) | (Word(bytes, at + 2) << 16);
}

struct Section {
    std::uint64_t address;   // relative virtual address
    std::uint64_t readable;  // bytes from address that the file really holds
    std::uint64_t fileOffset;
};

class ImageReader {
  public:
    ImageReader(std::uint64_t fileSize, const ReadFileAt& readAt)
        : fileSize_(fileSize), readAt_(readAt) {}

    // Exactly count bytes at the file offset, or nothing; nothing too once
    // the walk has used up its reads, which makes the file Unsound.
    std::optional<std::vector<std::byte>> ReadFile(std::uint64_t offset, std::size_t count) const {
        if (offset > fileSize_ || count > fileSize_ - offset) return std::nullopt;
        if (reads_ >= kMaxPeResourceReads) return std::nullopt;
        ++reads_;
        std::vector<std::byte> bytes(count);
        if (count && readAt_(offset, bytes) != count) return std::nullopt;
        return bytes;
    }

    // Exactly count bytes at the virtual address, when one section's file
    // data holds all of them.
    std::optional<std::vector<std::byte>> ReadImage(std::uint64_t address,
                                                    std::uint64_t count) const {
        const std::optional<std::uint64_t> offset = FileOffset(address, count);
        if (!offset) return std::nullopt;
        return ReadFile(*offset, static_cast<std::size_t>(count));
    }

    // The file offset of count bytes at the virtual address, when one
    // section's file data holds all of them.
    std::optional<std::uint64_t> FileOffset(std::uint64_t address, std::uint64_t count) const {
        for (const Section& section : sections_)
            if (address >= section.address && address - section.address <= section.readable &&
                count <= section.readable - (address - section.address))
                return section.fileOffset + (address - section.address);
        return std::nullopt;
    }

    bool Holds(std::uint64_t address, std::uint64_t count) const {
        return FileOffset(address, count).has_value();
    }

    void AddSection(std::uint64_t address, std::uint64_t rawSize, std::uint64_t rawOffset) {
        const std::uint64_t inFile =
            rawOffset >= fileSize_ ? 0 : std::min(rawSize, fileSize_ - rawOffset);
        sections_.push_back({address, inFile, rawOffset});
    }

  private:
    std::uint64_t fileSize_;
    const ReadFileAt& readAt_;
    std::vector<Section> sections_;
    mutable std::size_t reads_ = 0;
};

struct DirectoryEntry {
    std::uint32_t name;
    std::uint32_t offset;
};

// The entries of the directory at the offset inside the resource section, when
// the whole directory lies in the file.
std::optional<std::vector<DirectoryEntry>> ReadDirectory(const ImageReader& image,
                                                         std::uint64_t base, std::uint32_t offset,
                                                         std::size_t& named) {
    const auto header = image.ReadImage(base + offset, 16);
    if (!header) return std::nullopt;
    named = Word(*header, 12);
    const std::size_t count = named + Word(*header, 14);
    const auto raw = image.ReadImage(base + offset + 16, count * 8);
    if (!raw) return std::nullopt;
    std::vector<DirectoryEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i)
        entries[i] = {DWord(*raw, i * 8), DWord(*raw, i * 8 + 4)};
    return entries;
}

bool IsSubdirectory(const DirectoryEntry& entry) { return (entry.offset & kSubdirectoryFlag) != 0; }
std::uint32_t Target(const DirectoryEntry& entry) { return entry.offset & ~kSubdirectoryFlag; }

// Every name and language below one version-type entry: subdirectories, data
// entries and the data itself must all lie in the file.
bool VersionTypeIsSound(const ImageReader& image, std::uint64_t base, const DirectoryEntry& type,
                        PeVersionResources* found) {
    if (!IsSubdirectory(type)) return false;
    std::size_t named = 0;
    const auto names = ReadDirectory(image, base, Target(type), named);
    if (!names) return false;
    for (const DirectoryEntry& name : *names) {
        if (!IsSubdirectory(name)) return false;
        const auto languages = ReadDirectory(image, base, Target(name), named);
        if (!languages) return false;
        for (const DirectoryEntry& language : *languages) {
            if (IsSubdirectory(language)) return false;
            const auto data = image.ReadImage(base + language.offset, 16);
            if (!data) return false;
            const std::uint32_t address = DWord(*data, 0);
            const std::uint32_t size = DWord(*data, 4);
            if (size < kMinVersionData || !image.Holds(address, size)) return false;
            if (found)
                found->data.push_back(
                    {name.name, language.name, *image.FileOffset(address, size), size});
        }
    }
    return true;
}

// Whether the named resource type is "MUI": the length word, then UTF-16
// characters, at the name's offset in the resource section. A name that
// cannot be read counts as one.
bool IsMuiType(const ImageReader& image, std::uint64_t base, const DirectoryEntry& type) {
    const auto name = image.ReadImage(base + (type.name & ~kSubdirectoryFlag), 8);
    // Names compare without regard to case; 0x20 is the case bit of ASCII letters.
    const auto letter = [&](std::size_t at, char upper) {
        return (Word(*name, at) & ~0x20u) == static_cast<unsigned>(upper);
    };
    return !name || (Word(*name, 0) == 3 && letter(2, 'M') && letter(4, 'U') && letter(6, 'I'));
}

}  // namespace

PeResourceVerdict CheckPeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                         PeVersionResources* found) {
    ImageReader image(fileSize, readAt);
    if (found) *found = PeVersionResources{};

    const auto dos = image.ReadFile(0, 64);
    if (!dos || Word(*dos, 0) != 0x5A4D) return PeResourceVerdict::NotPe;  // "MZ"
    const std::uint64_t pe = DWord(*dos, 0x3C);
    const auto fileHeader = image.ReadFile(pe, 24);
    if (!fileHeader || DWord(*fileHeader, 0) != 0x00004550)
        return PeResourceVerdict::NotPe;  // "PE\0\0"

    const std::size_t sectionCount = Word(*fileHeader, 6);
    const std::size_t optionalSize = Word(*fileHeader, 20);
    const auto optional = image.ReadFile(pe + 24, optionalSize);
    if (!optional || optionalSize < 2 || sectionCount > kMaxSections)
        return PeResourceVerdict::Unsound;

    // The data directories sit 16 bytes further on in the 64-bit header.
    std::size_t countAt = 0;
    switch (Word(*optional, 0)) {
        case 0x10B: countAt = 92; break;
        case 0x20B: countAt = 108; break;
        default: return PeResourceVerdict::Unsound;
    }
    if (optionalSize < countAt + 4) return PeResourceVerdict::Unsound;
    if (DWord(*optional, countAt) < 3) return PeResourceVerdict::NoVersionResource;
    const std::size_t resourceAt = countAt + 4 + 2 * 8;
    if (optionalSize < resourceAt + 8) return PeResourceVerdict::Unsound;
    const std::uint64_t base = DWord(*optional, resourceAt);
    if (base == 0) return PeResourceVerdict::NoVersionResource;

    const auto sections = image.ReadFile(pe + 24 + optionalSize, sectionCount * 40);
    if (!sections) return PeResourceVerdict::Unsound;
    for (std::size_t i = 0; i < sectionCount; ++i)
        image.AddSection(DWord(*sections, i * 40 + 12), DWord(*sections, i * 40 + 16),
                         DWord(*sections, i * 40 + 20));

    std::size_t named = 0;
    const auto types = ReadDirectory(image, base, 0, named);
    if (!types) return PeResourceVerdict::Unsound;
    bool any = false;
    for (std::size_t i = named; i < types->size(); ++i) {
        if ((*types)[i].name != kVersionType) continue;
        if (!VersionTypeIsSound(image, base, (*types)[i], found)) return PeResourceVerdict::Unsound;
        any = true;
    }
    if (found) {
        found->versionTypes = 0;
        for (std::size_t i = named; i < types->size(); ++i)
            found->versionTypes += (*types)[i].name == kVersionType;
        for (std::size_t i = 0; i < named && !found->muiConfig; ++i)
            found->muiConfig = IsMuiType(image, base, (*types)[i]);
    }
    return any ? PeResourceVerdict::Sound : PeResourceVerdict::NoVersionResource;
}

}  // namespace kelvra
