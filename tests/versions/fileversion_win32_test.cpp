// The version-resource reader on real files through the system's
// version-information functions: the fixture executables built beside these
// tests, copies of them damaged on purpose, and files that cannot be read.

#include "versions/fileversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/handles_win32.h"
#include "fixtures/fixture_files_win32.h"
#include "support/guarded_buffers_win32.h"
#include "support/version_blocks.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

using fixtures::FixturePath;
using fixtures::ScratchFolder;

// ---- what the resources say --------------------------------------------------

TEST(FileVersionResources, FixedVersionComesFromTheFileWordsAsUnsignedHalves) {
    // The product words of fv_1234 are 9.8.7.6.
    EXPECT_EQ(ReadFileVersions(FixturePath(L"fv_1234")).fixedVersion, L"1.2.3.4");
    EXPECT_EQ(ReadFileVersions(FixturePath(L"fv_max")).fixedVersion, L"65535.0.65535.1");
}

TEST(FileVersionResources, StringsAreReturnedAsStored) {
    const FileVersionResult result = ReadFileVersions(FixturePath(L"fv_1234"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.fixedVersion, L"1.2.3.4");
    EXPECT_EQ(result.fileVersionText, L"1, 2, 3, 4");
    EXPECT_EQ(result.productVersionText, L"1.2");
}

TEST(FileVersionResources, StringTableKeysAreLookedUpAsSpelt) {
    VersionBlock block = VersionBlock::Load(FixturePath(L"fv_1234"));
    const auto read = [&block](std::wstring_view key) { return ReadVersionString(block, key); };
    EXPECT_EQ(read(L"CompanyName"), L"Kelvra Pr\u00fcf \u03a9 Werk");  // UTF-16 all the way
    EXPECT_EQ(read(L"FileDescription"), L"Fixture one two three four");
    // The file says "LegalCopyright" and "OriginalFilename": the lookup
    // ignores case, so both are found.
    EXPECT_EQ(read(L"LegalCopyRight"), L"Copyright 2026");
    EXPECT_EQ(read(L"OriginalFileName"), L"fv_1234.exe");
    // The file says "LegalTrademarks", which is not the key asked for.
    EXPECT_EQ(read(L"LegalTradeMark"), L"");
    EXPECT_EQ(read(L"Comments"), L"Fixture comments");
}

TEST(FileVersionResources, OnlyTheFirstTranslationCounts) {
    const FileVersionResult result = ReadFileVersions(FixturePath(L"fv_multi"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.fixedVersion, L"3.1.0.0");
    EXPECT_EQ(result.fileVersionText, L"3.1 de");
    EXPECT_EQ(result.productVersionText, L"3.1 deutsch");
}

TEST(FileVersionResources, StringsUnderAnotherTranslationOrWithoutOneAreNotFound) {
    const FileVersionResult otherLanguage = ReadFileVersions(FixturePath(L"fv_otherlang"));
    EXPECT_TRUE(otherLanguage.ok);
    EXPECT_EQ(otherLanguage.fixedVersion, L"4.0.0.0");
    EXPECT_EQ(otherLanguage.fileVersionText, L"");
    EXPECT_EQ(otherLanguage.productVersionText, L"");

    const FileVersionResult noTranslation = ReadFileVersions(FixturePath(L"fv_notrans"));
    EXPECT_TRUE(noTranslation.ok);
    EXPECT_EQ(noTranslation.fixedVersion, L"5.0.0.0");
    EXPECT_EQ(noTranslation.fileVersionText, L"");
}

TEST(FileVersionResources, NoResourceOrNoFileIsOkAndEmpty) {
    for (const std::wstring& path :
         {FixturePath(L"fv_none"), FixturePath(L"does_not_exist"), std::wstring(L""),
          std::wstring(L"C:\\") + std::wstring(300, L'a') + L".exe"}) {
        const FileVersionResult result = ReadFileVersions(path);
        EXPECT_TRUE(result.ok) << WideToAnsi(path);
        EXPECT_EQ(result.fixedVersion, L"");
        EXPECT_EQ(result.fileVersionText, L"");
        EXPECT_EQ(result.productVersionText, L"");
    }
}

TEST(FileVersionResources, SystemFilesPassTheSoundnessCheck) {
    // Blocks written by another resource compiler than ours: every file of
    // the system folder with a version block must read as sound and give a
    // fixed version.
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    int checked = 0;
    for (const wchar_t* name : {L"notepad.exe", L"regedit.exe", L"cmd.exe", L"kernel32.dll",
                                L"user32.dll", L"version.dll", L"comctl32.dll", L"shell32.dll"}) {
        const std::wstring path = std::wstring(system) + L"\\" + name;
        VersionBlock block = VersionBlock::Load(path);
        if (!block.present()) continue;
        ++checked;
        EXPECT_TRUE(block.readable()) << WideToAnsi(path);
        EXPECT_TRUE(block.FixedFileVersion()) << WideToAnsi(path);
        EXPECT_NE(ReadFileVersions(path).fixedVersion, L"") << WideToAnsi(path);
    }
    EXPECT_GT(checked, 3);
}

// ---- the trace lines ---------------------------------------------------------------

TEST(FileVersionTrace, FourLinesWithABlockThreeWithout) {
    fixtures::CapturedLog log;
    const std::wstring with = FixturePath(L"fv_1234");
    ASSERT_TRUE(ReadFileVersions(with).ok);
    EXPECT_EQ(log.TakeMessages(),
              (std::vector<std::wstring>{
                  L"GetVersion2 [" + with + L"] A", L"GetVersion2 [" + with + L"] B",
                  L"GetAppVersionInfo [" + with + L"] A", L"GetAppVersionInfo [" + with + L"] B"}));

    for (const std::wstring& without : {FixturePath(L"fv_none"), FixturePath(L"nothing_here")}) {
        ASSERT_TRUE(ReadFileVersions(without).ok);
        EXPECT_EQ(log.TakeMessages(),
                  (std::vector<std::wstring>{L"GetVersion2 [" + without + L"] A",
                                             L"GetAppVersionInfo [" + without + L"] A",
                                             L"GetAppVersionInfo [" + without + L"] B"}));
    }
}

// ---- damaged and unreadable files ------------------------------------------------

class DamagedCopies : public ::testing::Test {
  protected:
    void SetUp() override { original_ = ReadFileBytes(FixturePath(L"fv_1234")); }

    // Writes the bytes as a new executable and reads its versions.
    FileVersionResult ReadPatched(const std::string& bytes) {
        const std::wstring path = folder_ / (L"copy" + std::to_wstring(copies_++) + L".exe");
        WriteFileBytes(path, bytes);
        return ReadFileVersions(path);
    }

    ScratchFolder folder_;
    std::string original_;
    int copies_ = 0;
};

TEST_F(DamagedCopies, TruncatedCopiesNeverCrash) {
    const std::size_t block = fixtures::VersionBlockOffset(original_);
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{64}, std::size_t{0x200},
                               block, block + 10, block + 100, block + 300, original_.size() - 1}) {
        const FileVersionResult result = ReadPatched(original_.substr(0, length));
        // Either nothing is found or what is found is what the file says.
        if (result.ok && !result.fixedVersion.empty()) {
            EXPECT_EQ(result.fixedVersion, L"1.2.3.4");
        }
    }
}

