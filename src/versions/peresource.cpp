// The lookup of a PE file's version resource, modelled on the file's bytes
// in both layouts the system may use, before the system is asked to do it:
//
// - The image. The system maps the file as an image (LoadLibraryEx with
//   LOAD_LIBRARY_AS_IMAGE_RESOURCE) and looks the resource up in the loader's
//   way (LdrFindResource_U). From the documented format: the headers lie at
//   address 0; each section lies at its VirtualAddress, its file data taken
//   from PointerToRawData rounded down to 512 bytes, and is zero-filled past
//   SizeOfRawData up to its VirtualSize; nothing lies past SizeOfImage;
//   directory offsets count from the resource directory's address, data
//   addresses from the image's start. From the loader's code and measured
//   under Wine 8.0: a directory is searched by id with a binary search over
//   its id entries (those after the named ones), matching the id's low 16
//   bits and taking a found entry only if it is a subdirectory where one is
//   wanted; a resource directory smaller than a directory header gives
//   nothing; for the language, a list that depends on the user's locale is
//   searched, then the first entry that is no subdirectory is taken.
//
// - The flat parse. Wine reads a file it cannot map as an image straight from
//   the file (version.c): the resource section is the first whose
//   [VirtualAddress, VirtualAddress + SizeOfRawData) holds the directory's
//   address, read into a buffer of its larger size, zero-filled; the binary
//   search checks its entries against that buffer but not their kind; the
//   language falls back to the directory's first entry unchecked; the data is
//   read from the file at its address less the section's, plus
//   PointerToRawData, not rounded. A seek past 2 GiB fails silently there,
//   and the read goes on from wherever the file pointer was.
//
// Sound: in both layouts every read lies inside what that layout holds.
// The direct read is offered only where both end at the same file bytes.

#include "versions/peresource.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "versions/littleendian.h"

namespace kelvra {
namespace {

using Bytes = std::vector<std::byte>;

constexpr std::uint16_t kVersionType = 16;  // RT_VERSION
constexpr std::uint16_t kVersionId = 1;     // VS_VERSION_INFO
constexpr std::size_t kMaxSections = 96;    // the most the system's loader accepts
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kDirectoryHeader = 16;
constexpr std::uint32_t kEntrySize = 8;
// The system's seeks take a signed 32-bit offset.
constexpr std::uint64_t kLargestSeek = 0x7FFFFFFF;
// The image loader puts a section's file data at PointerToRawData rounded
// down to this.
constexpr std::uint32_t kSectorMask = 0x1FF;
// An allocation the flat parse can count on.
constexpr std::uint32_t kLargestCertainAllocation = 16u << 20;
// Smaller than any version block: such an entry would make the system read
// node headers past the data it was given.
constexpr std::uint32_t kMinVersionData = 8;

// ---- the file ------------------------------------------------------------------

// Exactly count bytes at an offset of the file, or nothing; nothing too once
// the reads allowed are used up, which makes the file Unsound.
class FileBytes {
  public:
    FileBytes(std::uint64_t size, const ReadFileAt& readAt) : size_(size), readAt_(readAt) {}

    std::optional<Bytes> Read(std::uint64_t offset, std::uint64_t count) const {
        if (offset > size_ || count > size_ - offset) return std::nullopt;
        if (reads_ >= kMaxPeResourceReads) {
            exhausted_ = true;
            return std::nullopt;
        }
        ++reads_;
        Bytes bytes(static_cast<std::size_t>(count));
        if (count && readAt_(offset, bytes) != count) return std::nullopt;
        return bytes;
    }

    std::uint64_t size() const { return size_; }
    bool exhausted() const { return exhausted_; }

  private:
    std::uint64_t size_;
    const ReadFileAt& readAt_;
    mutable std::size_t reads_ = 0;
    mutable bool exhausted_ = false;
};

// ---- the headers -----------------------------------------------------------------

struct SectionHeader {
    std::uint32_t virtualSize;
    std::uint32_t address;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
    std::uint32_t characteristics;

