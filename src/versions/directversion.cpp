#include "versions/directversion.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <span>

#include "common/files.h"
#include "versions/littleendian.h"

namespace kelvra {
namespace {

// A version block's length is one 16-bit word; a resource far larger than
// that is not one the system could be trusted to treat as we would.
constexpr std::uint32_t kMaxDirectBytes = 1u << 20;
constexpr std::size_t kKeyAt = 6;  // after the length, value length and type words
constexpr char16_t kRootKey[] = u"VS_VERSION_INFO";

std::atomic<bool> directReads{true};

// The 32-bit layout: byte 4 is the low byte of the type word (the 16-bit
// layout has the key's first character there, which the system tests the
// same way), and the root's key is VS_VERSION_INFO with its NUL.
bool IsRootOf32BitLayout(std::span<const std::byte> data) {
    constexpr std::size_t keyChars = std::size(kRootKey);  // with the NUL
    if (data.size() < kKeyAt + keyChars * 2 || std::to_integer<unsigned>(data[4]) >= 0x20)
        return false;
    for (std::size_t i = 0; i < keyChars; ++i)
        if (LittleWord(data, kKeyAt + i * 2) != static_cast<unsigned>(kRootKey[i])) return false;
    return true;
}

}  // namespace

DirectVersionRead ReadVersionBlockDirect(std::uint64_t fileSize, const ReadFileAt& readAt) {
    DirectVersionRead result;
    PeVersionResources found;
    // A 16-bit file's walk must pass too before the system is let near it;
    // it finds no PE resources, so such a file is always the system's.
    result.verdict = CheckExecutableVersionResource(fileSize, readAt, &found);
    const bool settledByTheBytes =
        result.verdict == PeResourceVerdict::NotPe ||
        (result.verdict == PeResourceVerdict::NoVersionResource && found.ordinary);
    result.systemDecides = !settledByTheBytes;
    if (result.verdict != PeResourceVerdict::Sound) return result;
    if (!found.sameInEveryLayout || found.muiConfig) return result;
    const PeVersionResources::FileRange& entry = *found.sameInEveryLayout;
    if (entry.size > kMaxDirectBytes) return result;

    // What the system's two calls give: a buffer of 2 * size + 4 bytes (room
    // for its conversions to ANSI), the resource's bytes at its start, and
    // its signature "FE2X" just after the block's own length.
    std::vector<std::byte>& block = result.block;
    block.assign(std::size_t{entry.size} * 2 + 4, std::byte{0});
    const std::span<std::byte> data = std::span(block).first(entry.size);
    if (readAt(entry.offset, data) != data.size() || !IsRootOf32BitLayout(data)) {
        block.clear();
        return result;
    }
    result.systemDecides = false;
    const std::size_t length = LittleWord(data, 0);
    if (block.size() >= length + 4) std::memcpy(block.data() + length, "FE2X", 4);
    return result;
}

DirectVersionRead ReadVersionBlockDirect(const std::wstring& path) {
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) {
        DirectVersionRead unopened;
        unopened.opened = false;
        return unopened;
    }
    return ReadVersionBlockDirect(
        file->size(),
        [&](std::uint64_t offset, std::span<std::byte> out) { return file->ReadAt(offset, out); });
}

bool SetDirectVersionReads(bool enabled) { return directReads.exchange(enabled); }
bool DirectVersionReads() { return directReads; }

}  // namespace kelvra