TEST_F(DamagedCopies, CorruptResourceDirectoryNeverCrashes) {
    const std::size_t directory = fixtures::ResourceDirectoryOffset(original_);
    // Entry counts far beyond the section, and entry offsets that point out
    // of it, at each of the three levels of the directory.
    for (std::size_t word = 0; word < 0x60; word += 2) {
        for (std::uint16_t value : {std::uint16_t{0xFFFF}, std::uint16_t{0x7FFF}}) {
            std::string bytes = original_;
            fixtures::PatchWord(bytes, directory + 12 + word, value);
            const FileVersionResult result = ReadPatched(bytes);
            if (result.ok && !result.fixedVersion.empty()) {
                EXPECT_EQ(result.fixedVersion, L"1.2.3.4");
            }
        }
    }
}

TEST_F(DamagedCopies, LyingNodeLengthsMakeTheBlockUnreadable) {
    const std::size_t root = fixtures::VersionBlockOffset(original_);
    const std::size_t table = fixtures::VersionNodeOffset(original_, L"040904B0", root);
    const std::size_t fileVersion = fixtures::VersionNodeOffset(original_, L"FileVersion", table);

    for (std::size_t node : {root, table, fileVersion}) {
        std::string bytes = original_;
        fixtures::PatchWord(bytes, node, 0xFFF0);
        const FileVersionResult result = ReadPatched(bytes);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.fixedVersion, L"");
        EXPECT_EQ(result.fileVersionText, L"");
        EXPECT_EQ(result.productVersionText, L"");
    }
}