    // The image's bytes of the section: its VirtualSize, or where that is
    // 0, its file data's size.
    std::uint64_t MappedSize() const { return virtualSize ? virtualSize : rawSize; }
    std::uint64_t MappedEnd() const { return std::uint64_t{address} + MappedSize(); }
    // Where the image takes the section's bytes from the file: from
    // PointerToRawData rounded down to 512 bytes, for the file data rounded
    // up to 512 bytes (measured under Wine: a resource section of 2 bytes of
    // file data shows 512 bytes of the file); zeros after that.
    std::uint64_t SectorStart() const { return rawOffset & ~kSectorMask; }
    std::uint64_t FileBackedSize() const {
        if (rawOffset == 0) return 0;
        return (std::uint64_t{rawSize} + (rawOffset & kSectorMask) + kSectorMask) &
               ~std::uint64_t{kSectorMask};
    }
};

struct PeHeaders {
    std::uint32_t directoryCount = 0;  // NumberOfRvaAndSizes
    std::uint32_t resourceAddress = 0;
    std::uint32_t resourceSize = 0;
    std::uint64_t imageSize = 0;
    std::uint64_t headersSize = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::vector<SectionHeader> sections;
};

enum class Headers { Pe, NotPe, Unsound };

// The NT headers at the DOS header's offset, whole and inside the file.
Headers ReadHeaders(const FileBytes& file, PeHeaders& out, PeUnsoundReason& why) {
    why = PeUnsoundReason::IncompleteHeaders;
    const auto dos = file.Read(0, 64);
    if (!dos || LittleWord(*dos, 0) != 0x5A4D) return Headers::NotPe;  // "MZ"
    const std::uint64_t nt = LittleDWord(*dos, 0x3C);
    // The flat parse cannot seek there and would read the signature, and
    // what follows, from the end of the DOS header.
    if (nt > kLargestSeek) {
        why = PeUnsoundReason::HeaderOffsetPast2GiB;
        return Headers::Unsound;
    }
    const auto signature = file.Read(nt, 4);
    if (!signature || LittleWord(*signature, 0) != 0x4550) return Headers::NotPe;  // "PE"
    // The flat parse takes "PE" followed by anything for a PE image; the
    // loader wants its two zero bytes.
    if (LittleWord(*signature, 2) != 0) {
        why = PeUnsoundReason::SignatureWithoutZeros;
        return Headers::Unsound;
    }

    const auto fileHeader = file.Read(nt + 4, 20);
    if (!fileHeader) return Headers::Unsound;
    const std::size_t sectionCount = LittleWord(*fileHeader, 2);
    const std::size_t optionalSize = LittleWord(*fileHeader, 16);
    if (sectionCount > kMaxSections) return Headers::Unsound;
    const std::uint64_t optionalAt = nt + 24;
    const auto magic = file.Read(optionalAt, 2);
    if (!magic) return Headers::Unsound;
    // Both layouts read the data directories at their place in the
    // structure, whatever SizeOfOptionalHeader says; the section table
    // follows the optional header of the size it says.
    std::size_t directoriesAt = 0;
    switch (LittleWord(*magic, 0)) {
        case 0x10B: directoriesAt = 96; break;
        case 0x20B: directoriesAt = 112; break;
        default: return Headers::Unsound;
    }
    const auto optional = file.Read(optionalAt, directoriesAt + 3 * 8);
    const auto table = file.Read(optionalAt + optionalSize, sectionCount * 40);
    if (!optional || !table) return Headers::Unsound;

    out.sectionAlignment = LittleDWord(*optional, 32);
    out.fileAlignment = LittleDWord(*optional, 36);
    out.imageSize = LittleDWord(*optional, 56);
    out.headersSize = LittleDWord(*optional, 60);
    // The image reads the data directories from its mapped headers: past
    // SizeOfHeaders they would hold whatever the image has there.
    if (optionalAt + directoriesAt + 3 * 8 > out.headersSize) return Headers::Unsound;
    out.directoryCount = LittleDWord(*optional, directoriesAt - 4);
    out.resourceAddress = LittleDWord(*optional, directoriesAt + 16);
    out.resourceSize = LittleDWord(*optional, directoriesAt + 20);
    // The header fields the image's lookup reads from its mapped headers.
    const std::uint64_t fields[][2] = {
        {0, 2}, {0x3C, 4}, {nt, 4}, {optionalAt, 2}, {optionalAt + directoriesAt - 4, 4 + 3 * 8}};
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::size_t at = i * 40;
        const SectionHeader section{LittleDWord(*table, at + 8), LittleDWord(*table, at + 12),
                                    LittleDWord(*table, at + 16), LittleDWord(*table, at + 20),
                                    LittleDWord(*table, at + 36)};
        // The loader maps sections after the headers: one mapped over these
        // fields replaces them (measured under Wine: a section at address 0
        // leaves no version resource).
        for (const auto& [start, size] : fields)
            if (section.address < start + size && section.MappedEnd() > start) {
                why = PeUnsoundReason::SectionOverHeaders;
                return Headers::Unsound;
            }
        out.sections.push_back(section);
    }
    return Headers::Pe;
}

// ---- the two layouts ---------------------------------------------------------------

// A read that left what the layout holds makes the lookup unsafe.
struct Outside {
    PeUnsoundReason why;
};

// The file as the loader maps it. Where sections overlap, the later one is
// mapped over the earlier, as Wine does.
class ImageLayout {
  public:
    static constexpr PeUnsoundReason kOutside = PeUnsoundReason::ImageReadOutside;

