#include "account/settings.h"

#include "account/inifile.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/sysfacts.h"

namespace kelvra {
namespace {

constexpr wchar_t kProxy[] = L"Proxy";
constexpr wchar_t kAccount[] = L"Account";

IniFile ReadSettingsFile() {
    try {
        return IniFile::Parse(FileExists(SettingsFile) ? ReadFileBytes(SettingsFile)
                                                       : std::string());
    } catch (const FileError&) {
        // A file that cannot be read gives the defaults, like a missing one.
        return IniFile::Parse({});
    }
}

}  // namespace

void LoadSettings() {
    const IniFile file = ReadSettingsFile();
    UseProxy = file.ReadBool(kProxy, L"Use proxy", false);
    ProxyServer = file.ReadString(kProxy, L"Server", L"");
    ProxyPort = file.ReadInteger(kProxy, L"Port", 0);
    ProxyUsername = file.ReadString(kProxy, L"Username", L"");
    ProxyPassword = file.ReadString(kProxy, L"Password", L"");

    const std::wstring defaultProfile = GetComputerNameText() + L"." + GetUserNameText();
    AccountProfile = file.ReadString(kAccount, L"Profile", defaultProfile);
    AccountUsername = file.ReadString(kAccount, L"Username", L"");
    AccountPassword = file.ReadString(kAccount, L"Password", L"");
}

void SaveSettings(const SettingsTexts& texts) {
    const auto fail = [] { return KelvraError(L"Unable to write to " + SettingsFile); };
    IniFile file = IniFile::Parse({});
    try {
        // An existing file that cannot be read must not be replaced: its
        // other content would be lost.
        if (FileExists(SettingsFile)) file = IniFile::Parse(ReadFileBytes(SettingsFile));
    } catch (const FileError&) {
        throw fail();
    }
    file.Write(kProxy, L"Use proxy", texts.useProxy);
    file.Write(kProxy, L"Server", texts.proxyServer);
    file.Write(kProxy, L"Port", texts.proxyPort);
    file.Write(kProxy, L"Username", texts.proxyUsername);
    file.Write(kProxy, L"Password", texts.proxyPassword);
    file.Write(kAccount, L"Username", texts.accountUsername);
    file.Write(kAccount, L"Password", texts.accountPassword);
    file.Write(kAccount, L"Profile", texts.accountProfile);
    try {
        ReplaceFileBytes(SettingsFile, file.Serialize());
    } catch (const FileError&) {
        throw fail();
    }
}

}  // namespace kelvra
