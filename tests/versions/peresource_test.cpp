// The walk to the version resource on a PE file's bytes: images laid out by
// hand, then damaged in every word of their headers and resource directory.
// Under AddressSanitizer the loops also prove that no read leaves the file.

#include "versions/peresource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/version_blocks.h"
#include "versions/directversion.h"

namespace kelvra {
namespace {

using namespace version_blocks;

constexpr std::size_t kBlockSize = 0x40;

// The shared image with a stand-in block of kBlockSize bytes: its length
// word, and the key VS_VERSION_INFO after the value-length and type words.
PeImage BuildImage(bool pe64 = false, std::uint32_t type = 16,
                   std::uint32_t blockLength = kBlockSize) {
    Bytes block(kBlockSize, std::byte{0});
    PutWord(block, 0, static_cast<std::uint16_t>(blockLength));
    const std::u16string key = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < key.size(); ++i) PutWord(block, 6 + 2 * i, key[i]);
    PutWord(block, kBlockSize - 2, 0xABCD);  // the resource's last word
    PeImage image = BuildPeImage(block, pe64);
    PutDWord(image.bytes, PeImage::Res(kPeRoot) + 16, type);
    return image;
}

ReadFileAt ReaderOf(const Bytes& file, std::size_t* reads = nullptr) {
    return [&file, reads](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        if (reads) ++*reads;
        if (offset >= file.size()) return 0;
        const std::size_t count = std::min<std::size_t>(out.size(), file.size() - offset);
        std::memcpy(out.data(), file.data() + offset, count);
        return count;
    };
}

PeResourceVerdict Check(const Bytes& file, std::size_t* reads = nullptr) {
    return CheckExecutableVersionResource(file.size(), ReaderOf(file, reads));
}

DirectVersionRead Direct(const Bytes& file) {
    return ReadVersionBlockDirect(file.size(), ReaderOf(file));
}

// A layout's file: its bytes, zeros, and its far piece at its offset.
ReadFileAt ReaderOfLayout(const PeLayout& layout) {
    return [&layout](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        const std::uint64_t size =
            layout.tail.empty() ? layout.bytes.size() : layout.tailAt + layout.tail.size();
        if (offset >= size) return 0;
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - offset));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t at = offset + i;
            out[i] = at < layout.bytes.size()                      ? layout.bytes[at]
                     : at >= layout.tailAt && !layout.tail.empty() ? layout.tail[at - layout.tailAt]
                                                                   : std::byte{0};
        }
        return count;
    };
}

// Each layout in which the system and a plain reading of the file part: the
// walk must neither let the system fault nor take other bytes than it.
TEST(PeVersionResource, LayoutsWhereTheSystemAndTheFilePartAreJudgedAsTheSystemReadsThem) {
    for (const PeLayout& layout : MisleadingPeLayouts()) {
        SCOPED_TRACE(layout.what);
        const std::uint64_t size =
            layout.tail.empty() ? layout.bytes.size() : layout.tailAt + layout.tail.size();
        const DirectVersionRead direct = ReadVersionBlockDirect(size, ReaderOfLayout(layout));
        // Read straight from the file, settled as having none, or the system's
        // reader's to answer (in the helper), whatever the walk thinks of it.
        EXPECT_EQ(!direct.block.empty(), layout.expect == PeLayout::Direct);
        EXPECT_EQ(direct.systemDecides,
                  layout.expect == PeLayout::System || layout.expect == PeLayout::Crashes);
        EXPECT_EQ(CheckExecutableVersionResource(size, ReaderOfLayout(layout)), direct.verdict)
            << "the walk's verdict is passed on";
    }
}

