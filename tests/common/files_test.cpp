// The file system as the program uses it.

#include "common/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_dir.h"

namespace kelvra {
namespace {

std::vector<std::wstring> Names(const std::vector<DirEntry>& entries) {
    std::vector<std::wstring> names;
    for (const auto& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Files, WholeFileWritesAndAppendsReadBackByteExact) {
    testing::TempDir dir;
    const std::wstring path = dir / L"data.bin";
    const std::string bytes("a\0b\r\n\xff", 6);
    WriteFileBytes(path, bytes);
    EXPECT_EQ(ReadFileBytes(path), bytes);
    AppendFileBytes(path, "tail");
    EXPECT_EQ(ReadFileBytes(path), bytes + "tail");
    WriteFileBytes(path, "short");
    EXPECT_EQ(ReadFileBytes(path), "short") << "a write replaces the whole file";

    AppendFileBytes(dir / L"new.txt", "x");
    EXPECT_EQ(ReadFileBytes(dir / L"new.txt"), "x") << "an append creates a missing file";
    EXPECT_THROW(ReadFileBytes(dir / L"absent.txt"), FileError);
    EXPECT_THROW(AppendFileBytes(dir / L"absent\\x.txt", "x"), FileError);
}

TEST(Files, ReplaceLeavesTheOldFileWholeWhenTheNewOneCannotBeWritten) {
    testing::TempDir dir;
    const std::wstring path = dir / L"report.xml";
    WriteFileBytes(path, "old content");
    ReplaceFileBytes(path, "new content");
    EXPECT_EQ(ReadFileBytes(path), "new content");
    EXPECT_FALSE(FileExists(path + L".tmp"));

    // A folder where the new file would be written makes the write fail.
    ASSERT_TRUE(ForceDirectories(path + L".tmp"));
    EXPECT_THROW(ReplaceFileBytes(path, "lost"), FileError);
    EXPECT_EQ(ReadFileBytes(path), "new content");
}

TEST(Files, ReplaceWritesPiecesOneAfterAnother) {
    testing::TempDir dir;
    const std::wstring path = dir / L"report.html";
    WriteFileBytes(path, "old content that is longer");
    const std::vector<std::string> pieces = {"<html>\r\n", "", std::string(100000, 'x'),
                                             "</html>\r\n"};
    ReplaceFileBytes(path, pieces);
    EXPECT_EQ(ReadFileBytes(path), pieces[0] + pieces[2] + pieces[3]);
    ReplaceFileBytes(path, std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(path), "");
    EXPECT_FALSE(FileExists(path + L".tmp"));
}

TEST(Files, ReplaceLeavesAReadOnlyFileAlone) {
    namespace fs = std::filesystem;
    testing::TempDir dir;
    const std::wstring path = dir / L"settings.ini";
    WriteFileBytes(path, "old");
    fs::permissions(fs::path(path),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_THROW(ReplaceFileBytes(path, "new"), FileError);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_FALSE(FileExists(path + L".tmp"));
    fs::permissions(fs::path(path), fs::perms::owner_write, fs::perm_options::add);
}

TEST(Files, FoldersAreCreatedWithTheirParents) {
    testing::TempDir dir;
    const std::wstring deep = dir / L"a\\b\\c\\";
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_FALSE(FileExists(deep));
    EXPECT_TRUE(ForceDirectories(deep)) << "an existing folder is fine";

    WriteFileBytes(dir / L"a\\f.txt", "");
    EXPECT_TRUE(FileExists(dir / L"a\\f.txt"));
    EXPECT_FALSE(DirectoryExists(dir / L"a\\f.txt"));
    EXPECT_TRUE(DeleteFileAt(dir / L"a\\f.txt"));
    EXPECT_FALSE(FileExists(dir / L"a\\f.txt"));
    EXPECT_TRUE(DeleteFileAt(dir / L"a\\f.txt")) << "a missing file is gone already";
}

TEST(Files, FindEntriesMatchesTheMaskWithoutDotEntries) {
    testing::TempDir dir;
    WriteFileBytes(dir / L"App.EXE", "12345");
    WriteFileBytes(dir / L"setup.exe", "");
    WriteFileBytes(dir / L"readme.txt", "");
    ForceDirectories(dir / L"bin.exe");

    const auto entries = FindEntries(dir / L"*.exe");
    EXPECT_EQ(Names(entries), (std::vector<std::wstring>{L"App.EXE", L"bin.exe", L"setup.exe"}));
    for (const auto& entry : entries) {
        if (entry.name == L"App.EXE") {
            EXPECT_EQ(entry.size, 5u);
            // The one look at a single file tells what the listing told.
            EXPECT_EQ(FileFactsOf(dir / L"App.EXE"), entry.facts());
            EXPECT_NE(entry.lastWriteTime, 0);
        } else if (entry.name == L"bin.exe") {
            EXPECT_TRUE(entry.isDirectory);
        }
    }
    EXPECT_FALSE(FileFactsOf(dir / L"bin.exe")) << "a folder is no file";
    EXPECT_FALSE(FileFactsOf(dir / L"absent.exe"));
    const auto all = Names(FindEntries(dir / L"*"));
    EXPECT_EQ(std::count(all.begin(), all.end(), L"."), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), L".."), 0);
    EXPECT_EQ(all.size(), 4u);
    EXPECT_TRUE(FindEntries(dir / L"missing\\*.exe").empty());
}

}  // namespace
}  // namespace kelvra
