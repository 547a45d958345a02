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

#include "versions/directversion.h"

namespace kelvra {
namespace {

using Bytes = std::vector<std::byte>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = std::byte(v & 0xFF);
    b.at(at + 1) = std::byte((v >> 8) & 0xFF);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// Layout of the image the tests build: headers in the first 0x200 bytes, one
// section ".rsrc" at file offset 0x200 and address 0x1000 holding the
// directory (root, type, name, language), one data entry and the data.
constexpr std::size_t kPe = 0x40;
constexpr std::size_t kSectionFile = 0x200;
constexpr std::uint32_t kSectionAddress = 0x1000;
constexpr std::size_t kRoot = 0x00, kTypeDir = 0x18, kNameDir = 0x30, kLangDir = 0x48, kData = 0x60,
                      kBlock = 0x70, kBlockSize = 0x40;

struct Image {
    Bytes bytes;
    std::size_t optional;  // offset of the optional header
    std::size_t section;   // offset of the section header

    std::size_t Res(std::size_t offset) const { return kSectionFile + offset; }
};

Image BuildImage(bool pe64 = false, std::uint32_t type = 16) {
    Image image;
    Bytes& b = image.bytes;
    b.assign(kSectionFile + 0x200, std::byte{0});
    b[0] = std::byte('M');
    b[1] = std::byte('Z');
    Put32(b, 0x3C, kPe);
    b[kPe] = std::byte('P');
    b[kPe + 1] = std::byte('E');
    Put16(b, kPe + 4, pe64 ? 0x8664 : 0x14C);
    Put16(b, kPe + 6, 1);  // sections
    const std::size_t optionalSize = pe64 ? 240 : 224;
    Put16(b, kPe + 20, optionalSize);
    image.optional = kPe + 24;
    Put16(b, image.optional, pe64 ? 0x20B : 0x10B);
    Put32(b, image.optional + 56, 0x2000);  // size of image
    const std::size_t directories = image.optional + (pe64 ? 112 : 96);
    Put32(b, directories - 4, 16);
    Put32(b, directories + 16, kSectionAddress);  // resource directory
    Put32(b, directories + 20, 0x200);
    image.section = image.optional + optionalSize;
    std::memcpy(&b[image.section], ".rsrc", 5);
    Put32(b, image.section + 8, 0x200);
    Put32(b, image.section + 12, kSectionAddress);
    Put32(b, image.section + 16, 0x200);
    Put32(b, image.section + 20, kSectionFile);

    auto directory = [&](std::size_t at, std::uint32_t id, std::uint32_t target) {
        Put16(b, image.Res(at) + 14, 1);  // one id entry
        Put32(b, image.Res(at) + 16, id);
        Put32(b, image.Res(at) + 20, target);
    };
    directory(kRoot, type, 0x80000000u | kTypeDir);
    directory(kTypeDir, 1, 0x80000000u | kNameDir);
    directory(kNameDir, 0x409, kData);
    Put32(b, image.Res(kData), kSectionAddress + kBlock);
    Put32(b, image.Res(kData) + 4, kBlockSize);
    Put16(b, image.Res(kBlock), kBlockSize);
    return image;
}

PeResourceVerdict Check(const Bytes& file, std::size_t* reads = nullptr) {
    const ReadFileAt readAt = [&](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        if (reads) ++*reads;
        if (offset >= file.size()) return 0;
        const std::size_t count = std::min<std::size_t>(out.size(), file.size() - offset);
        std::memcpy(out.data(), file.data() + offset, count);
        return count;
    };
    return CheckPeVersionResource(file.size(), readAt);
}

TEST(PeVersionResource, WellFormedImagesAreSoundInBothWidths) {
    EXPECT_EQ(Check(BuildImage().bytes), PeResourceVerdict::Sound);
    EXPECT_EQ(Check(BuildImage(true).bytes), PeResourceVerdict::Sound);
}

TEST(PeVersionResource, ImagesWithoutVersionResource) {
    EXPECT_EQ(Check(BuildImage(false, 3).bytes),
              PeResourceVerdict::NoVersionResource);  // icons only

    Image noDirectory = BuildImage();
    Put32(noDirectory.bytes, noDirectory.optional + 96 + 16, 0);
    EXPECT_EQ(Check(noDirectory.bytes), PeResourceVerdict::NoVersionResource);

    Image fewDirectories = BuildImage();
    Put32(fewDirectories.bytes, fewDirectories.optional + 92, 2);
    EXPECT_EQ(Check(fewDirectories.bytes), PeResourceVerdict::NoVersionResource);
}

TEST(PeVersionResource, FilesThatAreNoPeImageAreLeftToTheSystem) {
    EXPECT_EQ(Check(Bytes{}), PeResourceVerdict::NotPe);
    Bytes text(100, std::byte{'a'});
    EXPECT_EQ(Check(text), PeResourceVerdict::NotPe);

    Image farHeader = BuildImage();
    Put32(farHeader.bytes, 0x3C, 0x7FFFFFF0);
    EXPECT_EQ(Check(farHeader.bytes), PeResourceVerdict::NotPe);
}

TEST(PeVersionResource, OffsetsOutsideTheFileAreUnsound) {
    const auto damaged = [](auto patch) {
        Image image = BuildImage();
        patch(image);
        return Check(image.bytes);
    };
    // A data entry whose data lies past the section, or is absurdly short.
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kData), 0x7FFFFFFF); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kData) + 4, 0x10000); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kData) + 4, 2); }),
              PeResourceVerdict::Unsound);
    // Directory entries that lead out of the section.
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kRoot) + 20, 0x8000FFF0); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kNameDir) + 20, 0x00FFFFF0); }),
              PeResourceVerdict::Unsound);
    // Entry counts that run past the section.
    EXPECT_EQ(damaged([](Image& i) { Put16(i.bytes, i.Res(kRoot) + 14, 0xFFFF); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put16(i.bytes, i.Res(kTypeDir) + 12, 0x4000); }),
              PeResourceVerdict::Unsound);
    // A language entry that claims to be a directory, a name that does not.
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kNameDir) + 20, 0x80000000u | kData); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put32(i.bytes, i.Res(kTypeDir) + 20, kNameDir); }),
              PeResourceVerdict::Unsound);
    // The section's data is cut off by the end of the file.
    EXPECT_EQ(damaged([](Image& i) { i.bytes.resize(kSectionFile + kBlock + 8); }),
              PeResourceVerdict::Unsound);
    // Headers that cannot be right.
    EXPECT_EQ(damaged([](Image& i) { Put16(i.bytes, i.optional, 0x999); }),
              PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put16(i.bytes, kPe + 6, 2000); }), PeResourceVerdict::Unsound);
    EXPECT_EQ(damaged([](Image& i) { Put16(i.bytes, kPe + 20, 0xFFFF); }),
              PeResourceVerdict::Unsound);
}

