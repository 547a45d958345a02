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

    std::vector<std::wstring> ExpectedXml() const {
        const std::wstring gammaExe = gammaFolder_ + L"gamma.exe";
        std::vector<std::wstring> lines = {L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                                           L"<version>2.0</version>", L"</update>"};
        for (int i = 0; i < 2; ++i) {
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

TEST_F(KvscanRun, WritesThePayloadXmlAndHtmlOfTheMachine) {
    const auto result = Scan();
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    const std::wstring payload = data_ / L"dump_E2E_0.txt";
    EXPECT_EQ(result.output, WideToAnsi(L"Payload: " + payload) + "\r\nOK: 4\r\nERROR: 1\r\n");

    EXPECT_EQ(ReadFileBytes(payload),
              "Both App\t3.1\r\nBoth App\t3.1\r\nDelta\t2.5\r\nGamma Suite\t1.2.3.4\r\nPlain Editor\t\r\n");
    EXPECT_EQ(ReadFileBytes(data_ / L"dump_E2E_0.xml"), Joined(ExpectedXml()));

    const std::string html = ReadFileBytes(data_ / L"dump_E2E_0.html");
    EXPECT_EQ(html.rfind("<html>\r\n<head>\r\n<style>\r\n", 0), 0u);
    EXPECT_NE(html.find("ERROR: <b>1</b><br>\r\nOK: <b>4</b><br>\r\n<br><br>\r\n<table "), std::string::npos);
    EXPECT_NE(html.find("<tr style=\"background:red;\">"), std::string::npos) << "Plain Editor";
    EXPECT_EQ(html.substr(html.size() - 18), "</body>\r\n</html>\r\n");
}

TEST_F(KvscanRun, SecondRunWritesTheNextSet) {
    ASSERT_EQ(Scan().exitCode, 0u);
    const auto second = Scan();
    ASSERT_EQ(second.exitCode, 0u) << second.output;
    EXPECT_NE(second.output.find(WideToAnsi(data_ / L"dump_E2E_1.txt")), std::string::npos);
    for (const wchar_t* name : {L"dump_E2E_1.txt", L"dump_E2E_1.xml", L"dump_E2E_1.html"})
        EXPECT_TRUE(FileExists(data_ / name));
    EXPECT_EQ(ReadFileBytes(data_ / L"dump_E2E_0.txt"), ReadFileBytes(data_ / L"dump_E2E_1.txt"));
}

TEST_F(KvscanRun, TimingsAndTheSystemsVersionReadsChangeNoByteOfTheFiles) {
    ASSERT_EQ(Scan().exitCode, 0u);
    const std::wstring timings = data_ / L"timings.txt";
    const auto timed = RunProgram(Quoted(Kvscan()) + L" --data-dir " + Quoted(data_.path()) +
                                  L" --profile E2E --timings " + Quoted(timings));
    ASSERT_EQ(timed.exitCode, 0u) << timed.output;
    // The benchmark's yardstick: every version block through the system's calls.
    const auto system = RunProgram(Quoted(Kvscan()) + L" --data-dir " + Quoted(data_.path()) +
                                   L" --profile E2E --system-version-reads");
    ASSERT_EQ(system.exitCode, 0u) << system.output;
    for (const wchar_t* extension : {L".txt", L".xml", L".html"}) {
        SCOPED_TRACE(WideToAnsi(extension));
        const std::string first = ReadFileBytes(data_ / (L"dump_E2E_0" + std::wstring(extension)));
        EXPECT_EQ(ReadFileBytes(data_ / (L"dump_E2E_1" + std::wstring(extension))), first);
        EXPECT_EQ(ReadFileBytes(data_ / (L"dump_E2E_2" + std::wstring(extension))), first);
    }
    const std::string text = ReadFileBytes(timings);
    // Five records of six entries (one is an update); one executable.
    EXPECT_NE(text.find("count.entries 6\n"), std::string::npos) << text;
    EXPECT_NE(text.find("count.records 5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("count.version_reads 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("peak_working_set_bytes "), std::string::npos) << text;
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
