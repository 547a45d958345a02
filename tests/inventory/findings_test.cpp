// The executable that stands for an application and the two findings about
// its entry, on records built as executable discovery would leave them and
// pruned by the real chain.

#include "inventory/findings.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/globals.h"
#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

const std::wstring kKey = std::wstring(kUninstallKey) + L"\\App";

struct Exe {
    const wchar_t* path;
    const wchar_t* fixedVersion;    // fileversion1
    const wchar_t* productVersion;  // fileversion3
    int points;                     // 2: the icon executable, listed in the folder
};

struct Case {
    const char* what;
    const wchar_t* displayName;
    const wchar_t* displayVersion;  // empty: none
    const wchar_t* majorMinor;      // VersionMajor.VersionMinor; empty: none
    const wchar_t* icon;
    std::vector<Exe> exes;
    const wchar_t* executable;         // expected; empty: none
    const wchar_t* executableVersion;  // expected
    bool disagree;
};

const std::vector<Case> kCases = {
    {"updated itself, its version chosen",
     L"Orbital Chat",
     L"2.3.0",
     L"",
     L"C:\\Orbital\\Chat.exe",
     {{L"C:\\Orbital\\Chat.exe", L"2.7.1.0", L"2.7.1", 2}},
     L"C:\\Orbital\\Chat.exe",
     L"2.7.1.0",
     true},
    {"registry version chosen, executable a major ahead",
     L"Mosaic",
     L"1.9.2",
     L"",
     L"C:\\Mosaic\\Viewer.exe",
     {{L"C:\\Mosaic\\Viewer.exe", L"2.1.0.0", L"2.1", 2}},
     L"C:\\Mosaic\\Viewer.exe",
     L"2.1.0.0",
     true},
    {"icon in another letter case",
     L"Orbital Chat",
     L"2.3.0",
     L"",
     L"c:\\orbital\\CHAT.EXE",
     {{L"C:\\Orbital\\Chat.exe", L"3.0.0.0", L"3.0", 0},
      {L"C:\\Orbital\\helper.exe", L"4.0.0.0", L"4.0", 0}},
     L"C:\\Orbital\\Chat.exe",
     L"3.0.0.0",
     true},
    {"same major and minor, another build",
     L"Fathom",
     L"1.4",
     L"",
     L"",
     {{L"C:\\Fathom\\fathom.exe", L"1.4.7.0", L"1.4.7", 0},
      {L"C:\\Fathom\\tool.exe", L"9.0.0.0", L"9.0", 0}},
     L"C:\\Fathom\\fathom.exe",
     L"1.4.7.0",
     false},
    // A lone number is cleaned to 7.0 when the record reads it.
    {"registry states the major alone",
     L"Tool",
     L"7",
     L"",
     L"",
     {{L"C:\\Tool\\only.exe", L"7.0.5.0", L"7.0", 0}},
     L"C:\\Tool\\only.exe",
     L"7.0.5.0",
     false},
    {"only the major and minor values, no DisplayVersion",
     L"Ember",
     L"",
     L"3.7",
     L"",
     {{L"C:\\Ember\\Ember.exe", L"3.9.0.0", L"3.9", 0}},
     L"C:\\Ember\\Ember.exe",
     L"3.9.0.0",
     false},
    {"a build tool's placeholder says nothing",
     L"Cobalt",
     L"2.5.0",
     L"",
     L"C:\\Cobalt\\cobalt.exe",
     {{L"C:\\Cobalt\\cobalt.exe", L"1.0.0.0", L"1.0.0.0", 2}},
     L"C:\\Cobalt\\cobalt.exe",
     L"",
     false},
    {"the only executable stands for the application",
     L"Suite",
     L"3.0",
     L"",
     L"",
     {{L"C:\\Suite\\main.exe", L"5.0.0.0", L"5.0", 0}},
     L"C:\\Suite\\main.exe",
     L"5.0.0.0",
     true},
    {"two unrelated executables: none stands for it",
     L"Suite",
     L"3.0",
     L"",
     L"",
     {{L"C:\\Suite\\helper.exe", L"5.0.0.0", L"5.0", 0},
      {L"C:\\Suite\\tool.exe", L"6.0.0.0", L"6.0", 0}},
     L"",
     L"",
     false},
    {"no executables", L"Runtime", L"6.0.14", L"", L"", {}, L"", L"", false},
};

