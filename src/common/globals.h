#pragma once
// The process-wide values. Each is written at start-up by the writers named
// with it (the two entry points, the settings loader) and only read after.

#include <string>

namespace kelvra {

// Written by the entry points: the data folder (with a trailing backslash)
// and the version. The tray program sets them when its main window is
// created (local application data + "Kelvra\"); kvscan at its start (its
// --data-dir, or the same folder). Both stay empty until then.
extern std::wstring AppDataDir;
extern std::wstring AppVersion;

// The developer's trace switch, off as delivered. Its value is a build-time
// choice (CMake option KELVRA_LOG_ENABLED); no setting, argument or command of
// the program changes it. It is a variable only so that tests can exercise the
// writer.
extern bool LogEnabled;

// The settings file, written by either entry point (the data folder +
// "settings.ini") before the first load, and the eight values that mirror
// it, written by the settings loader; kvscan's --profile then replaces
// AccountProfile. Until the first load the texts are empty, the proxy is
// off and the port is -1.
extern std::wstring SettingsFile;
extern bool UseProxy;
extern std::wstring ProxyServer;
extern int ProxyPort;
extern std::wstring ProxyUsername;
extern std::wstring ProxyPassword;
extern std::wstring AccountUsername;
extern std::wstring AccountPassword;
extern std::wstring AccountProfile;

// Written by GetWindowsDir alone: the cached Windows folder, empty until
// first asked.
extern std::wstring WindowsDir;

}  // namespace kelvra
