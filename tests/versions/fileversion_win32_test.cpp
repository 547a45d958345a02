// The version-resource reader on real files through the system's
// version-information functions: the fixture executables built beside these
// tests, copies of them damaged on purpose, and files that cannot be read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/files.h"
#include "common/handles_win32.h"
#include "fixtures/fixture_files_win32.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

using fixtures::FixturePath;
using fixtures::ScratchFolder;

// ---- what the resources say --------------------------------------------------

TEST(FileVersionResources, FixedVersionComesFromTheFileWordsAsUnsignedHalves) {
    EXPECT_EQ(GetVersion2(FixturePath(L"fv_1234")), L"1.2.3.4");  // product words are 9.8.7.6
    EXPECT_EQ(GetVersion2(FixturePath(L"fv_max")), L"65535.0.65535.1");
}

TEST(FileVersionResources, StringsAreReturnedAsStored) {
    const FileVersionResult result = ReadFileVersions(FixturePath(L"fv_1234"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.fixedVersion, L"1.2.3.4");
    EXPECT_EQ(result.fileVersionText, L"1, 2, 3, 4");
    EXPECT_EQ(result.productVersionText, L"1.2");
}

TEST(FileVersionResources, TenKeysAreLookedUpAsSpelt) {
    const TAppVersionInfo info = GetAppVersionInfo(FixturePath(L"fv_1234"));
    EXPECT_EQ(info.CompanyName, L"Kelvra Pr\u00fcf \u03a9 Werk");  // UTF-16 all the way
    EXPECT_EQ(info.FileDescription, L"Fixture one two three four");
    EXPECT_EQ(info.InternalName, L"fv_1234");
    // The file says "LegalCopyright" and "OriginalFilename": the lookup
    // ignores case, so both are found.
    EXPECT_EQ(info.LegalCopyRight, L"Copyright 2026");
    EXPECT_EQ(info.OriginalFileName, L"fv_1234.exe");
    // The file says "LegalTrademarks", which is not the key asked for.
    EXPECT_EQ(info.LegalTradeMark, L"");
    EXPECT_EQ(info.ProductName, L"Fixture Product");
    EXPECT_EQ(info.Comments, L"Fixture comments");
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
              (std::vector<std::wstring>{L"GetVersion2 [" + with + L"] A", L"GetVersion2 [" + with + L"] B",
                                         L"GetAppVersionInfo [" + with + L"] A",
                                         L"GetAppVersionInfo [" + with + L"] B"}));

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
    for (std::size_t length :
         {std::size_t{0}, std::size_t{1}, std::size_t{64}, std::size_t{0x200}, block, block + 10,
          block + 100, block + 300, original_.size() - 1}) {
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

TEST_F(DamagedCopies, ValuesEndAtTheirFirstNulWhateverTheirLength) {
    const std::size_t fileVersion = fixtures::VersionNodeOffset(
        original_, L"FileVersion", fixtures::VersionBlockOffset(original_));

    std::string longValue = original_;
    fixtures::PatchWord(longValue, fileVersion + 2, 0xFFFF);
    EXPECT_EQ(ReadPatched(longValue).fileVersionText, L"1, 2, 3, 4");

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

}  // namespace
}  // namespace kelvra