TEST(PeVersionResource, ImagesWithoutVersionResource) {
    EXPECT_EQ(Check(BuildImage(false, 3).bytes),
              PeResourceVerdict::NoVersionResource);  // icons only

    PeImage noDirectory = BuildImage();
    PutDWord(noDirectory.bytes, noDirectory.directories + 16, 0);
    EXPECT_EQ(Check(noDirectory.bytes), PeResourceVerdict::NoVersionResource);

    // A language entry that claims to be a directory, a name that does not:
    // the image finds nothing, the flat parse does not look at the kind.
    for (const auto patch :
         {+[](PeImage& i) { PutDWord(i.bytes, i.Res(kPeNameDir) + 20, 0x80000000u | kPeData); },
          +[](PeImage& i) { PutDWord(i.bytes, i.Res(kPeTypeDir) + 20, kPeNameDir); }}) {
        PeImage image = BuildImage();
        patch(image);
        EXPECT_EQ(Check(image.bytes), PeResourceVerdict::Sound);
        EXPECT_TRUE(Direct(image.bytes).block.empty());
    }

    // Two data directories: the image has no resources, the flat parse reads
    // the third anyway and finds them, so the system is asked.
    PeImage fewDirectories = BuildImage();
    PutDWord(fewDirectories.bytes, fewDirectories.directories - 4, 2);
    EXPECT_EQ(Check(fewDirectories.bytes), PeResourceVerdict::Sound);
    EXPECT_TRUE(Direct(fewDirectories.bytes).block.empty());
}

TEST(PeVersionResource, FilesThatAreNoPeImageHaveNothingForTheSystem) {
    EXPECT_EQ(Check(Bytes{}), PeResourceVerdict::NotPe);
    Bytes text(100, std::byte{'a'});
    EXPECT_EQ(Check(text), PeResourceVerdict::NotPe);

    PeImage farHeader = BuildImage();
    PutDWord(farHeader.bytes, 0x3C, 0x7FFFFFF0);
    EXPECT_EQ(Check(farHeader.bytes), PeResourceVerdict::NotPe);
}

TEST(PeVersionResource, OffsetsOutsideTheFileAreUnsound) {
    const auto damaged = [](auto patch) {
        PeImage image = BuildImage();
        patch(image);
        return Check(image.bytes);
    };
    // A data entry whose data lies past the section, or is absurdly short.
    EXPECT_EQ(damaged([](PeImage& i) { PutDWord(i.bytes, i.Res(kPeData), 0x7FFFFFFF); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](PeImage& i) { PutDWord(i.bytes, i.Res(kPeData) + 4, 0x10000); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](PeImage& i) { PutDWord(i.bytes, i.Res(kPeData) + 4, 2); }),
              PeResourceVerdict::Unsound);
    // Directory entries that lead out of the section.
    EXPECT_EQ(damaged([](PeImage& i) { PutDWord(i.bytes, i.Res(kPeRoot) + 20, 0x8000FFF0); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](PeImage& i) { PutDWord(i.bytes, i.Res(kPeNameDir) + 20, 0x00FFFFF0); }),
              PeResourceVerdict::Unsound);
    // Entry counts that run past the section.
    EXPECT_EQ(damaged([](PeImage& i) { PutWord(i.bytes, i.Res(kPeRoot) + 14, 0xFFFF); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](PeImage& i) { PutWord(i.bytes, i.Res(kPeTypeDir) + 12, 0x4000); }),
              PeResourceVerdict::Unsound);
    // The section's data is cut off by the end of the file.
    EXPECT_EQ(damaged([](PeImage& i) { i.bytes.resize(kPeSectionFile + kPeBlock + 8); }),
              PeResourceVerdict::Unsound);
    // Headers that cannot be right.
    EXPECT_EQ(damaged([](PeImage& i) { PutWord(i.bytes, i.optional, 0x999); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](PeImage& i) { PutWord(i.bytes, kPeHeaderAt + 6, 2000); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](PeImage& i) { PutWord(i.bytes, kPeHeaderAt + 20, 0xFFFF); }),
              PeResourceVerdict::Unsound);
}

