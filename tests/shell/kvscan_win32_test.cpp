// kvscan.exe from the outside: a small machine laid out in the test prefix's
// real registry (both views) and on its C: drive, one run as a separate
// process, and its three files checked byte for byte.

#include <gtest/gtest.h>

#include "common/files.h"
#include "fixtures/fixture_files_win32.h"
#include "support/process_win32.h"
#include "support/uninstall_keys_win32.h"

namespace kelvra {
namespace {

using fixtures::ScratchFolder;
using testing::HostPathToWindows;
using testing::Quoted;
using testing::RunProgram;
using testing::UninstallKeys;

const std::wstring kKeyPrefix = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring Kvscan() { return HostPathToWindows(KELVRA_KVSCAN_EXE); }

class KvscanRun : public ::testing::Test {
protected:
    void SetUp() override {
        gammaFolder_ = programs_ / L"Gamma\\";
        ASSERT_TRUE(ForceDirectories(gammaFolder_));
        fixtures::CopyFixture(L"fv_1234", gammaFolder_ + L"gamma.exe");

        both_ = UninstallKeys::UniqueName(L"both");
        for (UninstallKeys* view : {&keys32_, &keys64_}) {
            view->Create(both_);
            view->SetText(both_, L"DisplayName", L"Both App");
            view->SetText(both_, L"DisplayVersion", L"3.1");
        }
        delta_ = UninstallKeys::UniqueName(L"delta");
        keys32_.Create(delta_);
        keys32_.SetText(delta_, L"DisplayName", L"Delta 2.5");
        keys32_.SetDWord(delta_, L"VersionMajor", 2);
        keys32_.SetDWord(delta_, L"VersionMinor", 5);
        plain_ = UninstallKeys::UniqueName(L"plain");
        keys32_.Create(plain_);
        keys32_.SetText(plain_, L"DisplayName", L"Plain Editor");
        kb_ = L"KB123456-" + UninstallKeys::UniqueName(L"kb");
        keys32_.Create(kb_);
        keys32_.SetText(kb_, L"DisplayVersion", L"1.0");
        gamma_ = UninstallKeys::UniqueName(L"gamma");
        keys64_.Create(gamma_);
        keys64_.SetText(gamma_, L"DisplayName", L"Gamma Suite");
        keys64_.SetText(gamma_, L"DisplayVersion", L"1.2.3.4");
        keys64_.SetText(gamma_, L"InstallLocation", gammaFolder_.substr(0, gammaFolder_.size() - 1));
        keys64_.SetText(gamma_, L"DisplayIcon", L"\"" + gammaFolder_ + L"gamma.exe\",0");
    }

    testing::ProgramResult Scan() {
        return RunProgram(Quoted(Kvscan()) + L" --data-dir " + Quoted(data_.path()) +
                          L" --profile E2E");
    }

    // bothRecords: the entry written in both views gives a record per view
    // under WOW64, and one on a 32-bit Windows, where both are one.
    std::vector<std::wstring> ExpectedXml(int bothRecords) const {
        const std::wstring gammaExe = gammaFolder_ + L"gamma.exe";
        std::vector<std::wstring> lines = {L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                                           L"<version>2.0</version>", L"</update>"};
        for (int i = 0; i < bothRecords; ++i) {
            lines.insert(lines.end(), {
                L"<app>",
                L"   <RegistryPath>" + kKeyPrefix + both_ + L"</RegistryPath>",
                L"   <regDisplayName>Both App</regDisplayName>",
                L"   <niceName>Both App</niceName>",
                L"   <version type=\"registry\" fetch=\"" + kKeyPrefix + both_ + L"\">3.1</version>",
                L"</app>",
                L"",
            });
        }
        lines.insert(lines.end(), {
            L"<app>",
            L"   <RegistryPath>" + kKeyPrefix + delta_ + L"</RegistryPath>",
            L"   <regDisplayName>Delta 2.5</regDisplayName>",
            L"   <niceName>Delta</niceName>",
            L"   <version type=\"registry\" fetch=\"" + kKeyPrefix + delta_ + L" (MajorMinor)\">2.5</version>",
            L"   <version type=\"entryName\" fetch=\"Delta 2.5\">2.5</version>",
            L"</app>",
            L"",
            L"<app>",
            L"   <RegistryPath>" + kKeyPrefix + gamma_ + L"</RegistryPath>",
            L"   <regDisplayName>Gamma Suite</regDisplayName>",
            L"   <regDisplayIcon>" + gammaExe + L",0</regDisplayIcon>",
            L"   <regInstallLocation>" + gammaFolder_ + L"</regInstallLocation>",
            L"   <executablePath>" + gammaFolder_ + L"</executablePath>",
            L"   <niceName>Gamma Suite</niceName>",
            L"   <version type=\"registry\" fetch=\"" + kKeyPrefix + gamma_ + L"\">1.2.3.4</version>",
            L"   <version type=\"fileversion1\" fetch=\"" + gammaExe + L"\">1.2.3.4</version>",
            L"   <version type=\"fileversion2\" fetch=\"" + gammaExe + L"\">1.2.3.4</version>",
            L"   <version type=\"fileversion3\" fetch=\"" + gammaExe + L"\">1.2</version>",
            L"</app>",
            L"",
            L"<app>",
            L"   <RegistryPath>" + kKeyPrefix + plain_ + L"</RegistryPath>",
            L"   <regDisplayName>Plain Editor</regDisplayName>",
            L"   <niceName>Plain Editor</niceName>",
            L"</app>",
            L"",
            L"</apps>",
        });
        return lines;
    }