TEST_F(DamagedCopies, StringValueLengthsThatLieChangeNothing) {
    // Reported in characters: "1, 2, 3, 4" is 11 with its NUL, "1.2" is 4.
    // Old resource compilers wrote bytes, overstating it; the system never
    // uses the length to find a string, nor does the text end at it.
    const std::size_t block = fixtures::VersionBlockOffset(original_);
    for (const wchar_t* key : {L"FileVersion", L"ProductVersion"}) {
        const std::size_t node = fixtures::VersionNodeOffset(original_, key, block);
        for (std::uint16_t length :
             {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{3}, std::uint16_t{22},
              std::uint16_t{0x7FFF}, std::uint16_t{0xFFFF}}) {
            std::string bytes = original_;
            fixtures::PatchWord(bytes, node + 2, length);
            const FileVersionResult result = ReadPatched(bytes);
            EXPECT_TRUE(result.ok);
            EXPECT_EQ(result.fixedVersion, L"1.2.3.4") << WideToAnsi(key) << " " << length;
            EXPECT_EQ(result.fileVersionText, L"1, 2, 3, 4") << WideToAnsi(key) << " " << length;
            EXPECT_EQ(result.productVersionText, L"1.2") << WideToAnsi(key) << " " << length;
        }
    }
}

TEST_F(DamagedCopies, ValuesEndAtTheirFirstNul) {
    const std::size_t fileVersion = fixtures::VersionNodeOffset(
        original_, L"FileVersion", fixtures::VersionBlockOffset(original_));
    std::string earlyNul = original_;
    const std::size_t text = fixtures::FindUtf16(original_, L"1, 2, 3, 4", fileVersion);
    fixtures::PatchWord(earlyNul, text + 2, 0);  // the first comma
    EXPECT_EQ(ReadPatched(earlyNul).fileVersionText, L"1");
}

TEST_F(DamagedCopies, FixedRecordWithoutSignatureGivesNoFixedVersion) {
    std::string bytes = original_;
    const std::size_t record = fixtures::FindUtf16(original_, L"VS_VERSION_INFO") + 32 + 2;
    ASSERT_EQ(fixtures::DWordAt(bytes, record), 0xFEEF04BDu);
    fixtures::PatchWord(bytes, record, 0x04BC);
    const FileVersionResult result = ReadPatched(bytes);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.fixedVersion, L"");
    EXPECT_EQ(result.fileVersionText, L"1, 2, 3, 4");  // the strings are still there
}

