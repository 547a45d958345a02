// The checks in front of the system's version functions, on random files:
// the walk from an executable's headers to its version resources (PE and
// NE), the direct read of the version block that builds on that walk, the
// soundness check of a version block, and the reading of values from a block
// that passed it. Input: the file's bytes.

#include <cstring>

#include "fuzz_support.h"
#include "versions/directversion.h"
#include "versions/peresource.h"
#include "versions/versionblock.h"

using namespace kelvra;
using namespace kelvra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t reads = 0;
    const ReadFileAt readAt = [&](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        ++reads;
        if (offset >= size) return 0;
        const std::size_t count = std::min<std::size_t>(out.size(), size - offset);
        std::memcpy(out.data(), data + offset, count);
        return count;
    };
    const PeResourceVerdict verdict = CheckExecutableVersionResource(size, readAt);
    Require(static_cast<unsigned>(verdict) <= static_cast<unsigned>(PeResourceVerdict::Unsound),
            "verdict outside the enumeration");
    // On Windows every read is a call into the system: a file must never
    // make the walk read without end, whatever its directory says.
    Require(reads <= kMaxPeResourceReads, "the walk read the file more often than its limit",
            std::to_string(reads) + " reads");

    // The direct read makes the same walk plus the read of the block, and
    // gives a block only from a sound image, as large as the system's.
    reads = 0;
    const DirectVersionRead direct = ReadVersionBlockDirect(size, readAt);
    Require(reads <= kMaxPeResourceReads + 1,
            "the direct read read the file more often than its limit",
            std::to_string(reads) + " reads");
    Require(direct.block.empty() ||
                (direct.verdict == PeResourceVerdict::Sound && direct.block.size() % 2 == 0),
            "a block from an image that is not sound");

    const std::span block(reinterpret_cast<const std::byte*>(data), size);
    if (VersionBlockIsSound(block)) {
        // A value the system could point to anywhere in the buffer is read
        // without leaving it, however the nodes around it lie.
        for (std::size_t at = 0; at < size; at += 2) {
            Require(TextOfQueriedValue(block, block.data() + at).size() <= (size - at) / 2,
                    "a text longer than the buffer holds");
            (void)FirstTranslationOfValue(block, block.data() + at);
        }
    }
    return 0;
}