    std::vector<std::wstring> ExpectedHtml(int bothRecords) const {
        const std::wstring gammaExe = gammaFolder_ + L"gamma.exe";
        auto facts = [](const std::wstring& name, const std::wstring& niceName,
                        const std::wstring& folder, const std::wstring& icon) {
            return L"<td style=\"width:200px;\">" + name + L"<br>regDisplayName: <b>" + name +
                   L"</b><br>niceName: <b>" + niceName + L"</b><br>executablePath: <b>" + folder +
                   L"</b><br>regUninstallString: <b></b><br>regDisplayIcon: <b>" + icon +
                   L"</b><br>regInstallLocation: <b>" + folder + L"</b></td>";
        };
        const std::wstring active = L"<div style=\"margin : 5px; border:solid 1px red; background:";
        const std::wstring removed =
            L"<div style=\"margin : 5px; border:solid 0px red; background:gray\">";
        std::vector<std::wstring> lines = {
            L"<html>",
            L"<head>",
            L"<style>",
            L"* {",
            L"font-family:Verdana; font-size : 12px;",
            L"}",
            L"</style>",
            L"</head>",
            L"<body>",
            L"ERROR: <b>1</b><br>",
            L"OK: <b>" + std::to_wstring(2 + bothRecords) + L"</b><br>",
            L"<br><br>",
            L"<table border=1 cellspacing=0 cellpadding=5 style=\"border:solid 1px black\">",
            L"<tr style=\"background:red;\">",
            facts(L"Plain Editor", L"Plain Editor", L"", L""),
            L"<td>0 / 0</td>",
            L"<td>",
            L"</td>",
            L"</tr>",
            L"<tr><td colspan=3>.....</td>"};
        for (int i = 0; i < bothRecords; ++i) {
            lines.insert(lines.end(),
                         {L"<tr style=\"background:white;\">",
                          facts(L"Both App", L"Both App", L"", L""), L"<td>1 / 1</td>", L"<td>",
                          active + L"yellow\">3.1<br><small>registry:" + kKeyPrefix + both_ +
                              L" 0</small></div>",
                          L"</td>", L"</tr>"});
        }
        lines.insert(
            lines.end(),
            {L"<tr style=\"background:white;\">",
             facts(L"Delta 2.5", L"Delta", L"", L""),
             L"<td>1 / 2</td>",
             L"<td>",
             active + L"yellow\">2.5<br><small>registry:" + kKeyPrefix + delta_ +
                 L" (MajorMinor) 0</small></div>",
             removed +
                 L"DeleteDouble: 2.5<br><b>2.5</b><br><small>entryName:Delta 2.5 0</small></div>",
             L"</td>",
             L"</tr>",
             L"<tr style=\"background:white;\">",
             facts(L"Gamma Suite", L"Gamma Suite", gammaFolder_, gammaExe + L",0"),
             L"<td>1 / 4</td>",
             L"<td>",
             active + L"yellow\">1.2.3.4<br><small>registry:" + kKeyPrefix + gamma_ +
                 L" 2</small></div>",
             removed + L"DeleteDouble: 1.2.3.4<br><b>1.2.3.4</b><br><small>fileversion1:" +
                 gammaExe + L" 2</small></div>",
             removed + L"DeleteDouble: 1.2.3.4<br><b>1.2.3.4</b><br><small>fileversion2:" +
                 gammaExe + L" 2</small></div>",
             removed +
                 L"DeleteMajorVersions: vtTweedeIsMajorVanEerste (1.2.3.4-1.2)<br><b>1.2</b><br>"
                 L"<small>fileversion3:" +
                 gammaExe + L" 2</small></div>",
             L"</td>",
             L"</tr>",
             L"</body>",
             L"</html>"});
        return lines;
    }