    ImageLayout(const FileBytes& file, const PeHeaders& headers) : file_(file), headers_(headers) {}

    // count bytes at the address, all from one section or from the headers.
    std::optional<Bytes> Read(std::uint64_t address, std::uint64_t count) const {
        if (count > headers_.imageSize || address > headers_.imageSize - count) return std::nullopt;
        const std::uint64_t end = address + count;
        const SectionHeader* holder = nullptr;
        for (const SectionHeader& section : headers_.sections) {
            const bool holdsStart = address >= section.address && address < section.MappedEnd();
            if (holdsStart)
                holder = &section;
            else if (holder && section.address < end && section.MappedEnd() > address)
                return std::nullopt;  // the bytes would come from two sections
        }
        if (!holder) {
            if (end > headers_.headersSize || IntersectsSection(address, end)) return std::nullopt;
            return file_.Read(address, count);
        }
        if (end > holder->MappedEnd()) return std::nullopt;
        // File data, then zeros.
        Bytes bytes(static_cast<std::size_t>(count), std::byte{0});
        const std::uint64_t from = address - holder->address;
        if (from < holder->FileBackedSize()) {
            const std::uint64_t fileCount =
                std::min<std::uint64_t>(count, holder->FileBackedSize() - from);
            const auto data = file_.Read(holder->SectorStart() + from, fileCount);
            if (!data) return std::nullopt;
            std::copy(data->begin(), data->end(), bytes.begin());
        }
        return bytes;
    }

    // Whether count bytes at the address are all mapped, and those the file
    // should give lie inside it: the system copies the resource out of the
    // image without a check.
    bool Holds(std::uint64_t address, std::uint64_t count) const {
        if (count > headers_.imageSize || address > headers_.imageSize - count) return false;
        const std::uint64_t end = address + count;
        for (std::uint64_t at = address; at < end;) {
            const SectionHeader* holder = nullptr;
            std::uint64_t next = end;
            for (const SectionHeader& section : headers_.sections) {
                if (at >= section.address && at < section.MappedEnd())
                    holder = &section;
                else if (section.address > at)
                    next = std::min<std::uint64_t>(next, section.address);
            }
            if (!holder) {
                if (next > headers_.headersSize || next > file_.size()) return false;
            } else {
                next = std::min(next, holder->MappedEnd());
                const std::uint64_t fileEnd =
                    std::min<std::uint64_t>(next, holder->address + holder->FileBackedSize());
                if (fileEnd > at &&
                    holder->SectorStart() + (fileEnd - holder->address) > file_.size())
                    return false;
            }
            at = next;
        }
        return true;
    }