TEST(PeVersionResource, ReadsStayFewHoweverLargeTheDirectories) {
    // 1,000 names that all lead to one directory of 1,000 languages: the
    // system looks up one name, so does the walk, and each data entry is
    // read once however many languages lead to it.
    constexpr std::size_t kNames = 0x400, kLanguages = 0x2400, kCount = 1000;
    PeImage image = BuildImage();
    Bytes& b = image.bytes;
    const std::uint32_t sectionSize = 0xC000;
    b.resize(kPeSectionFile + sectionSize);
    PutDWord(b, image.section + 8, sectionSize);
    PutDWord(b, image.section + 16, sectionSize);
    PutDWord(b, image.optional + 56, kPeSectionAddress + sectionSize);
    PutDWord(b, image.Res(kPeRoot) + 20, 0x80000000u | kNames);  // the version type's names
    PutWord(b, image.Res(kNames) + 14, kCount);
    PutWord(b, image.Res(kLanguages) + 14, kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        PutDWord(b, image.Res(kNames) + 16 + 8 * i, static_cast<std::uint32_t>(i + 1));
        PutDWord(b, image.Res(kNames) + 20 + 8 * i, 0x80000000u | kLanguages);
        PutDWord(b, image.Res(kLanguages) + 16 + 8 * i, 0x400 + static_cast<std::uint32_t>(i));
        PutDWord(b, image.Res(kLanguages) + 20 + 8 * i, kPeData);
    }
    std::size_t reads = 0;
    EXPECT_EQ(Check(b, &reads), PeResourceVerdict::Sound);
    EXPECT_LT(reads, 100u);

    // Languages that each have a data entry of their own, 2,000 of them:
    // every one may be the user's, so each is read, in each layout, and the
    // walk stops at its limit.
    constexpr std::size_t kMany = 2100, kEntries = 0x7000;
    PutWord(b, image.Res(kLanguages) + 14, kMany);
    for (std::size_t i = 0; i < kMany; ++i) {
        PutDWord(b, image.Res(kLanguages) + 16 + 8 * i, 0x400 + static_cast<std::uint32_t>(i));
        PutDWord(b, image.Res(kLanguages) + 20 + 8 * i,
                 static_cast<std::uint32_t>(kEntries + 8 * i));
        PutDWord(b, image.Res(kEntries + 8 * i), kPeSectionAddress + kPeBlock);
        PutDWord(b, image.Res(kEntries + 8 * i) + 4, kBlockSize);
    }
    reads = 0;
    EXPECT_EQ(Check(b, &reads), PeResourceVerdict::Unsound);
    EXPECT_LE(reads, kMaxPeResourceReads);
}

TEST(PeVersionResource, SurvivesEveryCorruptedWordAndEveryTruncation) {
    for (bool pe64 : {false, true}) {
        const Bytes good = BuildImage(pe64).bytes;
        for (std::size_t at = 0; at + 1 < kPeSectionFile + kPeBlock + 4; at += 2) {
            for (std::uint32_t value : {0xFFFFu, 0x7FFFu, 0x8000u, 0u}) {
                Bytes bytes = good;
                PutWord(bytes, at, value);
                (void)Check(bytes);
            }
        }
        for (std::size_t size = 0; size < kPeSectionFile + kPeBlock + kBlockSize; size += 4) {
            const Bytes prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
            const PeResourceVerdict verdict = Check(prefix);
            EXPECT_NE(verdict, PeResourceVerdict::Sound) << "cut at " << size;
        }
    }
}

// ---- the version block read straight from the file ---------------------------

// The image with its stand-in block, whose length word may say less than the
// resource holds.
PeImage ImageWithBlock(bool pe64 = false, std::uint32_t blockLength = kBlockSize) {
    return BuildImage(pe64, 16, blockLength);
}