TEST(PeVersionResource, DirectoriesThatMultiplyTheWalkAreCutShort) {
    // 1,000 names that all lead to one directory of 1,000 languages: the
    // walk would read the file a million times, each read a system call,
    // and a file of 24 KiB could keep the inventory busy for minutes.
    constexpr std::size_t kNames = 0x400, kLanguages = 0x2400, kCount = 1000;
    Image image = BuildImage();
    Bytes& b = image.bytes;
    const std::uint32_t sectionSize = 0x6000;
    b.resize(kSectionFile + sectionSize);
    Put32(b, image.section + 8, sectionSize);
    Put32(b, image.section + 16, sectionSize);
    Put32(b, image.Res(kRoot) + 20, 0x80000000u | kNames);  // the version type's names
    Put16(b, image.Res(kNames) + 14, kCount);
    Put16(b, image.Res(kLanguages) + 14, kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        Put32(b, image.Res(kNames) + 16 + 8 * i, static_cast<std::uint32_t>(i + 1));
        Put32(b, image.Res(kNames) + 20 + 8 * i, 0x80000000u | kLanguages);
        Put32(b, image.Res(kLanguages) + 16 + 8 * i, 0x409);
        Put32(b, image.Res(kLanguages) + 20 + 8 * i, kData);
    }
    std::size_t reads = 0;
    EXPECT_EQ(Check(b, &reads), PeResourceVerdict::Unsound);
    EXPECT_LE(reads, kMaxPeResourceReads);

    // Ten names of ten languages each are a plausible file, and sound.
    Put16(b, image.Res(kNames) + 14, 10);
    Put16(b, image.Res(kLanguages) + 14, 10);
    reads = 0;
    EXPECT_EQ(Check(b, &reads), PeResourceVerdict::Sound);
    EXPECT_LT(reads, 200u);
}

