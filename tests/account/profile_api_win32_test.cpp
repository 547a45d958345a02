// Settings files of earlier installations were written by the Windows
// private-profile functions. Our INI engine must read such files exactly as
// those functions do, and files it writes must read back the same through them.

#include "common/win32.h"

#include <gtest/gtest.h>

#include "account/inifile.h"
#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

std::wstring ProfileRead(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    // The settings reader asks with room for 2047 characters, like the program.
    std::wstring buffer(2048, L'\0');
    const DWORD length = GetPrivateProfileStringW(section, key, L"<missing>", buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), file.c_str());
    buffer.resize(length);
    return buffer;
}

struct Pair {
    const wchar_t* key;
    std::wstring value;
};

const Pair kValues[] = {
    {L"Plain", L"value"},
    {L"Blanks", L"   padded   "},
    {L"Quoted", L"\"quoted text\""},
    {L"Single", L"'single'"},
    {L"Equals", L"a=b"},
    {L"Empty", L""},
    {L"Accent", L"caf\u00e9"},
    {L"Long", std::wstring(3000, L'x')},
};

TEST(PrivateProfileCompatibility, FilesWrittenByWindowsReadTheSame) {
    testing::TempDir dir;
    const std::wstring path = dir / L"windows.ini";
    for (const Pair& pair : kValues)
        ASSERT_TRUE(
            WritePrivateProfileStringW(L"Account", pair.key, pair.value.c_str(), path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Proxy", L"Port", L"0x1F90", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Proxy", L"Use proxy", L"2", path.c_str()));

    const IniFile ours = IniFile::Parse(ReadFileBytes(path));
    for (const Pair& pair : kValues) {
        EXPECT_EQ(ours.ReadString(L"account", pair.key, L"<missing>"),
                  ProfileRead(path, L"Account", pair.key))
            << "key " << pair.key;
    }
    EXPECT_EQ(ours.ReadInteger(L"Proxy", L"Port", 0),
              static_cast<int>(GetPrivateProfileIntW(L"Proxy", L"Port", 0, path.c_str())));
    EXPECT_TRUE(ours.ReadBool(L"Proxy", L"Use proxy", false));
}

TEST(PrivateProfileCompatibility, FilesWeWriteReadTheSameThroughWindows) {
    testing::TempDir dir;
    const std::wstring saved = SettingsFile;
    SettingsFile = dir / L"settings.ini";
    SaveSettings({L"1", L"proxy.local", L"8080", L"pu", L" pp ", L"ann", L"'pw'", L"PC01.ann"});
    EXPECT_EQ(ProfileRead(SettingsFile, L"Proxy", L"Use proxy"), L"1");
    EXPECT_EQ(ProfileRead(SettingsFile, L"proxy", L"server"), L"proxy.local");
    EXPECT_EQ(ProfileRead(SettingsFile, L"Proxy", L"Port"), L"8080");
    EXPECT_EQ(ProfileRead(SettingsFile, L"Proxy", L"Password"), L"pp");
    EXPECT_EQ(ProfileRead(SettingsFile, L"Account", L"Password"), L"pw");
    EXPECT_EQ(ProfileRead(SettingsFile, L"Account", L"Profile"), L"PC01.ann");

    // Windows edits the file we wrote; our loader sees its change and ours.
    ASSERT_TRUE(WritePrivateProfileStringW(L"Account", L"Username", L"bob", SettingsFile.c_str()));
    LoadSettings();
    EXPECT_EQ(AccountUsername, L"bob");
    EXPECT_EQ(AccountProfile, L"PC01.ann");
    SettingsFile = saved;
}

TEST(PrivateProfileCompatibility, ReadOnlySettingsFileIsNotReplaced) {
    testing::TempDir dir;
    const std::wstring saved = SettingsFile;
    SettingsFile = dir / L"settings.ini";
    const std::string old = "[Account]\r\nUsername=old\r\n";
    WriteFileBytes(SettingsFile, old);
    ASSERT_TRUE(SetFileAttributesW(SettingsFile.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_THROW(SaveSettings({L"0", L"", L"0", L"", L"", L"new", L"", L"P"}), KelvraError);
    EXPECT_EQ(ReadFileBytes(SettingsFile), old);
    SetFileAttributesW(SettingsFile.c_str(), FILE_ATTRIBUTE_NORMAL);
    SettingsFile = saved;
}

}  // namespace
}  // namespace kelvra
