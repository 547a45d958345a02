#pragma once
// The machine of a kvscan run in the test prefix: a folder for its files, a
// programs folder on C:, uninstall entries in both views of the prefix's real
// registry and in the user's own uninstall key (HKCU), all gone afterwards;
// kvscan's run (RunScan) in the test's own process, and the files it wrote.
// kvscan_machine_win32.h adds runs of kvscan.exe as a program of its own.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/files.h"
#include "common/globals.h"
#include "common/textconv.h"
#include "fixtures/fixture_files_win32.h"
#include "shell/recording_console.h"
#include "support/process_win32.h"
#include "support/saved_settings.h"
#include "support/uninstall_keys_win32.h"

namespace kelvra::testing {

inline const std::wstring kUninstallKeyPrefix =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class ScanMachine : public ::testing::Test {
  protected:
    // One run of kvscan's own code in this process on the data folder, with
    // the arguments split at blanks: its exit code, its lines (CR LF, in the
    // code page, as the program writes them) and the JSON of "--json -".
    struct InProcess {
        int exitCode = 0;
        std::string output;
        std::string json;
    };
    InProcess ScanInProcess(std::wstring_view arguments) {
        std::vector<std::wstring> args{L"--data-dir", data_.path()};
        for (std::size_t at = 0; at < arguments.size();) {
            std::size_t end = arguments.find(L' ', at);
            if (end == std::wstring_view::npos) end = arguments.size();
            if (end > at) args.emplace_back(arguments.substr(at, end - at));
            at = end + 1;
        }
        const ScanOptionsResult parsed = ParseScanOptions(args);
        if (!parsed.error.empty()) return {kScanUsage, WideToAnsi(parsed.error), {}};
        RecordingConsole console;
        const SavedSettings settings;
        const std::vector<std::wstring> globals{AppDataDir, AppVersion, SettingsFile};
        InProcess result;
        result.exitCode = RunScan(parsed.options, console);
        AppDataDir = globals[0];
        AppVersion = globals[1];
        SettingsFile = globals[2];
        for (const wchar_t ch : console.said + console.errors)
            result.output += ch == L'\n' ? std::string("\r\n") : WideToAnsi(std::wstring(1, ch));
        result.json = console.json;
        return result;
    }

    // A file of the profile's set: PathOf(L"E2E", L".xml") is <data>\dump_E2E_0.xml.
    std::wstring PathOf(std::wstring_view profile, std::wstring_view extension, int set = 0) const {
        return data_ / (L"dump_" + std::wstring(profile) + L"_" + std::to_wstring(set) +
                        std::wstring(extension));
    }
    std::string FileOf(std::wstring_view profile, std::wstring_view extension, int set = 0) const {
        return ReadFileBytes(PathOf(profile, extension, set));
    }

    // The three run files of one set against those of another, byte for byte.
    void ExpectSameRunFiles(std::wstring_view profile, int set, std::wstring_view otherProfile,
                            int otherSet) const {
        for (const wchar_t* extension : {L".txt", L".xml", L".html"})
            EXPECT_EQ(FileOf(profile, extension, set), FileOf(otherProfile, extension, otherSet))
                << WideToAnsi(extension);
    }

    // A new entry with a display name in one view; returns its key name.
    static std::wstring Entry(UninstallKeys& view, std::wstring_view suffix,
                              std::wstring_view displayName) {
        const std::wstring key = UninstallKeys::UniqueName(suffix);
        view.Create(key);
        view.SetText(key, L"DisplayName", displayName);
        return key;
    }

    fixtures::ScratchFolder programs_{L"C:\\"};
    fixtures::ScratchFolder data_;
    UninstallKeys keys32_{KEY_WOW64_32KEY};
    UninstallKeys keys64_{KEY_WOW64_64KEY};
    // The user's own installs: one key, shared by both views.
    UninstallKeys keysUser_{0, HKEY_CURRENT_USER};
};

}  // namespace kelvra::testing
