// The system facts as Wine answers them: real folders, well formed.

#include "common/win32.h"

#include "common/sysfacts.h"

#include <gtest/gtest.h>

#include <cwctype>

#include "common/files.h"
#include "common/globals.h"
#include "common/registry.h"

namespace kelvra {
namespace {

bool EqualIgnoringCase(std::wstring a, std::wstring b) {
    for (auto* text : {&a, &b})
        for (auto& ch : *text) ch = static_cast<wchar_t>(std::towlower(ch));
    return a == b;
}

TEST(SysFactsWin32, FoldersEndInABackslashAndExist) {
    const std::wstring local = GetLocalAppDataDir();
    ASSERT_GT(local.size(), 3u);
    EXPECT_EQ(local.back(), L'\\');
    EXPECT_NE(local[local.size() - 2], L'\\') << "exactly one trailing backslash";
    EXPECT_EQ(local.substr(0, local.size() - 1), GetSpecialFolder(kCsidlLocalAppData));
    EXPECT_TRUE(DirectoryExists(local));

    const std::wstring temp = GetTempDir();
    ASSERT_GT(temp.size(), 3u);
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(DirectoryExists(temp));
}

TEST(SysFactsWin32, WindowsFolderComesFromTheRegistryAndIsCached) {
    const std::wstring saved = WindowsDir;
    WindowsDir.clear();
    const std::wstring windows = GetWindowsDir();
    EXPECT_EQ(WindowsDir, windows);

    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(system, MAX_PATH), 0u);
    EXPECT_TRUE(EqualIgnoringCase(windows, std::wstring(system) + L"\\"))
        << "registry and system agree";

    WindowsDir = L"Q:\\Cached\\";
    EXPECT_EQ(GetWindowsDir(), L"Q:\\Cached\\");
    WindowsDir = saved;
}

TEST(SysFactsWin32, SystemRootThatIsNotTextReachesTheCallerUntilItIsGone) {
    // The older place is read first. A value there that is not text raises
    // to the caller, and nothing is cached, so removing it mends the next call.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExW(key, L"SystemRoot", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    const std::wstring saved = WindowsDir;
    const DWORD number = 5;
    ASSERT_EQ(RegSetValueExW(key, L"SystemRoot", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), sizeof number),
              ERROR_SUCCESS);
    WindowsDir.clear();
    try {
        GetWindowsDir();
        ADD_FAILURE() << "a number was taken for the Windows folder";
    } catch (const RegistryError& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'SystemRoot'");
    }
    EXPECT_TRUE(WindowsDir.empty());
    RegDeleteValueW(key, L"SystemRoot");
    RegCloseKey(key);
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(system, MAX_PATH), 0u);
    EXPECT_TRUE(EqualIgnoringCase(GetWindowsDir(), std::wstring(system) + L"\\"));
    WindowsDir = saved;
}

TEST(SysFactsWin32, NamesHaveTheirSystemShape) {
    const std::wstring computer = GetComputerNameText();
    EXPECT_FALSE(computer.empty());
    EXPECT_LE(computer.size(), 15u);
    EXPECT_EQ(computer.find(L'\0'), std::wstring::npos);

    const std::wstring user = GetUserNameText();
    ASSERT_FALSE(user.empty());
    EXPECT_GT(user.front(), L' ');
    EXPECT_GT(user.back(), L' ') << "no terminator or blank left at the end";
    EXPECT_EQ(user.find(L'\0'), std::wstring::npos);

    wchar_t expected[256] = {};
    DWORD length = 256;
    ASSERT_TRUE(GetUserNameW(expected, &length));
    EXPECT_EQ(user, expected);
}

}  // namespace
}  // namespace kelvra
