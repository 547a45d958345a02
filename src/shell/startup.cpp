#include "account/settings.h"
#include "common/files.h"
#include "common/globals.h"
#include "shell/main.h"
#include "shell/version.h"

namespace kelvra {

bool IsInstallTrigger(std::wstring_view fileName) {
    std::wstring lowered(fileName);
    for (auto& ch : lowered)
        if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch - L'A' + L'a');
    return lowered == kInstallTrigger;
}

std::wstring DataFolderOf(std::wstring_view localAppDataDir) {
    return std::wstring(localAppDataDir) + kDataFolderName;
}

bool OpenDataFolder(const std::wstring& folder) {
    AppDataDir = folder;
    AppVersion = kAppVersion;
    const bool made = ForceDirectories(AppDataDir);
    SettingsFile = AppDataDir + L"settings.ini";
    LoadSettings();
    return made;
}

std::wstring AutostartCommand(std::wstring_view executablePath) {
    return L"\"" + std::wstring(executablePath) + L"\"";
}

std::wstring TrayMutexName(std::wstring_view userName) {
    std::wstring name = L"Local\\Kelvra2.TrayProgram.";
    for (wchar_t ch : userName) name += ch == L'\\' ? L'_' : ch;
    return name;
}

std::wstring TrayCommandMessageName(std::wstring_view userName) {
    return L"Kelvra2.TrayCommand." + std::wstring(userName);
}

}  // namespace kelvra
