// What the Windows file functions add: hidden files, sharing locks.

#include "common/win32.h"

#include "common/files.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kelvra {
namespace {

TEST(FilesWin32, FindEntriesListsHiddenAndSystemFiles) {
    testing::TempDir dir;
    const std::wstring hidden = dir / L"hidden.exe";
    const std::wstring system = dir / L"system.exe";
    WriteFileBytes(hidden, "h");
    WriteFileBytes(system, "s");
    ASSERT_TRUE(SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));

    const auto entries = FindEntries(dir / L"*.exe");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(FileExists(hidden));

    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FilesWin32, AppendToAFileLockedByAnotherHandleRaises) {
    // The log's "file locked" case: a handle that shares nothing.
    testing::TempDir dir;
    const std::wstring path = dir / L"logreg.txt";
    WriteFileBytes(path, "");
    HANDLE locked = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_THROW(AppendFileBytes(path, "x"), FileError);
    CloseHandle(locked);
    AppendFileBytes(path, "x");
    EXPECT_EQ(ReadFileBytes(path), "x");
}

}  // namespace
}  // namespace kelvra