TEST(FindingsTest, ChosenExecutableAndRegistryDisagreement) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TApp app(kKey, L"App");
        app.regDisplayName = c.displayName;
        app.iconExecutable = c.icon;
        if (app.Versions.AddVersion(c.displayVersion, TVersionType::Registry, kKey, 0))
            app.displayVersionIndex = 0;
        app.Versions.AddVersion(c.majorMinor, TVersionType::Registry, kKey + L" (MajorMinor)", 0);
        for (const Exe& exe : c.exes) {
            app.Versions.AddVersion(exe.fixedVersion, TVersionType::FileVersion1, exe.path,
                                    exe.points);
            app.Versions.AddVersion(exe.productVersion, TVersionType::FileVersion3, exe.path,
                                    exe.points);
        }
        app.Versions.RunPruningChain(c.displayName);

        const ChosenExecutable executable = ChooseExecutable(app);
        EXPECT_EQ(executable.path, c.executable);
        EXPECT_EQ(executable.version, c.executableVersion);
        const RecordFindings all = ExamineRecord(app);
        EXPECT_EQ(all.executable.path, executable.path);
        const auto& disagreement = all.disagreement;
        ASSERT_EQ(disagreement.has_value(), c.disagree);
        if (disagreement) {
            EXPECT_EQ(disagreement->registryVersion, c.displayVersion);
            EXPECT_EQ(disagreement->executable, c.executable);
            EXPECT_EQ(disagreement->executableVersion, c.executableVersion);
        }
    }
}

TEST(FindingsTest, UninstallerPathIsTheAbsoluteProgramOfTheCommand) {
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        // The record has already lost the double quotes when it was read.
        {L"C:\\Program Files\\App\\uninst.exe /S", L"C:\\Program Files\\App\\uninst.exe"},
        {L"C:\\App\\UNWISE.EXE C:\\App\\INSTALL.LOG", L"C:\\App\\UNWISE.EXE"},
        {L"d:\\App\\remove.exe", L"d:\\App\\remove.exe"},
        // Testing these would reach a host that the entry names.
        {L"\\\\server\\share\\remove.exe --all", L""},
        {L"\\\\.\\pipe\\remove.exe", L""},
        {L"\\\\?\\C:\\App\\remove.exe", L""},
        {L"\\\\?\\UNC\\server\\share\\remove.exe", L""},
        {L"MsiExec.exe /X{6F1C3A52-2B8E-4D1A-9C3B-1A2B3C4D5E01}", L""},
        {L"C:\\Windows\\System32\\msiexec.exe /x {X}", L""},
        {L"rundll32.exe shell32.dll,Control_RunDLL", L""},
        {L"%SystemRoot%\\uninstall.exe", L""},
        {L"C:\\App\\uninstall.cmd", L""},
        {L"", L""},
    };
    for (const auto& [command, program] : cases)
        EXPECT_EQ(UninstallerPath(command), program) << command;
}

// Only drive-letter paths are judged, and only the uninstaller costs a file
// test: a UNC or device path never reaches the file system.
TEST(FindingsTest, OrphanedEntryJudgesOnlyDriveLetterPaths) {
    struct Orphan {
        const wchar_t* uninstallString;
        const wchar_t* installLocation;  // discovery found none of them
        const wchar_t* tested;           // the one path tested; empty: none
        bool gone;
    };
    const Orphan cases[] = {
        {L"C:\\Zephyr\\unins000.exe /S", L"C:\\Zephyr\\", L"C:\\Zephyr\\unins000.exe", true},
        {L"\\\\fileserver\\apps\\unins000.exe", L"\\\\fileserver\\apps\\", L"", false},
        {L"\\\\.\\GLOBALROOT\\unins000.exe", L"\\\\.\\GLOBALROOT\\", L"", false},
        {L"\\\\?\\UNC\\host\\s\\unins000.exe", L"\\\\?\\C:\\App\\", L"", false},
        {L"%ProgramFiles%\\App\\unins000.exe", L"", L"", false},
    };
    const std::wstring savedWindows = std::exchange(WindowsDir, L"C:\\Windows\\");
    for (const Orphan& c : cases) {
        TApp app(kKey, L"App");
        app.regUninstallString = c.uninstallString;
        app.regInstallLocation = c.installLocation;
        std::vector<std::wstring> tested;
        const auto orphaned = FindOrphanedEntry(app, [&tested](const std::wstring& path) {
            tested.push_back(path);
            return false;
        });
        const std::vector<std::wstring> expected =
            *c.tested ? std::vector<std::wstring>{c.tested} : std::vector<std::wstring>{};
        EXPECT_EQ(tested, expected) << c.uninstallString;
        EXPECT_EQ(orphaned.has_value(), c.gone) << c.uninstallString;
    }
    WindowsDir = savedWindows;
}

}  // namespace
}  // namespace kelvra
