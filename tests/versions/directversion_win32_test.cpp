// The version block read straight from the file against the system's own
// calls, on every executable at hand: the fixtures, the fuzzing corpus of the
// resource walk and the PE files of the installed Wine. For each file the
// direct read either declines or gives the system's block byte for byte, or
// at least the same three texts. The counts are printed.
//
// Under Wine the system's calls on a file named like one of Wine's own
// programs or libraries read that built-in instead of the file, so every
// file is read under a neutral name of its own (a hard link, or a copy).

#include "common/win32.h"

#include "versions/directversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/textconv.h"
#include "fixtures/fixture_files_win32.h"
#include "versions/fileversion.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

using fixtures::ScratchFolder;

using Block = std::vector<std::byte>;

Block SystemBlock(const std::wstring& path) {
    std::uint32_t handle = 0;
    const std::uint32_t size = version_platform::InfoSize(path, handle);
    if (size == 0) return {};
    Block block(size, std::byte{0});
    if (!version_platform::LoadInfo(path, handle, block)) return {};
    return block;
}

// The three texts the inventory takes from a block, through the system's
// lookup, on a block that the program would let the system walk.
struct Texts {
    std::wstring fixed, fileVersion, productVersion;
    bool operator==(const Texts&) const = default;
};

std::optional<Texts> TextsOf(Block block) {
    if (!VersionBlockIsSound(block)) return std::nullopt;
    const auto query = [&](const std::wstring& subBlock, std::uint32_t& length) -> const void* {
        const void* value = nullptr;
        return version_platform::QueryValue(block, subBlock, value, length) ? value : nullptr;
    };
    Texts texts;
    std::uint32_t length = 0;
    if (const void* record = query(L"\\", length))
        if (const auto words = FixedWordsFromRecord(block, record, length))
            texts.fixed = FormatFixedVersion(words->ms, words->ls);
    const void* table = query(L"\\VarFileInfo\\Translation", length);
    const auto translation = table ? SpanInsideBuffer(block, table, length) : std::nullopt;
    if (translation && translation->size() >= 4) {
        std::uint32_t first = 0;
        std::memcpy(&first, translation->data(), 4);
        for (auto [key, text] : {std::pair{L"FileVersion", &texts.fileVersion},
                                 std::pair{L"ProductVersion", &texts.productVersion}}) {
            if (const void* value = query(StringTablePath(first, key), length))
                *text = TextFromValue(block, value, length);
        }
    }
    return texts;
}

struct Tally {
    int files = 0, direct = 0, declined = 0, identical = 0, sameTexts = 0;
    int byVerdict[4] = {};  // of the declined ones: NotPe, NoVersionResource, Sound, Unsound
    std::vector<std::string> differing;

    void Print(const char* source) const {
        std::cout << source << ": " << files << " files, " << direct << " read directly, "
                  << declined << " declined; of the direct reads " << identical
                  << " identical to the system's block, " << sameTexts
                  << " with the same texts; declined: " << byVerdict[0] << " no PE image, "
                  << byVerdict[1] << " no version resource, " << byVerdict[2]
                  << " sound but left to the system, " << byVerdict[3] << " unsound" << std::endl;
    }
};

// Reads the file both ways under a neutral name in the scratch folder.
void Compare(const std::wstring& original, ScratchFolder& scratch, Tally& tally) {
    const std::wstring path = fixtures::NeutralLink(scratch, original, tally.files++);
    const DirectVersionRead direct = ReadVersionBlockDirect(path);
    if (direct.block.empty()) {
        ++tally.declined;
        ++tally.byVerdict[static_cast<int>(direct.verdict)];
    } else {
        ++tally.direct;
        const Block system = SystemBlock(path);
        if (system == direct.block)
            ++tally.identical;
        else if (const auto texts = TextsOf(direct.block); texts && texts == TextsOf(system))
            ++tally.sameTexts;
        else
            tally.differing.push_back(WideToAnsi(original));
    }
    DeleteFileAt(path);
}

std::wstring WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return L"Z:" + AnsiToWide(path);
}

void CompareFolder(const std::wstring& folder, ScratchFolder& scratch, Tally& tally) {
    for (const DirEntry& entry : FindEntries(folder + L"\\*"))
        if (!entry.isDirectory) Compare(folder + L"\\" + entry.name, scratch, tally);
}

void ExpectEquivalent(const Tally& tally, const char* source) {
    tally.Print(source);
    EXPECT_GT(tally.direct, 0) << source << ": nothing was read directly";
    EXPECT_EQ(tally.identical + tally.sameTexts, tally.direct);
    for (const std::string& file : tally.differing)
        ADD_FAILURE() << "differs from the system: " << file;
}

TEST(DirectVersionEquivalence, FixtureExecutables) {
    ScratchFolder scratch;
    Tally tally;
    std::wstring folder = fixtures::FixtureDir();
    folder.pop_back();
    CompareFolder(folder, scratch, tally);
    ExpectEquivalent(tally, "fixtures");
}

TEST(DirectVersionEquivalence, CorpusOfTheResourceWalk) {
    ScratchFolder scratch;
    Tally tally;
    CompareFolder(WindowsPath(KELVRA_SOURCE_DIR "/fuzz/corpus/pe_resource"), scratch, tally);
    ASSERT_GT(tally.files, 0);
    ExpectEquivalent(tally, "fuzz corpus");
}

TEST(DirectVersionEquivalence, PeFilesOfTheInstalledWine) {
    ScratchFolder scratch;
    Tally tally;
    for (const std::wstring& folder : fixtures::InstalledWineFolders(true))
        CompareFolder(folder, scratch, tally);
    ASSERT_GT(tally.files, 100) << "the installed Wine's PE files were not found";
    ExpectEquivalent(tally, "Wine's PE files");
}

}  // namespace
}  // namespace kelvra
