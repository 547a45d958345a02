// The walk from a 16-bit (NE) executable's headers to its version resource,
// done on the file's bytes with every offset checked. The system reads the
// resource table of such a file into a buffer of the size the header states
// and follows its type chain until a zero type without looking at where the
// buffer ends, and it sizes the version buffer from the resource's length
// without a limit. A file whose table or resource would take it outside the
// file is not handed to the system at all.

#include <optional>
#include <vector>

#include "versions/littleendian.h"
#include "versions/peresource.h"

namespace kelvra {
namespace {

constexpr std::uint16_t kVersionTypeId = 0x8010;      // RT_VERSION as an integer id
constexpr std::uint16_t kVersionResourceId = 0x8001;  // resource 1 as an integer id
constexpr std::size_t kNeHeaderSize = 64;
constexpr std::size_t kTypeInfoSize = 8;
constexpr std::size_t kNameInfoSize = 12;
// A shift of 16 or more pushes a 16-bit length out of the 32 bits the system
// computes it in.
constexpr unsigned kMaxAlignmentShift = 15;
// The system asks for four times the resource's length less 52 bytes (the
// fixed record): shorter resources would make that size wrap around. A
// 16-bit block with its key and fixed record is 72 bytes at least.
constexpr std::uint64_t kMinVersionData = 72;

std::optional<std::vector<std::byte>> ReadExactly(std::uint64_t fileSize, const ReadFileAt& readAt,
                                                  std::uint64_t offset, std::size_t count) {
    if (offset > fileSize || count > fileSize - offset) return std::nullopt;
    std::vector<std::byte> bytes(count);
    if (count && readAt(offset, bytes) != count) return std::nullopt;
    return bytes;
}

}  // namespace

PeResourceVerdict CheckNeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt) {
    const auto dos = ReadExactly(fileSize, readAt, 0, 64);
    if (!dos || LittleWord(*dos, 0) != 0x5A4D) return PeResourceVerdict::NotPe;  // "MZ"
    const std::uint64_t ne = LittleDWord(*dos, 0x3C);
    const auto signature = ReadExactly(fileSize, readAt, ne, 2);
    if (!signature || LittleWord(*signature, 0) != 0x454E) return PeResourceVerdict::NotPe;  // "NE"

    // Without a whole header the system finds nothing.
    const auto header = ReadExactly(fileSize, readAt, ne, kNeHeaderSize);
    if (!header) return PeResourceVerdict::NoVersionResource;
    const std::uint32_t tableAt = LittleWord(*header, 0x24);
    const std::uint32_t namesAt = LittleWord(*header, 0x26);
    if (namesAt == tableAt) return PeResourceVerdict::NoVersionResource;
    // A table that ends before it starts is, to the system, four gigabytes long.
    if (namesAt < tableAt) return PeResourceVerdict::Unsound;
    const auto table = ReadExactly(fileSize, readAt, ne + tableAt, namesAt - tableAt);
    if (!table || table->size() < 2) return PeResourceVerdict::Unsound;

    const unsigned shift = LittleWord(*table, 0);
    std::size_t type = 2;
    for (;;) {
        if (table->size() - type < 2) return PeResourceVerdict::Unsound;
        const std::uint32_t typeId = LittleWord(*table, type);
        if (typeId == 0) return PeResourceVerdict::NoVersionResource;
        if (table->size() - type < kTypeInfoSize) return PeResourceVerdict::Unsound;
        const std::size_t count = LittleWord(*table, type + 2);
        const std::size_t names = type + kTypeInfoSize;
        if (typeId == kVersionTypeId) {
            // The system takes the first resource of the first version type
            // with the id 1, reading every entry up to it.
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t name = names + i * kNameInfoSize;
                if (table->size() - name < kNameInfoSize) return PeResourceVerdict::Unsound;
                if (LittleWord(*table, name + 6) != kVersionResourceId) continue;
                if (shift > kMaxAlignmentShift) return PeResourceVerdict::Unsound;
                const std::uint64_t offset = std::uint64_t{LittleWord(*table, name)} << shift;
                const std::uint64_t length = std::uint64_t{LittleWord(*table, name + 2)} << shift;
                if (length < kMinVersionData || offset > fileSize || length > fileSize - offset)
                    return PeResourceVerdict::Unsound;
                return PeResourceVerdict::Sound;
            }
            return PeResourceVerdict::NoVersionResource;
        }
        if (count > (table->size() - names) / kNameInfoSize) return PeResourceVerdict::Unsound;
        type = names + count * kNameInfoSize;
    }
}

PeResourceVerdict CheckExecutableVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                                 PeVersionResources* found) {
    const PeResourceVerdict pe = CheckPeVersionResource(fileSize, readAt, found);
    if (pe != PeResourceVerdict::NotPe) return pe;
    const PeResourceVerdict ne = CheckNeVersionResource(fileSize, readAt);
    if (found && ne == PeResourceVerdict::Unsound)
        found->unsound = PeUnsoundReason::NeResourceTable;
    return ne;
}

}  // namespace kelvra