TEST(PeVersionResource, SurvivesEveryCorruptedWordAndEveryTruncation) {
    for (bool pe64 : {false, true}) {
        const Bytes good = BuildImage(pe64).bytes;
        for (std::size_t at = 0; at + 1 < kSectionFile + kBlock + 4; at += 2) {
            for (std::uint32_t value : {0xFFFFu, 0x7FFFu, 0x8000u, 0u}) {
                Bytes bytes = good;
                Put16(bytes, at, value);
                (void)Check(bytes);
            }
        }
        for (std::size_t size = 0; size < kSectionFile + kBlock + kBlockSize; size += 4) {
            const Bytes prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
            const PeResourceVerdict verdict = Check(prefix);
            EXPECT_NE(verdict, PeResourceVerdict::Sound) << "cut at " << size;
        }
    }
}

// ---- the version block read straight from the file ---------------------------

DirectVersionRead Direct(const Bytes& file) {
    const ReadFileAt readAt = [&](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        if (offset >= file.size()) return 0;
        const std::size_t count = std::min<std::size_t>(out.size(), file.size() - offset);
        std::memcpy(out.data(), file.data() + offset, count);
        return count;
    };
    return ReadVersionBlockDirect(file.size(), readAt);
}

// The built image with a block in the 32-bit layout: its length word, and the
// key VS_VERSION_INFO after the value-length and type words.
Image ImageWithBlock(bool pe64 = false, std::uint32_t blockLength = kBlockSize) {
    Image image = BuildImage(pe64);
    Put16(image.bytes, image.Res(kBlock), blockLength);
    const std::u16string key = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < key.size(); ++i)
        Put16(image.bytes, image.Res(kBlock) + 6 + 2 * i, key[i]);
    Put16(image.bytes, image.Res(kBlock) + 0x3E, 0xABCD);  // the resource's last word
    return image;
}

TEST(DirectVersionRead, GivesTheBufferTheSystemWouldInBothWidths) {
    for (const bool pe64 : {false, true}) {
        const Image image = ImageWithBlock(pe64);
        const DirectVersionRead read = Direct(image.bytes);
        EXPECT_EQ(read.verdict, PeResourceVerdict::Sound);
        ASSERT_EQ(read.block.size(), 2 * kBlockSize + 4);
        EXPECT_TRUE(
            std::equal(read.block.begin(), read.block.begin() + kBlockSize,
                       image.bytes.begin() + static_cast<std::ptrdiff_t>(image.Res(kBlock))));
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
        Image image = ImageWithBlock();
        patch(image, image.bytes);
        return image.bytes;
    };
    // A second language of the same resource: the system picks one by its
    // own order of languages.
    const Bytes twoLanguages = patched([](const Image& image, Bytes& b) {
        Put16(b, image.Res(kNameDir) + 14, 2);
        Put32(b, image.Res(kNameDir) + 24, 0x407);
        Put32(b, image.Res(kNameDir) + 28, kData);
    });
    // The system looks up the id 1 only.
    const Bytes otherId =
        patched([](const Image& image, Bytes& b) { Put32(b, image.Res(kTypeDir) + 16, 2); });
    // The 16-bit layout: its key's first character where the type word is.
    const Bytes layout16 =
        patched([](const Image& image, Bytes& b) { b[image.Res(kBlock) + 4] = std::byte{'V'}; });
    const Bytes otherKey =
        patched([](const Image& image, Bytes& b) { Put16(b, image.Res(kBlock) + 8, 'X'); });
    // A resource type named "MUI" in front of the version type: the root
    // gets a named entry, and the type directory moves to make room.
    const auto withNamedType = [&](char16_t last) {
        return patched([last](const Image& image, Bytes& b) {
            constexpr std::size_t kMovedTypeDir = 0x100, kName = 0x140;
            for (std::size_t i = 0; i < 0x18; ++i)
                b[image.Res(kMovedTypeDir) + i] = b[image.Res(kTypeDir) + i];
            Put16(b, image.Res(kRoot) + 12, 1);
            Put32(b, image.Res(kRoot) + 16, 0x80000000u | kName);
            Put32(b, image.Res(kRoot) + 20, 0x80000000u | kMovedTypeDir);
            Put32(b, image.Res(kRoot) + 24, 16);
            Put32(b, image.Res(kRoot) + 28, 0x80000000u | kMovedTypeDir);
            Put16(b, image.Res(kName), 3);
            Put16(b, image.Res(kName) + 2, 'M');
            Put16(b, image.Res(kName) + 4, 'U');
            Put16(b, image.Res(kName) + 6, last);
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