TEST(DirectVersionRead, GivesTheBufferTheSystemWouldInBothWidths) {
    for (const bool pe64 : {false, true}) {
        const PeImage image = ImageWithBlock(pe64);
        const DirectVersionRead read = Direct(image.bytes);
        EXPECT_EQ(read.verdict, PeResourceVerdict::Sound);
        ASSERT_EQ(read.block.size(), 2 * kBlockSize + 4);
        EXPECT_TRUE(
            std::equal(read.block.begin(), read.block.begin() + kBlockSize,
                       image.bytes.begin() + static_cast<std::ptrdiff_t>(image.Res(kPeBlock))));
        EXPECT_EQ(std::memcmp(read.block.data() + kBlockSize, "FE2X", 4), 0);
        EXPECT_TRUE(std::all_of(read.block.begin() + kBlockSize + 4, read.block.end(),
                                [](std::byte b) { return b == std::byte{0}; }));
    }
    // A block shorter than its resource: the signature follows the block and
    // covers the resource's bytes there, as the system's copy does.
    const DirectVersionRead shorter = Direct(ImageWithBlock(false, 0x3C).bytes);
    ASSERT_EQ(shorter.block.size(), 2 * kBlockSize + 4);
    EXPECT_EQ(std::memcmp(shorter.block.data() + 0x3C, "FE2X", 4), 0);
}

TEST(DirectVersionRead, LeavesToTheSystemWhatItCannotBeSureOf) {
    const auto patched = [](auto patch) {
        PeImage image = ImageWithBlock();
        patch(image, image.bytes);
        return image.bytes;
    };
    // A second language of the same resource: the system picks one by its
    // own order of languages.
    const Bytes twoLanguages = patched([](const PeImage& image, Bytes& b) {
        PutWord(b, image.Res(kPeNameDir) + 14, 2);
        PutDWord(b, image.Res(kPeNameDir) + 24, 0x407);
        PutDWord(b, image.Res(kPeNameDir) + 28, kPeData);
    });
    // The system looks up the id 1 only.
    const Bytes otherId =
        patched([](const PeImage& image, Bytes& b) { PutDWord(b, image.Res(kPeTypeDir) + 16, 2); });
    // The 16-bit layout: its key's first character where the type word is.
    const Bytes layout16 = patched(
        [](const PeImage& image, Bytes& b) { b[image.Res(kPeBlock) + 4] = std::byte{'V'}; });
    const Bytes otherKey =
        patched([](const PeImage& image, Bytes& b) { PutWord(b, image.Res(kPeBlock) + 8, 'X'); });
    // A resource type named "MUI" in front of the version type: the root
    // gets a named entry, and the type directory moves to make room.
    const auto withNamedType = [&](char16_t last) {
        return patched([last](const PeImage& image, Bytes& b) {
            constexpr std::size_t kMovedTypeDir = 0x100, kName = 0x140;
            for (std::size_t i = 0; i < 0x18; ++i)
                b[image.Res(kMovedTypeDir) + i] = b[image.Res(kPeTypeDir) + i];
            PutWord(b, image.Res(kPeRoot) + 12, 1);
            PutDWord(b, image.Res(kPeRoot) + 16, 0x80000000u | kName);
            PutDWord(b, image.Res(kPeRoot) + 20, 0x80000000u | kMovedTypeDir);
            PutDWord(b, image.Res(kPeRoot) + 24, 16);
            PutDWord(b, image.Res(kPeRoot) + 28, 0x80000000u | kMovedTypeDir);
            PutWord(b, image.Res(kName), 3);
            PutWord(b, image.Res(kName) + 2, 'M');
            PutWord(b, image.Res(kName) + 4, 'U');
            PutWord(b, image.Res(kName) + 6, last);
        });
    };
    const struct {
        const char* what;
        Bytes file;
        bool direct;
    } cases[] = {
        {"one block", ImageWithBlock().bytes, true},
        {"two languages", twoLanguages, false},
        {"id other than 1", otherId, false},
        {"16-bit layout", layout16, false},
        {"other root key", otherKey, false},
        {"MUI resource type", withNamedType(u'I'), false},
        {"other named type", withNamedType(u'X'), true},
        {"no version resource", BuildImage(false, 3).bytes, false},
        {"not a PE image", Bytes(100, std::byte{'a'}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DirectVersionRead read = Direct(c.file);
        EXPECT_EQ(!read.block.empty(), c.direct);
        EXPECT_EQ(read.verdict, Check(c.file)) << "the walk's verdict is passed on";
    }
}

}  // namespace
}  // namespace kelvra