TEST_F(DamagedCopies, LockedAndVanishedFilesGiveNothing) {
    const std::wstring locked = folder_ / L"locked.exe";
    fixtures::CopyFixture(L"fv_1234", locked);
    {
        UniqueHandle hold = MakeUniqueFileHandle(CreateFileW(
            locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(hold);
        const FileVersionResult result = ReadFileVersions(locked);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.fixedVersion, L"");
        EXPECT_EQ(result.fileVersionText, L"");
    }
    EXPECT_EQ(ReadFileVersions(locked).fixedVersion, L"1.2.3.4");  // released again

    const std::wstring vanished = folder_ / L"vanished.exe";
    fixtures::CopyFixture(L"fv_1234", vanished);
    ASSERT_TRUE(DeleteFileW(vanished.c_str()));
    const FileVersionResult result = ReadFileVersions(vanished);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.fixedVersion, L"");
}

// ---- blocks in the 16-bit layout ------------------------------------------------
//
// The system answers a text query on such a block with a UTF-16 copy it
// writes after the block. Every buffer of these tests ends at a guard, and
// each read checks that nothing touched it.

class SixteenBitBlocks : public ::testing::Test {
  protected:
    using Bytes = version_blocks::Bytes;

    static std::string AsString(const Bytes& bytes) {
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    std::wstring Write(const Bytes& bytes) {
        const std::wstring path = folder_ / (L"old" + std::to_wstring(files_++) + L".exe");
        WriteFileBytes(path, AsString(bytes));
        return path;
    }

    FileVersionResult Read(const Bytes& bytes) {
        const FileVersionResult result = ReadFileVersions(Write(bytes));
        EXPECT_EQ(guard_.overrun(), 0u) << guard_.Describe();
        return result;
    }

    // The fixture executable with its version resource replaced by the block.
    static Bytes PeWithBlock(const Bytes& block) {
        std::string bytes = ReadFileBytes(FixturePath(L"fv_1234"));
        const std::size_t entry = fixtures::VersionDataEntryOffset(bytes);
        const std::size_t data = fixtures::VersionBlockOffset(bytes);
        EXPECT_LE(block.size(), fixtures::DWordAt(bytes, entry + 4));
        std::copy(block.begin(), block.end(), reinterpret_cast<std::byte*>(bytes.data()) + data);
        fixtures::PatchWord(bytes, entry + 4, static_cast<std::uint16_t>(block.size()));
        return Bytes(reinterpret_cast<const std::byte*>(bytes.data()),
                     reinterpret_cast<const std::byte*>(bytes.data()) + bytes.size());
    }

    static void ExpectTypicalTexts(const FileVersionResult& result, const std::string& what) {
        EXPECT_TRUE(result.ok) << what;
        EXPECT_EQ(result.fixedVersion, L"3.1.0.7") << what;
        EXPECT_EQ(result.fileVersionText, L"3.1 b7") << what;
        EXPECT_EQ(result.productVersionText, L"3.1 \u00e9t\u00e9") << what;  // code page 1252
    }

    static void ExpectNothing(const FileVersionResult& result, const std::string& what) {
        EXPECT_TRUE(result.ok) << what;
        EXPECT_EQ(result.fixedVersion, L"") << what;
        EXPECT_EQ(result.fileVersionText, L"") << what;
        EXPECT_EQ(result.productVersionText, L"") << what;
    }

    testing::GuardedVersionBuffers guard_;
    ScratchFolder folder_;
    int files_ = 0;
};

TEST_F(SixteenBitBlocks, TheGuardSeesWhatTheSystemWritesPastItsOwnSize) {
    // The system's own way, in a buffer of the size it asks for: the copy of
    // "FileVersion" lands past the end. This is what the reader must never
    // let happen, and it shows that the guard sees it.
    const std::wstring path = Write(PeWithBlock(version_blocks::Typical16BitBlock()));
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    const auto buffer = guard_.Allocate(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), handle, size, buffer->Bytes().data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(buffer->Bytes().data(), L"\\StringFileInfo\\040904E4\\FileVersion",
                               &value, &length));
    EXPECT_GT(guard_.overrun(), 0u) << guard_.Describe();
}

