#pragma once
// The settings file "settings.ini" in the data folder and the eight
// process-wide values that mirror it (declared in common/globals.h).
//
//   [Proxy]   Use proxy, Server, Port, Username, Password
//   [Account] Username, Password, Profile

#include <string>

namespace kelvra {

// Fills the eight values from SettingsFile. Missing file, section or key give
// the defaults: proxy off, port 0, empty texts, and the profile
// computer name + "." + user name (a default for reading only).
void LoadSettings();

// The eight texts of the settings dialog, in the order they are saved.
struct SettingsTexts {
    std::wstring useProxy;  // "1" or "0"
    std::wstring proxyServer;
    std::wstring proxyPort;  // as typed
    std::wstring proxyUsername;
    std::wstring proxyPassword;
    std::wstring accountUsername;
    std::wstring accountPassword;
    std::wstring accountProfile;
};

// Writes the eight keys verbatim into SettingsFile, each replacing its line
// and leaving the rest of the file as it was. The new content goes to a file
// beside the old one that then takes its place in one step, so a save that
// fails leaves the old file whole. Failure raises KelvraError
// "Unable to write to <path>". Does not reload the values.
void SaveSettings(const SettingsTexts& texts);

}  // namespace kelvra
