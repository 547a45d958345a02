#pragma once
// The machine of a kvscan.exe run from the outside: a folder for its files, a
// programs folder on C:, uninstall entries in both views of the test
// prefix's real registry and in the user's own uninstall key (HKCU), all
// gone afterwards; runs of kvscan.exe as a separate process and the files
// they wrote.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "common/files.h"
#include "fixtures/fixture_files_win32.h"
#include "support/process_win32.h"
#include "support/uninstall_keys_win32.h"

namespace kelvra::testing {

inline const std::wstring kUninstallKeyPrefix =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

inline std::wstring KvscanExe() { return HostPathToWindows(KELVRA_KVSCAN_EXE); }

class KvscanMachine : public ::testing::Test {
  protected:
    // One run on the data folder with the further arguments.
    ProgramResult Kvscan(std::wstring_view arguments) const {
        return RunProgram(Quoted(KvscanExe()) + L" --data-dir " + Quoted(data_.path()) + L" " +
                          std::wstring(arguments));
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
