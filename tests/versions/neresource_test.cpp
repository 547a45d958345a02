// The walk to the version resource on a 16-bit (NE) executable's bytes: an
// honest file written by hand, then files whose resource table or resource
// lie in each of the ways the system would follow them out of the file.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/version_blocks.h"
#include "versions/directversion.h"
#include "versions/peresource.h"

namespace kelvra {
namespace {

using namespace version_blocks;

ReadFileAt ReaderOf(const Bytes& file) {
    return [&file](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        if (offset >= file.size()) return 0;
        const std::size_t count = std::min<std::size_t>(out.size(), file.size() - offset);
        std::memcpy(out.data(), file.data() + offset, count);
        return count;
    };
}

PeResourceVerdict Check(const Bytes& file) {
    return CheckExecutableVersionResource(file.size(), ReaderOf(file));
}

// The direct read comes first on every file: it must reach the same verdict
// and leave every 16-bit file to the system.
PeResourceVerdict CheckDirect(const Bytes& file) {
    const DirectVersionRead direct = ReadVersionBlockDirect(file.size(), ReaderOf(file));
    EXPECT_TRUE(direct.block.empty());
    return direct.verdict;
}

TEST(NeVersionResource, HonestFileIsSoundOthersAreNotNe) {
    const Bytes honest = NeExecutable(Typical16BitBlock());
    EXPECT_EQ(Check(honest), PeResourceVerdict::Sound);
    EXPECT_EQ(CheckDirect(honest), PeResourceVerdict::Sound);

    Bytes notNe = honest;
    notNe[kNeHeaderAt] = std::byte{'L'};
    EXPECT_EQ(Check(notNe), PeResourceVerdict::NotPe);
    EXPECT_EQ(Check(Bytes(honest.begin(), honest.begin() + 0x41)), PeResourceVerdict::NotPe);
}

TEST(NeVersionResource, FilesWithoutAVersionResource) {
    const Bytes honest = NeExecutable(Typical16BitBlock());
    struct Case {
        const char* what;
        std::size_t at;
        std::uint16_t word;
    };
    for (const Case& c : {
             Case{"no resource table", kNeHeaderAt + 0x26, kNeTableAt - kNeHeaderAt},
             Case{"another type", kNeTypeAt, 0x8003},
             Case{"no resources of the type", kNeTypeAt + 2, 0},
             Case{"another id", kNeNameAt + 6, 0x8002},
             Case{"a named version type", kNeTypeAt, 0x0010},
         }) {
        Bytes file = honest;
        PutWord(file, c.at, c.word);
        EXPECT_EQ(Check(file), PeResourceVerdict::NoVersionResource) << c.what;
    }
    // The header cut short.
    EXPECT_EQ(Check(Bytes(honest.begin(), honest.begin() + kNeHeaderAt + 0x30)),
              PeResourceVerdict::NoVersionResource);
}

TEST(NeVersionResource, TablesAndResourcesThatLeaveTheFileAreUnsound) {
    for (const LyingNeFile& file : LyingNeExecutables()) {
        EXPECT_EQ(Check(file.bytes), PeResourceVerdict::Unsound) << file.what;
        EXPECT_EQ(CheckDirect(file.bytes), PeResourceVerdict::Unsound) << file.what;
    }
}

TEST(NeVersionResource, SurvivesEveryTruncationAndEveryCorruptedWord) {
    // Under AddressSanitizer any read past the file fails the test. A file
    // judged sound always has its resource inside the file.
    const Bytes honest = NeExecutable(Typical16BitBlock());
    for (std::size_t size = 0; size < honest.size(); ++size) {
        const Bytes prefix(honest.begin(), honest.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_NE(Check(prefix), PeResourceVerdict::Sound) << "cut at " << size;
    }
    for (std::size_t at = 0; at + 1 < kNeDataAt; ++at) {
        for (std::uint16_t word :
             {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{0xFFFF}, std::uint16_t{0x8010}}) {
            Bytes file = honest;
            PutWord(file, at, word);
            (void)Check(file);
        }
    }
}

}  // namespace
}  // namespace kelvra