    // The file bytes behind count bytes at the address, when only one
    // section maps them and they lie inside its file data.
    std::optional<std::uint64_t> PlainFileOffset(std::uint64_t address, std::uint64_t count) const {
        const std::uint64_t end = address + count;
        const SectionHeader* holder = nullptr;
        for (const SectionHeader& section : headers_.sections) {
            if (section.address >= end || section.MappedEnd() <= address) continue;
            if (holder) return std::nullopt;
            holder = &section;
        }
        if (!holder || address < holder->address || address < headers_.headersSize ||
            end > holder->MappedEnd() || end > headers_.imageSize ||
            end - holder->address > holder->rawSize)
            return std::nullopt;
        const std::uint64_t offset = holder->SectorStart() + (address - holder->address);
        if (offset + count > file_.size()) return std::nullopt;
        return offset;
    }

    bool IntersectsSection(std::uint64_t address, std::uint64_t end) const {
        return std::any_of(headers_.sections.begin(), headers_.sections.end(), [&](const auto& s) {
            return s.address < end && s.MappedEnd() > address;
        });
    }

  private:
    const FileBytes& file_;
    const PeHeaders& headers_;
};

// The resource section of the flat parse: its file data, zeros up to the
// larger of its two sizes, nothing beyond.
class FlatSection {
  public:
    static constexpr PeUnsoundReason kOutside = PeUnsoundReason::FlatReadOutside;

    FlatSection(const FileBytes& file, const SectionHeader& section)
        : file_(file),
          rawOffset_(section.rawOffset),
          rawSize_(section.rawSize),
          size_(std::max(section.rawSize, section.virtualSize)) {}

    std::optional<Bytes> Read(std::uint64_t offset, std::uint64_t count) const {
        if (count > size_ || offset > size_ - count) return std::nullopt;
        Bytes bytes(static_cast<std::size_t>(count), std::byte{0});
        if (offset < rawSize_) {
            const std::uint64_t fileCount = std::min<std::uint64_t>(count, rawSize_ - offset);
            const auto data = file_.Read(rawOffset_ + offset, fileCount);
            if (!data) return std::nullopt;
            std::copy(data->begin(), data->end(), bytes.begin());
        }
        return bytes;
    }

    std::uint32_t size() const { return size_; }

  private:
    const FileBytes& file_;
    std::uint64_t rawOffset_;
    std::uint32_t rawSize_;
    std::uint32_t size_;
};

// ---- directories ---------------------------------------------------------------------

struct DirectoryEntry {
    std::uint32_t name;
    std::uint32_t offset;

