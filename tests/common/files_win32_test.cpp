// What the Windows file functions add: hidden files, sharing locks.

#include "common/win32.h"

#include "common/files.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/allowed_skip.h"
#include "support/slow_share_win32.h"
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

TEST(FilesWin32, SlowShareIsRemoteAndOnlyItsSlowFolderSleeps) {
    testing::TempDir dir;
    const std::wstring backing = dir / L"share";
    for (const wchar_t* folder : {L"\\Fast", L"\\Slow"}) {
        ASSERT_TRUE(ForceDirectories(backing + folder));
        WriteFileBytes(backing + folder + L"\\app.exe", "MZ");
    }
    testing::SlowShare share(testing::kSlowShareScript, L'S', backing, 2.0, L"Slow");
    if (!share.available()) {
        if (share.needsRoot()) KELVRA_ALLOWED_SKIP() << "mounting a file system needs root";
        FAIL() << "no slow share: " << share.whyNot();
    }
    EXPECT_EQ(GetDriveTypeW(share.root().c_str()), static_cast<UINT>(DRIVE_REMOTE))
        << share.whyNotRemote();
    const auto seconds = [](auto call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    EXPECT_LT(seconds([&] { EXPECT_EQ(FindEntries(share.root() + L"Fast\\*.exe").size(), 1u); }),
              1.0);
    // A short delay, so that the slow folder costs little; every call on it
    // costs several operations of the share.
    share.SetDelay(0.1);
    EXPECT_GT(seconds([&] { EXPECT_TRUE(FileExists(share.root() + L"Slow\\app.exe")); }), 0.2);
    share.Release();
    EXPECT_EQ(GetDriveTypeW(share.root().c_str()), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
}

}  // namespace
}  // namespace kelvra