TEST_F(SixteenBitBlocks, InsideAPeFileTheTextsAreThoseTheSystemGives) {
    ExpectTypicalTexts(Read(PeWithBlock(version_blocks::Typical16BitBlock())), "PE");
    EXPECT_GE(guard_.allocations(), 2u);  // the system's size, then one with room
}

TEST_F(SixteenBitBlocks, AnHonestNeExecutableGivesItsTexts) {
    ExpectTypicalTexts(Read(version_blocks::NeExecutable(version_blocks::Typical16BitBlock())),
                       "NE");
    EXPECT_GE(guard_.allocations(), 2u);
}

TEST_F(SixteenBitBlocks, BlocksThatLieAboutTheirLengthsStayInTheirBuffers) {
    using namespace version_blocks;
    const Bytes block = Typical16BitBlock();
    struct Case {
        const char* what;
        std::size_t at;
        std::uint16_t word;
    };
    for (const Case& c : {
             // The root claims more than the resource holds: the copies are
             // made at its length plus twice each text's offset.
             Case{"root 304 bytes longer", 0, static_cast<std::uint16_t>(block.size() + 304)},
             Case{"FileVersion value length 0", NodeOffset(block, "FileVersion", true) + 2, 0},
             Case{"FileVersion value length 0xFFFF", NodeOffset(block, "FileVersion", true) + 2,
                  0xFFFF},
             Case{"ProductVersion value length 1", NodeOffset(block, "ProductVersion", true) + 2,
                  1},
         }) {
        Bytes lying = block;
        PutWord(lying, c.at, c.word);
        ExpectTypicalTexts(Read(NeExecutable(lying)), std::string("NE, ") + c.what);
        // Inside a PE file the system's buffer is too small for such a root.
        if (c.at != 0) ExpectTypicalTexts(Read(PeWithBlock(lying)), std::string("PE, ") + c.what);
    }

    // A text without its NUL runs on in the copy; it ends with its node.
    Bytes noNul = block;
    const std::size_t node = NodeOffset(block, "FileVersion", true);
    noNul[node + 4 + 12 + 6] = std::byte{'X'};
    noNul[node + 4 + 12 + 7] = std::byte{'Y'};  // the padding after the node
    const FileVersionResult result = Read(NeExecutable(noNul));
    EXPECT_EQ(result.fileVersionText, L"3.1 b7X");
    EXPECT_EQ(result.productVersionText, L"3.1 \u00e9t\u00e9");
}

TEST_F(SixteenBitBlocks, NeExecutablesThatLieAddNothingAndAskForLittleMemory) {
    using namespace version_blocks;
    // The system's reader in the helper may hand back what it found; the
    // block's own check refuses it.
    for (const LyingNeFile& file : LyingNeExecutables()) ExpectNothing(Read(file.bytes), file.what);
    EXPECT_LE(guard_.largest(), kMaxVersionBufferSize);

    // A 64 KiB file that claims a resource as long as the file may hold: read,
    // and the buffer stays bounded.
    Bytes big = NeExecutable(Typical16BitBlock());
    big.resize(0x10000);
    PutWord(big, kNeNameAt + 2, static_cast<std::uint16_t>((big.size() - kNeDataAt) >> kNeShift));
    ExpectTypicalTexts(Read(big), "64 KiB resource");
    EXPECT_LE(guard_.largest(), kMaxVersionBufferSize);

    // A resource of 300 KiB that the file does hold: the system would ask
    // for four times that, more than any version block needs.
    const std::size_t allocations = guard_.allocations();
    Bytes huge = NeExecutable(Typical16BitBlock());
    huge.resize(kNeDataAt + 300 * 1024);
    PutWord(huge, kNeNameAt + 2, static_cast<std::uint16_t>((300 * 1024) >> kNeShift));
    ExpectNothing(Read(huge), "300 KiB resource");
    EXPECT_EQ(guard_.allocations(), allocations);
}

}  // namespace
}  // namespace kelvra
