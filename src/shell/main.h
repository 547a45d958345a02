#pragma once
// The tray program's start: which mode a start is (installer or tray
// program), where the installed copy goes, what the autostart entry holds and
// how a second tray program of the same user notices the first. Free of any
// window so that the rules can be checked on a development machine; the
// Windows entry (kelvra_main_win32.cpp) and the main window act on them.

#include <string>
#include <string_view>

namespace kelvra {

// Started under this file name (any letter case, the whole name), the program
// installs itself instead of running.
inline constexpr wchar_t kInstallTrigger[] = L"akelvra.exe";
// The installed copy's name; a copy by this name always runs the tray.
inline constexpr wchar_t kInstalledExeName[] = L"kelvra_run.exe";
// The per-user data folder below the local application-data folder.
inline constexpr wchar_t kDataFolderName[] = L"Kelvra\\";

// The start of both programs, the tray and kvscan: makes the folder the
// process's data folder (AppDataDir, with AppVersion set beside it), creates
// it when missing, and loads the settings from its settings.ini
// (SettingsFile). False when the folder cannot be created; the settings are
// then the defaults.
bool OpenDataFolder(const std::wstring& folder);

// The autostart entry: a string value under the current user's Run key.
inline constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kAutostartValueName[] = L"Kelvra2";

// True when the file name (FileNamePart of common/paths.h, any separator),
// with A to Z lowered, is exactly the install trigger.
bool IsInstallTrigger(std::wstring_view fileName);

// The data folder for a local application-data folder that ends in a
// backslash (as GetLocalAppDataDir gives it).
std::wstring DataFolderOf(std::wstring_view localAppDataDir);

// The data of the autostart value for the running executable: its path in
// double quotes. The shell splits an unquoted command line at the first
// blank and tries the pieces as programs, so "C:\Users\Ann Lee\...\x.exe"
// would first be tried as C:\Users\Ann.exe; quoted, only the real path runs.
std::wstring AutostartCommand(std::wstring_view executablePath);

// The name of the mutex that one running tray program holds, so that a
// second start by the same user in the same session (autostart plus a manual
// start) ends quietly. "Local\" confines it to the session; the user's name
// keeps two users of one session (run as another user) apart. Backslashes,
// which a kernel object name may not contain beyond its namespace, become "_".
std::wstring TrayMutexName(std::wstring_view userName);

// What a start of the program asks of the running tray program of the same
// user, as the wParam of the registered window message below.
enum class TrayCommand : unsigned {
    AnotherStart = 1,   // a second start has ended: tell the user where the tray is
    EndForInstall = 2,  // a new copy is being installed: end as on "Exit Kelvra"
    InstallGaveUp = 3,  // the installer stopped waiting: forget EndForInstall
};

// The name of that message. The user's name is part of it, so a tray program
// of another user on the same desktop (run as another user) has another
// message and leaves the command alone.
std::wstring TrayCommandMessageName(std::wstring_view userName);

}  // namespace kelvra