    // One run, its output and its three files byte for byte.
    void ScanAndExpectTheFiles(int bothRecords) {
        const auto result = Scan();
        ASSERT_EQ(result.exitCode, 0u) << result.output;
        const std::wstring payload = data_ / L"dump_E2E_0.txt";
        EXPECT_EQ(result.output, WideToAnsi(L"Payload: " + payload) + "\r\nOK: " +
                                     std::to_string(2 + bothRecords) + "\r\nERROR: 1\r\n");
        std::string lines;
        for (int i = 0; i < bothRecords; ++i) lines += "Both App\t3.1\r\n";
        EXPECT_EQ(ReadFileBytes(payload),
                  lines + "Delta\t2.5\r\nGamma Suite\t1.2.3.4\r\nPlain Editor\t\r\n");
        EXPECT_EQ(ReadFileBytes(data_ / L"dump_E2E_0.xml"), Joined(ExpectedXml(bothRecords)));
        EXPECT_EQ(ReadFileBytes(data_ / L"dump_E2E_0.html"), Joined(ExpectedHtml(bothRecords)));
    }

    static std::string Joined(const std::vector<std::wstring>& lines) {
        std::string bytes;
        for (const auto& line : lines) bytes += WideToAnsi(line) + "\r\n";
        return bytes;
    }

    ScratchFolder programs_{L"C:\\"};
    ScratchFolder data_;
    UninstallKeys keys32_{KEY_WOW64_32KEY};
    UninstallKeys keys64_{KEY_WOW64_64KEY};
    std::wstring gammaFolder_, both_, delta_, plain_, kb_, gamma_;
};

TEST_F(KvscanRun, WritesThePayloadXmlAndHtmlOfTheMachine) { ScanAndExpectTheFiles(2); }

TEST_F(KvscanRun, SecondRunWritesTheNextSet) {
    ASSERT_EQ(Scan().exitCode, 0u);
    const auto second = Scan();
    ASSERT_EQ(second.exitCode, 0u) << second.output;
    EXPECT_NE(second.output.find(WideToAnsi(data_ / L"dump_E2E_1.txt")), std::string::npos);
    for (const wchar_t* name : {L"dump_E2E_1.txt", L"dump_E2E_1.xml", L"dump_E2E_1.html"})
        EXPECT_TRUE(FileExists(data_ / name));
    EXPECT_EQ(ReadFileBytes(data_ / L"dump_E2E_0.txt"), ReadFileBytes(data_ / L"dump_E2E_1.txt"));
}

TEST_F(KvscanRun, TimingsChangeNoByteOfTheFilesAndCountTheMachine) {
    ASSERT_EQ(Scan().exitCode, 0u);
    const std::wstring timings = data_ / L"timings.txt";
    const auto timed = RunProgram(Quoted(Kvscan()) + L" --data-dir " + Quoted(data_.path()) +
                                  L" --profile E2E --timings " + Quoted(timings));
    ASSERT_EQ(timed.exitCode, 0u) << timed.output;
    for (const wchar_t* extension : {L".txt", L".xml", L".html"}) {
        SCOPED_TRACE(WideToAnsi(extension));
        EXPECT_EQ(ReadFileBytes(data_ / (L"dump_E2E_1" + std::wstring(extension))),
                  ReadFileBytes(data_ / (L"dump_E2E_0" + std::wstring(extension))));
    }
    const std::string text = ReadFileBytes(timings);
    // Five records of six entries (one is an update); one executable.
    EXPECT_NE(text.find("count.entries 6\n"), std::string::npos) << text;
    EXPECT_NE(text.find("count.records 5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("count.version_reads 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("peak_working_set_bytes "), std::string::npos) << text;
}

// The same machine on a 32-bit Windows, where the two views written above
// are one: the test list runs the Windows32 suites in a prefix made as win32.
// Only the pass of the process's own view runs, so every entry gives one
// record.
class Windows32Kvscan : public KvscanRun {};

TEST_F(Windows32Kvscan, OnlyTheOneViewIsReadAndTheFilesAreExact) {
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    ASSERT_FALSE(wow64) << "a 64-bit Windows: run this suite in a prefix made with WINEARCH=win32";

    ScanAndExpectTheFiles(1);
}

TEST(KvscanCommandLine, UnknownArgumentsAndFailuresHaveTheirExitCodes) {
    const auto usage = RunProgram(Quoted(Kvscan()) + L" --frobnicate");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.output.find("Usage: kvscan"), std::string::npos);

    EXPECT_EQ(RunProgram(Quoted(Kvscan()) + L" --help").exitCode, 0u);

    // A data folder that cannot be created: a file stands where it should be.
    ScratchFolder scratch;
    WriteFileBytes(scratch / L"file", "x");
    const auto failed = RunProgram(Quoted(Kvscan()) + L" --data-dir " + Quoted(scratch / L"file\\sub"));
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(failed.output.find("Payload:"), std::string::npos);
}

TEST(KvscanCommandLine, ProfileWithPathCharactersStaysInTheDataFolder) {
    ScratchFolder data;
    const auto result =
        RunProgram(Quoted(Kvscan()) + L" --data-dir " + Quoted(data.path()) + L" --profile ..\\..\\x:y");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_TRUE(FileExists(data / L"dump_.._.._x_y_0.txt"));
    EXPECT_TRUE(FileExists(data / L"dump_.._.._x_y_0.html"));
}

}  // namespace
}  // namespace kelvra