    std::uint16_t Id() const { return static_cast<std::uint16_t>(name); }  // the low 16 bits
    bool IsSubdirectory() const { return (offset & kSubdirectoryFlag) != 0; }
    std::uint32_t Target() const { return offset & ~kSubdirectoryFlag; }
};

struct DirectoryHeader {
    int named;
    int ids;
};

template <typename Layout>
DirectoryHeader ReadDirectoryHeader(const Layout& layout, std::uint64_t at) {
    const auto header = layout.Read(at, kDirectoryHeader);
    if (!header) throw Outside{Layout::kOutside};
    return {LittleWord(*header, 12), LittleWord(*header, 14)};
}

template <typename Layout>
std::vector<DirectoryEntry> ReadEntries(const Layout& layout, std::uint64_t directory, int first,
                                        int count) {
    if (count <= 0) return {};
    const auto raw = layout.Read(directory + kDirectoryHeader + std::uint64_t(first) * kEntrySize,
                                 std::uint64_t(count) * kEntrySize);
    if (!raw) throw Outside{Layout::kOutside};
    std::vector<DirectoryEntry> entries(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i] = {LittleDWord(*raw, i * kEntrySize), LittleDWord(*raw, i * kEntrySize + 4)};
    return entries;
}

template <typename Layout>
DirectoryEntry ReadEntry(const Layout& layout, std::uint64_t directory, int index) {
    return ReadEntries(layout, directory, index, 1).front();
}

// The system's binary search over a directory's id entries.
template <typename Layout>
std::optional<DirectoryEntry> SearchIds(const Layout& layout, std::uint64_t directory,
                                        std::uint16_t id, int low, int high) {
    while (low <= high) {
        const int pos = (low + high) / 2;
        const DirectoryEntry entry = ReadEntry(layout, directory, pos);
        if (entry.Id() == id) return entry;
        if (entry.Id() > id)
            high = pos - 1;
        else
            low = pos + 1;
    }
    return std::nullopt;
}

// The version resource a layout's lookup ends at: its data's place (an
// image address, or a file offset for the flat parse) and size. Several
// when the user's locale decides among them.
struct VersionData {
    std::uint64_t at;
    std::uint32_t size;
    bool operator==(const VersionData&) const = default;
};

// Data entries are read once each, however many languages lead to them.
std::vector<std::uint64_t> Distinct(std::vector<std::uint64_t> offsets) {
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

struct Lookup {
    std::vector<VersionData> found;
    bool languagesOfOne = false;  // one entry under the resource: no locale decides
    bool certain = true;          // the lookup runs as modelled on every machine
};

// ---- the image's lookup ----------------------------------------------------------------

class ImageLookup {
  public:
    ImageLookup(const ImageLayout& image, const PeHeaders& headers)
        : image_(image), headers_(headers), root_(headers.resourceAddress) {}

    // Throws Outside when a read leaves the image.
    Lookup Run() const {
        Lookup lookup;
        if (headers_.directoryCount <= 2 || root_ == 0 || headers_.resourceSize < kDirectoryHeader)
            return lookup;
        const auto type = Find(root_, kVersionType, true);
        if (!type) return lookup;
        const auto name = Find(*type, kVersionId, true);
        if (!name) return lookup;
        const DirectoryHeader languages = ReadDirectoryHeader(image_, *name);
        const int count = languages.named + languages.ids;
        lookup.languagesOfOne = count == 1;
        // The locale's languages are searched among the id entries, then
        // the first data entry is taken: any data entry may be the one.
        std::vector<std::uint64_t> entries;
        for (const DirectoryEntry& entry : ReadEntries(image_, *name, 0, count))
            if (!entry.IsSubdirectory()) entries.push_back(root_ + entry.Target());
        for (const std::uint64_t entry : Distinct(std::move(entries)))
            lookup.found.push_back(Data(entry));
        return lookup;
    }

    // The named resource types, whose names the reader must know.
    bool HasMuiType() const {
        const DirectoryHeader types = ReadDirectoryHeader(image_, root_);
        for (int i = 0; i < types.named; ++i) {
            const DirectoryEntry entry = ReadEntry(image_, root_, i);
            const auto name = image_.Read(root_ + (entry.name & ~kSubdirectoryFlag), 8);
            // Names compare without regard to case; 0x20 is the case bit of
            // ASCII letters. A name that cannot be read counts as "MUI".
            const auto letter = [&](std::size_t at, char upper) {
                return (LittleWord(*name, at) & ~0x20u) == static_cast<unsigned>(upper);
            };
            if (!name ||
                (LittleWord(*name, 0) == 3 && letter(2, 'M') && letter(4, 'U') && letter(6, 'I')))
                return true;
        }
        return false;
    }

  private:
    std::optional<std::uint64_t> Find(std::uint64_t directory, std::uint16_t id,
                                      bool subdirectory) const {
        const DirectoryHeader header = ReadDirectoryHeader(image_, directory);
        const auto entry =
            SearchIds(image_, directory, id, header.named, header.named + header.ids - 1);
        if (!entry || entry->IsSubdirectory() != subdirectory) return std::nullopt;
        return root_ + entry->Target();
    }

    VersionData Data(std::uint64_t entry) const {
        const auto data = image_.Read(entry, 8);
        if (!data) throw Outside{ImageLayout::kOutside};
        const VersionData found{LittleDWord(*data, 0), LittleDWord(*data, 4)};
        if (found.size < kMinVersionData) throw Outside{PeUnsoundReason::DataTooShort};
        if (!image_.Holds(found.at, found.size)) throw Outside{ImageLayout::kOutside};
        return found;
    }

    const ImageLayout& image_;
    const PeHeaders& headers_;
    std::uint64_t root_;
};

// ---- the flat parse's lookup --------------------------------------------------------------

class FlatLookup {
  public:
    FlatLookup(const FileBytes& file, const PeHeaders& headers) : file_(file), headers_(headers) {}

    Lookup Run() const {
        Lookup lookup;
        if (headers_.resourceSize == 0) return lookup;
        const SectionHeader* section = SectionHolding(headers_.resourceAddress);
        if (!section) return lookup;
        if (section->rawOffset > kLargestSeek) throw Outside{PeUnsoundReason::SeekPast2GiB};
        // A section whose file data the file does not hold gives nothing.
        if (std::uint64_t{section->rawOffset} + section->rawSize > file_.size()) return lookup;
        const FlatSection buffer(file_, *section);
        // The parse allocates the whole section first; on a machine where
        // that fails it finds nothing (measured under Wine: a VirtualSize of
        // 2 GiB leaves no version resource).
        lookup.certain = buffer.size() <= kLargestCertainAllocation;
        const std::uint32_t root = headers_.resourceAddress - section->address;
        const std::uint32_t rootSize = buffer.size() - root;

        const auto type = Find(buffer, root, rootSize, root, kVersionType);
        if (!type) return lookup;
        const auto name = Find(buffer, root, rootSize, *type, kVersionId);
        if (!name) return lookup;
        const DirectoryHeader languages = ReadDirectoryHeader(buffer, *name);
        lookup.languagesOfOne = languages.named + languages.ids == 1;
        // The locale's languages are searched among the id entries; what
        // the search accepts may be taken. Then the first entry, of either
        // kind and unchecked.
        std::vector<std::uint64_t> entries;
        if (IdsFitTheSection(languages, rootSize, root, *name))
            for (const DirectoryEntry& entry :
                 ReadEntries(buffer, *name, languages.named, languages.ids))
                if (const auto at = TargetWithinSection(entry, root, rootSize))
                    entries.push_back(*at);
        entries.push_back(root + ReadEntry(buffer, *name, 0).Target());
        for (const std::uint64_t entry : Distinct(std::move(entries)))
            if (const auto data = Data(buffer, entry)) lookup.found.push_back(*data);
        return lookup;
    }

  private:
    // The first section whose file data's extent, counted from its address
    // in 32 bits, holds the address.
    const SectionHeader* SectionHolding(std::uint32_t address) const {
        for (const SectionHeader& section : headers_.sections)
            if (address >= section.address &&
                address < static_cast<std::uint32_t>(section.address + section.rawSize))
                return &section;
        return nullptr;
    }

    // The search's check that the id entries lie in the buffer, in the
    // parser's 32-bit arithmetic.
    static bool IdsFitTheSection(const DirectoryHeader& header, std::uint32_t rootSize,
                                 std::uint32_t root, std::uint64_t directory) {
        const int last = header.named + header.ids - 1;
        const std::uint32_t room =
            (rootSize - static_cast<std::uint32_t>(directory - root) - kDirectoryHeader) /
            kEntrySize;
        return static_cast<std::uint32_t>(last) < room;
    }

    static std::optional<std::uint64_t> TargetWithinSection(const DirectoryEntry& entry,
                                                            std::uint32_t root,
                                                            std::uint32_t rootSize) {
        if (entry.Target() > static_cast<std::uint32_t>(rootSize - kDirectoryHeader))
            return std::nullopt;
        return std::uint64_t{root} + entry.Target();
    }

    std::optional<std::uint64_t> Find(const FlatSection& buffer, std::uint32_t root,
                                      std::uint32_t rootSize, std::uint64_t directory,
                                      std::uint16_t id) const {
        const DirectoryHeader header = ReadDirectoryHeader(buffer, directory);
        if (!IdsFitTheSection(header, rootSize, root, directory)) return std::nullopt;
        // The kind of the entry is not looked at.
        const auto entry =
            SearchIds(buffer, directory, id, header.named, header.named + header.ids - 1);
        if (!entry) return std::nullopt;
        return TargetWithinSection(*entry, root, rootSize);
    }

    // The data entry at the buffer offset: the file offset and size the
    // parser reads the resource from, or nothing where no section holds it.
    std::optional<VersionData> Data(const FlatSection& buffer, std::uint64_t entry) const {
        const auto data = buffer.Read(entry, 8);
        if (!data) throw Outside{FlatSection::kOutside};
        const std::uint32_t address = LittleDWord(*data, 0);
        const std::uint32_t size = LittleDWord(*data, 4);
        const SectionHeader* section = SectionHolding(address);
        if (!section) return std::nullopt;
        const std::uint32_t offset = address - section->address + section->rawOffset;
        if (offset > kLargestSeek) throw Outside{PeUnsoundReason::SeekPast2GiB};
        if (size < kMinVersionData) throw Outside{PeUnsoundReason::DataTooShort};
        return VersionData{offset, size};
    }

    const FileBytes& file_;
    const PeHeaders& headers_;
};

// ---- the shape real linkers write ----------------------------------------------------------
//
// The model above is of another program's reader, measured on one version of
// Wine; it is never complete, and Windows' own reader differs in ways that
// cannot be measured here. So the direct read is offered only for images of
// the shape that linkers write, where the loader has no room for choices:
// - section alignment a power of two of at least a page, file alignment a
//   power of two from 512 up to the section alignment;
// - every section at a multiple of the section alignment, after the headers
//   and after the pages of the section before it (no two sections share a
//   page, so no page's protection or contents depends on which comes
//   later), within SizeOfImage, no larger than 2 GiB, with sizes that cannot
//   wrap when rounded;
// - every section's file data on the file alignment, inside the file, and no
//   larger than its pages;
// - the resource directory inside the file data of one section, and that
//   section and the one holding the version data readable
//   (IMAGE_SCN_MEM_READ: without it Wine maps the pages without access).
// Every other image goes to the system's reader in the helper process.

constexpr std::uint32_t kPage = 0x1000;
constexpr std::uint32_t kReadable = 0x40000000;  // IMAGE_SCN_MEM_READ
constexpr std::uint64_t kLargestOrdinaryImage = std::uint64_t{1} << 31;

constexpr bool PowerOfTwo(std::uint64_t value) { return value && !(value & (value - 1)); }

constexpr std::uint64_t RoundUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool SectionsAreOrdinary(const PeHeaders& headers, std::uint64_t fileSize) {
    const std::uint64_t pages = headers.sectionAlignment;
    const std::uint64_t sectors = headers.fileAlignment;
    if (pages < kPage || !PowerOfTwo(pages) || sectors < 512 || sectors > pages ||
        !PowerOfTwo(sectors) || headers.imageSize > kLargestOrdinaryImage ||
        headers.sections.empty())
        return false;
    std::uint64_t next = RoundUp(headers.headersSize, pages);
    for (const SectionHeader& section : headers.sections) {
        const std::uint64_t mapped = section.virtualSize ? section.virtualSize : section.rawSize;
        if (section.address % pages != 0 || section.address < next || mapped == 0) return false;
        next = section.address + RoundUp(mapped, pages);
        if (next > headers.imageSize) return false;
        if (section.rawSize == 0) continue;
        if (section.rawOffset % sectors != 0 ||
            std::uint64_t{section.rawOffset} + section.rawSize > fileSize ||
            section.rawSize > RoundUp(mapped, pages))
            return false;
    }
    return true;
}

// The section whose file data holds [address, address + size).
const SectionHeader* FileDataHolding(const PeHeaders& headers, std::uint64_t address,
                                     std::uint64_t size) {
    for (const SectionHeader& section : headers.sections) {
        const std::uint64_t held = std::min<std::uint64_t>(
            section.rawSize, section.virtualSize ? section.virtualSize : section.rawSize);
        if (address >= section.address && address + size <= section.address + held) return &section;
    }
    return nullptr;
}

bool IsOrdinaryImage(const PeHeaders& headers, std::uint64_t fileSize,
                     std::optional<std::uint64_t> dataAddress, std::uint32_t dataSize) {
    if (!SectionsAreOrdinary(headers, fileSize)) return false;
    const SectionHeader* directory =
        FileDataHolding(headers, headers.resourceAddress, headers.resourceSize);
    if (!directory || !(directory->characteristics & kReadable)) return false;
    if (!dataAddress) return true;
    const SectionHeader* data = FileDataHolding(headers, *dataAddress, dataSize);
    return data && (data->characteristics & kReadable);
}

PeResourceVerdict Refuse(PeVersionResources& found, PeUnsoundReason why) {
    found = PeVersionResources{};
    found.unsound = why;
    return PeResourceVerdict::Unsound;
}

PeResourceVerdict LookUp(const FileBytes& file, PeVersionResources& found) {
    PeHeaders headers;
    PeUnsoundReason why = PeUnsoundReason::None;
    switch (ReadHeaders(file, headers, why)) {
        case Headers::NotPe: return PeResourceVerdict::NotPe;
        case Headers::Unsound: return Refuse(found, why);
        case Headers::Pe: break;
    }
    const ImageLayout image(file, headers);
    const ImageLookup imageLookup(image, headers);
    Lookup mapped, flat;
    try {
        mapped = imageLookup.Run();
        flat = FlatLookup(file, headers).Run();
    } catch (const Outside& outside) {
        return Refuse(found, file.exhausted() ? PeUnsoundReason::TooManyReads : outside.why);
    }
    if (file.exhausted()) return Refuse(found, PeUnsoundReason::TooManyReads);
    if (mapped.found.empty() && flat.found.empty()) {
        found.ordinary = headers.resourceSize == 0
                             ? SectionsAreOrdinary(headers, file.size())
                             : IsOrdinaryImage(headers, file.size(), std::nullopt, 0);
        return PeResourceVerdict::NoVersionResource;
    }

    if (mapped.found.size() == 1 && flat.found.size() == 1 && mapped.languagesOfOne &&
        flat.languagesOfOne && flat.certain) {
        const VersionData& data = mapped.found.front();
        const auto offset = image.PlainFileOffset(data.at, data.size);
        if (offset && flat.found.front() == VersionData{*offset, data.size})
            found.sameInEveryLayout = PeVersionResources::FileRange{*offset, data.size};
        try {
            found.muiConfig = imageLookup.HasMuiType();
        } catch (const Outside&) {
            found.muiConfig = true;
        }
        if (file.exhausted()) found.sameInEveryLayout.reset();
        found.ordinary = IsOrdinaryImage(headers, file.size(), data.at, data.size);
        if (!found.ordinary) found.sameInEveryLayout.reset();
    }
    return PeResourceVerdict::Sound;
}

}  // namespace

PeResourceVerdict CheckPeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                         PeVersionResources* found) {
    PeVersionResources facts;
    const PeResourceVerdict verdict = LookUp(FileBytes(fileSize, readAt), facts);
    if (found) *found = facts;
    return verdict;
}

}  // namespace kelvra
