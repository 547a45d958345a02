#pragma once
// The process-wide values. Each has one owner that alone writes it; everyone
// else only reads.

#include <string>

namespace kelvra {

// Owned by the main window's creation: the per-user data folder (local
// application data + "Kelvra\", with a trailing backslash) and the version.
// Both stay empty until the main window has been created.
extern std::wstring AppDataDir;
extern std::wstring AppVersion;

// The developer's trace switch, off as delivered. Its value is a build-time
// choice (CMake option KELVRA_LOG_ENABLED); no setting, argument or command of
// the program changes it. It is a variable only so that tests can exercise the
// writer.
extern bool LogEnabled;

// Owned by the settings loader: the settings file and the eight values that
// mirror it. Until the first load the texts are empty, the proxy is off and
// the port is -1.
extern std::wstring SettingsFile;
extern bool UseProxy;
extern std::wstring ProxyServer;
extern int ProxyPort;
extern std::wstring ProxyUsername;
extern std::wstring ProxyPassword;
extern std::wstring AccountUsername;
extern std::wstring AccountPassword;
extern std::wstring AccountProfile;

// Owned by GetWindowsDir: the cached Windows folder, empty until first asked.
extern std::wstring WindowsDir;

}  // namespace kelvra
