// kvscan.exe from the outside: a small machine laid out in the test prefix's
// real registry (both views) and on its C: drive, one run as a separate
// process, and its three files checked byte for byte; its JSON report
// checked against those files and the published schema.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "common/scope.h"
#include "common/utf8.h"
#include "shell/kvscan_machine_win32.h"
#include "support/allowed_skip.h"
#include "support/json_schema.h"
#include "support/slow_share_win32.h"
#include "support/sparse_file_win32.h"
#include "support/version_blocks.h"

namespace kelvra {
namespace {

using testing::Quoted;
using testing::RunProgram;
using testing::UninstallKeys;

const std::wstring& kKeyPrefix = testing::kUninstallKeyPrefix;

class KvscanRun : public testing::KvscanMachine {
  protected:
    void SetUp() override {
        gammaFolder_ = programs_ / L"Gamma\\";
        ASSERT_TRUE(ForceDirectories(gammaFolder_));
        fixtures::CopyFixture(L"fv_1234", gammaFolder_ + L"gamma.exe");

        both_ = Entry(keys32_, L"both", L"Both App");
        Entry(keys64_, L"both", L"Both App");
        keys32_.SetText(both_, L"DisplayVersion", L"3.1");
        keys64_.SetText(both_, L"DisplayVersion", L"3.1");
        delta_ = Entry(keys32_, L"delta", L"Delta 2.5");
        keys32_.SetDWord(delta_, L"VersionMajor", 2);
        keys32_.SetDWord(delta_, L"VersionMinor", 5);
        plain_ = Entry(keys32_, L"plain", L"Plain Editor");
        kb_ = L"KB123456-" + UninstallKeys::UniqueName(L"kb");
        keys32_.Create(kb_);
        keys32_.SetText(kb_, L"DisplayVersion", L"1.0");
        gamma_ = Entry(keys64_, L"gamma", L"Gamma Suite");
        keys64_.SetText(gamma_, L"DisplayVersion", L"1.2.3.4");
        keys64_.SetText(gamma_, L"InstallLocation",
                        gammaFolder_.substr(0, gammaFolder_.size() - 1));
        keys64_.SetText(gamma_, L"DisplayIcon", L"\"" + gammaFolder_ + L"gamma.exe\",0");
    }

    testing::ProgramResult Scan(std::wstring_view more = {}) {
        return Kvscan(L"--profile E2E " + std::wstring(more));
    }

    // bothRecords: the entry written in both views gives a record per view
    // under WOW64, and one on a 32-bit Windows, where both are one.
    std::vector<std::wstring> ExpectedXml(int bothRecords) const {
        const std::wstring gammaExe = gammaFolder_ + L"gamma.exe";
        std::vector<std::wstring> lines = {L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                                           L"<version>2.0</version>", L"</update>"};
        for (int i = 0; i < bothRecords; ++i) {
            lines.insert(lines.end(),
                         {
                             L"<app>",
                             L"   <RegistryPath>" + kKeyPrefix + both_ + L"</RegistryPath>",
                             L"   <regDisplayName>Both App</regDisplayName>",
                             L"   <niceName>Both App</niceName>",
                             L"   <version type=\"registry\" fetch=\"" + kKeyPrefix + both_ +
                                 L"\">3.1</version>",
                             L"</app>",
                             L"",
                         });
        }
        lines.insert(
            lines.end(),
            {
                L"<app>",
                L"   <RegistryPath>" + kKeyPrefix + delta_ + L"</RegistryPath>",
                L"   <regDisplayName>Delta 2.5</regDisplayName>",
                L"   <niceName>Delta</niceName>",
                L"   <version type=\"registry\" fetch=\"" + kKeyPrefix + delta_ +
                    L" (MajorMinor)\">2.5</version>",
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
                L"   <version type=\"registry\" fetch=\"" + kKeyPrefix + gamma_ +
                    L"\">1.2.3.4</version>",
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
        const std::wstring payload = PathOf(L"E2E", L".txt");
        EXPECT_EQ(result.output, WideToAnsi(L"Payload: " + payload) + "\r\nOK: " +
                                     std::to_string(2 + bothRecords) + "\r\nERROR: 1\r\n");
        std::string lines;
        for (int i = 0; i < bothRecords; ++i) lines += "Both App\t3.1\r\n";
        EXPECT_EQ(ReadFileBytes(payload),
                  lines + "Delta\t2.5\r\nGamma Suite\t1.2.3.4\r\nPlain Editor\t\r\n");
        EXPECT_EQ(FileOf(L"E2E", L".xml"), Joined(ExpectedXml(bothRecords)));
        EXPECT_EQ(FileOf(L"E2E", L".html"), Joined(ExpectedHtml(bothRecords)));
    }

    static std::string Joined(const std::vector<std::wstring>& lines) {
        std::string bytes;
        for (const auto& line : lines) bytes += WideToAnsi(line) + "\r\n";
        return bytes;
    }

    std::wstring gammaFolder_, both_, delta_, plain_, kb_, gamma_;
};

TEST_F(KvscanRun, WritesThePayloadXmlAndHtmlOfTheMachine) { ScanAndExpectTheFiles(2); }

TEST_F(KvscanRun, SecondRunWritesTheNextSet) {
    ASSERT_EQ(Scan().exitCode, 0u);
    const auto second = Scan();
    ASSERT_EQ(second.exitCode, 0u) << second.output;
    EXPECT_NE(second.output.find(WideToAnsi(PathOf(L"E2E", L".txt", 1))), std::string::npos);
    for (const wchar_t* extension : {L".txt", L".xml", L".html"})
        EXPECT_TRUE(FileExists(PathOf(L"E2E", extension, 1)));
    EXPECT_EQ(FileOf(L"E2E", L".txt"), FileOf(L"E2E", L".txt", 1));
}

TEST_F(KvscanRun, TimingsAndTheSystemsVersionReadsChangeNoByteOfTheFiles) {
    ASSERT_EQ(Scan().exitCode, 0u);
    const std::wstring timings = data_ / L"timings.txt";
    const auto timed = Scan(L"--timings " + Quoted(timings));
    ASSERT_EQ(timed.exitCode, 0u) << timed.output;
    // The benchmark's yardstick: every version block through the system's calls.
    const auto system = Scan(L"--system-version-reads");
    ASSERT_EQ(system.exitCode, 0u) << system.output;
    ExpectSameRunFiles(L"E2E", 1, L"E2E", 0);
    ExpectSameRunFiles(L"E2E", 2, L"E2E", 0);
    const std::string text = ReadFileBytes(timings);
    // Five records of six entries (one is an update); one executable.
    EXPECT_NE(text.find("count.entries 6\n"), std::string::npos) << text;
    EXPECT_NE(text.find("count.records 5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("count.version_reads 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("peak_working_set_bytes "), std::string::npos) << text;
}

// Version reads remembered between runs (--incremental): after each kind of
// change to a program folder, and to the file that remembers, a run that
// takes what it can from its memory writes the same bytes as one that reads
// every file, and as one that reads every file through the system's calls;
// and it opens only the files that changed.
class KvscanRememberedReads : public testing::KvscanMachine {
  protected:
    void SetUp() override {
        folder_ = programs_ / L"Remembered\\";
        const std::wstring icons = programs_ / L"Icons\\";
        ASSERT_TRUE(ForceDirectories(folder_) && ForceDirectories(icons));
        fixtures::CopyFixture(L"fv_1234", folder_ + L"a.exe");
        fixtures::CopyFixture(L"fv_1234", folder_ + L"b.exe");
        fixtures::CopyFixture(L"fv_none", folder_ + L"c.exe");
        // The entry's icon, outside its folder: known by its own facts.
        fixtures::CopyFixture(L"fv_otherlang", icons + L"icon.exe");
        const std::wstring key = Entry(keys32_, L"remembered", L"Remembered App");
        keys32_.SetText(key, L"InstallLocation", folder_);
        keys32_.SetText(key, L"DisplayIcon", icons + L"icon.exe,0");
    }

    // A new last-write time, an hour on, the bytes as they were.
    static void Touch(const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME written{};
        GetFileTime(file, nullptr, nullptr, &written);
        ULARGE_INTEGER ticks{{written.dwLowDateTime, written.dwHighDateTime}};
        ticks.QuadPart += 36000000000ULL;
        written = {ticks.LowPart, ticks.HighPart};
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
        CloseHandle(file);
    }

    std::wstring folder_;
};

TEST_F(KvscanRememberedReads, EveryChangeGivesTheFilesOfAFullReadAndOnlyChangesAreOpened) {
    const std::wstring cache = data_ / L"version-reads.cache";
    const std::wstring timings = data_ / L"timings.txt";
    HANDLE held = INVALID_HANDLE_VALUE;
    const struct {
        const char* change;
        std::function<void()> make;
        int opened;  // by the run with --incremental
    } cases[] = {
        {"first run: nothing remembered yet", [] {}, 4},
        {"nothing changed", [] {}, 0},
        {"a touched last-write time", [&] { Touch(folder_ + L"a.exe"); }, 1},
        {"a same-size replacement with a new time",
         [&] {
             // Another FileVersion text in as many bytes.
             std::string bytes = ReadFileBytes(folder_ + L"b.exe");
             const std::size_t at = fixtures::FindUtf16(bytes, L"1, 2, 3, 4");
             ASSERT_NE(at, std::string::npos);
             fixtures::PatchWord(bytes, at + 18, L'5');
             WriteFileBytes(folder_ + L"b.exe", bytes);
             Touch(folder_ + L"b.exe");
         },
         1},
        {"a removed file", [&] { ASSERT_TRUE(DeleteFileAt(folder_ + L"c.exe")); }, 0},
        {"a new file", [&] { fixtures::CopyFixture(L"fv_multi", folder_ + L"d.exe"); }, 1},
        {"a file that became unreadable: cut short",
         [&] {
             WriteFileBytes(folder_ + L"b.exe", ReadFileBytes(folder_ + L"b.exe").substr(0, 700));
         },
         1},
        // Held open by another program while it changed: every run finds no
        // version in it, and none remembers that.
        {"a changed file that cannot be opened",
         [&] {
             Touch(folder_ + L"a.exe");
             held = CreateFileW((folder_ + L"a.exe").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
             ASSERT_NE(held, INVALID_HANDLE_VALUE);
         },
         1},
        {"the same file open again",
         [&] { CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE)); }, 1},
        {"a damaged file of remembered reads",
         [&] {
             std::string bytes = ReadFileBytes(cache);
             bytes[bytes.size() / 2] ^= 0x10;
             WriteFileBytes(cache, bytes);
         },
         4},
    };
    int set = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        c.make();
        const auto incremental =
            Kvscan(L"--profile R --quiet --incremental --timings " + Quoted(timings));
        ASSERT_EQ(incremental.exitCode, 0u) << incremental.output;
        EXPECT_NE(
            ReadFileBytes(timings).find("count.version_reads " + std::to_string(c.opened) + "\n"),
            std::string::npos)
            << ReadFileBytes(timings);
        const std::string remembered = ReadFileBytes(cache);
        for (const wchar_t* full :
             {L"--profile R --quiet", L"--profile R --quiet --system-version-reads"}) {
            const auto run = Kvscan(full);
            ASSERT_EQ(run.exitCode, 0u) << run.output;
        }
        ExpectSameRunFiles(L"R", set, L"R", set + 1);
        ExpectSameRunFiles(L"R", set, L"R", set + 2);
        EXPECT_EQ(ReadFileBytes(cache), remembered) << "a full read leaves the memory alone";
        set += 3;
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    // What the runs saw: the replacement's text, the damaged file without it.
    EXPECT_NE(FileOf(L"R", L".xml", 9).find("1.2.3.5"), std::string::npos);
    EXPECT_EQ(FileOf(L"R", L".xml", 18).find(WideToAnsi(folder_ + L"b.exe")), std::string::npos);
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

// Executables laid out in the ways the system and a plain reading of the
// file have been seen to part, each the only one of its program's folder:
// kvscan ends normally, the direct reads change no byte of the files, and
// the files on which the system's reader crashes in the helper are named.
// The helper's test hook then crashes or hangs it on an honest file: the run
// still ends normally, with only that file's versions missing.
class KvscanMisleadingExecutables : public testing::KvscanMachine {
  protected:
    // Words that are no version words, one per layout.
    static std::wstring NameOf(std::size_t i) {
        static const wchar_t* const words[] = {
            L"Alfa",   L"Bravo",   L"Charlie", L"Delta",  L"Echo",   L"Foxtrot", L"Golf",
            L"Hotel",  L"India",   L"Juliett", L"Kilo",   L"Lima",   L"Mike",    L"Nectar",
            L"Oscar",  L"Papa",    L"Quebec",  L"Romeo",  L"Sierra", L"Tango",   L"Uniform",
            L"Victor", L"Whiskey", L"Xray",    L"Yankee", L"Zulu"};
        return L"Layout " + std::wstring(words[i % std::size(words)]) +
               std::wstring(i / std::size(words), L'e');
    }
    static std::string PayloadLine(std::size_t i, const char* version) {
        return WideToAnsi(NameOf(i)) + "\t" + version;
    }
    // A run with the helper's trouble hook set for its length.
    testing::ProgramResult KvscanWithTrouble(const wchar_t* trouble,
                                             std::wstring_view arguments) const {
        SetEnvironmentVariableW(L"KELVRA_TEST_HELPER_TROUBLE", trouble);
        const ScopeExit unset(
            [] { SetEnvironmentVariableW(L"KELVRA_TEST_HELPER_TROUBLE", nullptr); });
        return Kvscan(arguments);
    }
};

TEST_F(KvscanMisleadingExecutables, EndNormallyAndNameWhatCrashesTheSystemsReader) {
    const std::vector<version_blocks::PeLayout> layouts = version_blocks::MisleadingPeLayouts();
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        const std::wstring folder = programs_ / (L"layout" + std::to_wstring(i) + L"\\");
        ASSERT_TRUE(ForceDirectories(folder));
        testing::WriteSparseFile(folder + L"App.exe", layouts[i].bytes, layouts[i].tailAt,
                                 layouts[i].tail);
        const std::wstring key = Entry(keys32_, L"layout" + std::to_wstring(i), NameOf(i));
        keys32_.SetText(key, L"InstallLocation", folder);
    }
    const std::wstring json = data_ / L"misleading.json";
    const auto direct = Kvscan(L"--profile L --json " + Quoted(json));
    ASSERT_EQ(direct.exitCode, 0u) << direct.output;
    const auto system = Kvscan(L"--profile L --system-version-reads");
    ASSERT_EQ(system.exitCode, 0u) << system.output;
    ExpectSameRunFiles(L"L", 1, L"L", 0);
    // The honest images' version reaches the payload, and so does the
    // fixed version of a block that runs into the zeros past its file data.
    const std::string payload = FileOf(L"L", L".txt");
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        if (layouts[i].expect == version_blocks::PeLayout::Direct ||
            layouts[i].what == "version data running past the section's file data") {
            EXPECT_NE(payload.find(PayloadLine(i, "1.2.3.4")), std::string::npos) << payload;
        }
    }

    // Each layout the system's reader crashes on is named, and only those.
    std::set<std::string> named;
    const nlohmann::json document = nlohmann::json::parse(ReadFileBytes(json));
    for (const auto& record : document["records"])
        for (const auto& finding : record["findings"])
            if (finding["kind"] == "versionReaderFailed") {
                EXPECT_EQ(finding["reason"], "crashed");
                named.insert(record["displayName"].get<std::string>());
            }
    std::set<std::string> crashing;
    for (std::size_t i = 0; i < layouts.size(); ++i)
        if (layouts[i].expect == version_blocks::PeLayout::Crashes)
            crashing.insert(WideToAnsi(NameOf(i)));
    EXPECT_EQ(named, crashing);
    EXPECT_NE(direct.output.find("Executables the system's version reader failed on: " +
                                 std::to_string(crashing.size())),
              std::string::npos)
        << direct.output;

    // The hook on the first honest image, which only the system's reads send
    // to the helper: crashed, then hung (the run waits out the bound).
    for (const wchar_t* trouble : {L"exit:layout0\\", L"hang:layout0\\"}) {
        const auto run = KvscanWithTrouble(trouble, L"--profile T --system-version-reads");
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const std::string troubled = FileOf(L"T", L".txt", trouble[0] == L'e' ? 0 : 1);
        EXPECT_EQ(troubled.find(PayloadLine(0, "1.2.3.4")), std::string::npos) << troubled;
        EXPECT_NE(troubled.find(PayloadLine(1, "1.2.3.4")), std::string::npos) << troubled;
        EXPECT_NE(run.output.find("layout0\\App.exe " +
                                  std::string(trouble[0] == L'e' ? "crashed" : "hung")),
                  std::string::npos)
            << run.output;
    }
}

// Install folders on a network drive that answers every call of one folder
// in 2 s (a FUSE share under Wine), beside one on the same drive that
// answers at once: the run waits out one bound for the silent drive, asks it
// nothing more, names both entries on it, and the fast entry's record is the
// one of a run without them.
class KvscanSlowShare : public testing::KvscanMachine {};

TEST_F(KvscanSlowShare, AFolderThatDoesNotAnswerCostsOneBoundAndIsNamed) {
    const std::wstring backing = programs_ / L"share";
    for (const wchar_t* folder : {L"\\Fast\\", L"\\Slow\\"}) {
        ASSERT_TRUE(ForceDirectories(backing + folder));
        fixtures::CopyFixture(L"fv_1234", backing + folder + L"tool.exe");
    }
    testing::SlowShare share(testing::kSlowShareScript, L'S', backing, 2.0, L"Slow");
    if (!share.available()) {
        if (share.needsRoot()) KELVRA_ALLOWED_SKIP() << "mounting a file system needs root";
        FAIL() << "no slow share: " << share.whyNot();
    }
    ASSERT_TRUE(share.remote()) << share.whyNotRemote();
    const std::wstring fast = Entry(keys32_, L"a", L"Alder Tool");
    keys32_.SetText(fast, L"InstallLocation", share.root() + L"Fast\\");
    const auto records = [](const std::wstring& path) {
        std::map<std::string, nlohmann::json> byName;
        const nlohmann::json document = nlohmann::json::parse(ReadFileBytes(path));
        for (const auto& record : document["records"])
            byName[record["displayName"].get<std::string>()] = record;
        return byName;
    };
    ASSERT_EQ(Kvscan(L"--quiet --json " + Quoted(data_ / L"fast.json")).exitCode, 0u);

    for (const wchar_t* name : {L"Birch Tool", L"Cedar Tool"})
        keys32_.SetText(Entry(keys32_, name, name), L"InstallLocation", share.root() + L"Slow\\");
    const auto started = std::chrono::steady_clock::now();
    const auto run = Kvscan(L"--json " + Quoted(data_ / L"all.json") + L" --timings " +
                            Quoted(data_ / L"timings.txt"));
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    // One bound of 5 s for the drive; without it the slow folder alone would
    // take minutes (14 s for its first look-up under Wine).
    EXPECT_LT(took, std::chrono::seconds(40));
    auto all = records(data_ / L"all.json");
    EXPECT_EQ(all["Alder Tool"], records(data_ / L"fast.json")["Alder Tool"]);
    EXPECT_EQ(all["Alder Tool"]["chosenVersion"], "1.2.3.4");
    std::vector<long long> waited;
    for (const char* name : {"Birch Tool", "Cedar Tool"}) {
        const nlohmann::json& findings = all[name]["findings"];
        ASSERT_EQ(findings.size(), 1u) << findings.dump();
        EXPECT_EQ(findings[0]["kind"], "folderUnreachable");
        EXPECT_EQ(findings[0]["path"], WideToAnsi(share.root()) + "Slow\\");
        waited.push_back(findings[0]["waitedMs"].get<long long>());
    }
    EXPECT_GE(waited[0], 4000);  // the one bound...
    EXPECT_LT(waited[1], 1000);  // ...and nothing after it
    EXPECT_NE(run.output.find("Folders that did not answer in time: 2"), std::string::npos)
        << run.output;
    // The run served its messages all the while: no stretch of seconds.
    std::istringstream timings(ReadFileBytes(data_ / L"timings.txt"));
    double longestGap = -1;
    for (std::string name, value; timings >> name >> value;)
        if (name == "longest_gap_seconds") longestGap = std::stod(value);
    EXPECT_GE(longestGap, 0.0);
    EXPECT_LT(longestGap, 1.0);
}

// The user's own installs beside the machine's: the same product installed
// both ways, a program under the user's own programs folder, an update.
class KvscanScope : public testing::KvscanMachine {
  protected:
    void SetUp() override {
        const std::wstring folder = programs_ / L"UserEditor\\";
        ASSERT_TRUE(ForceDirectories(folder));
        fixtures::CopyFixture(L"fv_1234", folder + L"editor.exe");
        shared_ = Entry(keys32_, L"shared", L"Shared App");
        keys32_.SetText(shared_, L"DisplayVersion", L"2.0");
        keysUser_.SetText(shared_, L"DisplayName", L"Shared App");
        keysUser_.SetText(shared_, L"DisplayVersion", L"2.1");
        const std::wstring editor = Entry(keysUser_, L"editor", L"User Editor");
        keysUser_.SetText(editor, L"InstallLocation", folder);
        keysUser_.Create(L"KB777-" + UninstallKeys::UniqueName(L"kb"));
    }

    // "scope hive view name version" of each record, in the document's order.
    static std::vector<std::string> Records(const nlohmann::json& document) {
        std::vector<std::string> records;
        for (const auto& record : document["records"])
            records.push_back(record["scope"].get<std::string>() + " " +
                              record["hive"].get<std::string>() + " " +
                              std::to_string(record["registryView"].get<int>()) + " " +
                              record["displayName"].get<std::string>() + " " +
                              testing::TextOrEmpty(record["chosenVersion"]));
        return records;
    }

    std::wstring shared_;
};

TEST_F(KvscanScope, EachScopeReportsItsEntriesAndTheRunFilesStayTheMachines) {
    // The tray's run, for the files every other run must match.
    ASSERT_EQ(Kvscan(L"--profile M --quiet").exitCode, 0u);
    const std::string machine = "machine HKEY_LOCAL_MACHINE 32 Shared App 2.0";
    const std::string user = "user HKEY_CURRENT_USER 32 Shared App 2.1";
    const std::string editor = "user HKEY_CURRENT_USER 32 User Editor 1.2.3.4";
    const struct {
        const wchar_t* arguments;
        std::vector<std::string> records;
        std::size_t userExcluded;  // the update in the user's key
        bool runFiles;
    } cases[] = {
        {L"", {machine}, 0, true},
        {L"--scope machine", {machine}, 0, true},
        {L"--scope user", {user, editor}, 1, false},
        {L"--scope all", {machine, user, editor}, 1, false},
        {L"--scope all --run-files", {machine, user, editor}, 1, true},
        {L"--scope user --run-files", {user, editor}, 1, true},
    };
    int set = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToAnsi(c.arguments));
        const auto run = Kvscan(L"--profile S --json - --quiet " + std::wstring(c.arguments));
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const auto document = nlohmann::json::parse(run.output);
        EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), document),
                  std::vector<std::string>{});
        // Other entries of the prefix may be there too: only this test's count.
        std::vector<std::string> records;
        for (const std::string& record : Records(document))
            if (record.find("Shared App") != std::string::npos ||
                record.find("User Editor") != std::string::npos)
                records.push_back(record);
        EXPECT_EQ(records, c.records);
        std::size_t userExcluded = 0;
        for (const auto& entry : document["excluded"])
            if (entry["hive"] == "HKEY_CURRENT_USER" && entry["scope"] == "user" &&
                entry["reason"] == "update")
                ++userExcluded;
        EXPECT_EQ(userExcluded, c.userExcluded);
        EXPECT_EQ(document["summary"]["payloadFile"].is_null(), !c.runFiles);
        EXPECT_EQ(FileExists(PathOf(L"S", L".txt", set)), c.runFiles);
        if (!c.runFiles) continue;
        ExpectSameRunFiles(L"S", set++, L"M", 0);
    }
    const auto usage = Kvscan(L"--scope everything");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.output.find("--scope needs machine, user or all"), std::string::npos);
}

// The values "Apps & features" hides and groups entries by, read from real
// keys of every type a writer may have used, and the records that list
// would show.
class KvscanEntryFacts : public testing::KvscanMachine {};

TEST_F(KvscanEntryFacts, FactsOfEveryTypeAndTheRecordsAppsAndFeaturesShows) {
    const std::wstring msi = L"MsiExec.exe /X{00000000-0000-0000-0000-000000000002}";
    struct Value {
        const wchar_t* name;
        DWORD type;
        std::string bytes;
    };
    auto text = [](std::wstring_view value) {
        return testing::Utf16Bytes(value) + std::string(2, '\0');
    };
    auto dword = [](DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); };
    const struct {
        const wchar_t* suffix;
        const wchar_t* displayName;  // none: the entry has no name
        std::vector<Value> values;
        const char* facts;  // the record's entryFacts
    } cases[] = {
        {L"visible",
         L"Visible App",
         {{L"UninstallString", REG_SZ, text(msi)},
          {L"Publisher", REG_SZ, text(L"P\u00fcblisher \u7f16")},
          {L"EstimatedSize", REG_DWORD, dword(2048)},
          {L"InstallDate", REG_SZ, text(L"20260105")},
          {L"WindowsInstaller", REG_DWORD, dword(1)}},
         R"({"systemComponent": null, "parentKeyName": null, "releaseType": null,
             "windowsInstaller": 1, "estimatedSizeKiB": 2048, "installDate": "20260105",
             "publisher": "P\u00fcblisher ?", "unreadable": [], "shownInAppsAndFeatures": true})"},
        {L"system",
         L"System Part",
         {{L"UninstallString", REG_SZ, text(msi)}, {L"SystemComponent", REG_DWORD, dword(1)}},
         R"({"systemComponent": 1, "parentKeyName": null, "releaseType": null,
             "windowsInstaller": null, "estimatedSizeKiB": null, "installDate": null,
             "publisher": null, "unreadable": [], "shownInAppsAndFeatures": false})"},
        {L"child",
         L"Child Part",
         {{L"UninstallString", REG_SZ, text(msi)}, {L"ParentKeyName", REG_SZ, text(L"Suite")}},
         R"({"systemComponent": null, "parentKeyName": "Suite", "releaseType": null,
             "windowsInstaller": null, "estimatedSizeKiB": null, "installDate": null,
             "publisher": null, "unreadable": [], "shownInAppsAndFeatures": false})"},
        {L"fix",
         L"Security Fix",
         {{L"UninstallString", REG_SZ, text(msi)},
          {L"ReleaseType", REG_SZ, text(L"security update")}},
         R"({"systemComponent": null, "parentKeyName": null, "releaseType": "security update",
             "windowsInstaller": null, "estimatedSizeKiB": null, "installDate": null,
             "publisher": null, "unreadable": [], "shownInAppsAndFeatures": false})"},
        {L"noremove",
         L"No Uninstaller",
         {{L"SystemComponent", REG_DWORD, dword(0)}},
         R"({"systemComponent": 0, "parentKeyName": null, "releaseType": null,
             "windowsInstaller": null, "estimatedSizeKiB": null, "installDate": null,
             "publisher": null, "unreadable": [], "shownInAppsAndFeatures": false})"},
        // Wrong types read as absent and are named; a size as text counts.
        {L"odd",
         L"Odd Types",
         {{L"UninstallString", REG_SZ, text(msi)},
          {L"SystemComponent", REG_BINARY, std::string("\x01", 1)},
          {L"EstimatedSize", REG_SZ, text(L"1234")},
          {L"InstallDate", REG_DWORD, dword(20260105)},
          {L"WindowsInstaller", REG_DWORD, std::string("\x01\x00", 2)},
          {L"ReleaseType", REG_QWORD, std::string(8, '\0')}},
         R"({"systemComponent": null, "parentKeyName": null, "releaseType": null,
             "windowsInstaller": null, "estimatedSizeKiB": 1234, "installDate": null,
             "publisher": null, "shownInAppsAndFeatures": true,
             "unreadable": ["SystemComponent", "ReleaseType", "WindowsInstaller", "InstallDate"]})"},
        {L"nameless",
         nullptr,
         {{L"UninstallString", REG_SZ, text(msi)}},
         R"({"systemComponent": null, "parentKeyName": null, "releaseType": null,
             "windowsInstaller": null, "estimatedSizeKiB": null, "installDate": null,
             "publisher": null, "unreadable": [], "shownInAppsAndFeatures": false})"},
    };
    std::map<std::string, std::size_t> caseOfKey;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::wstring key = UninstallKeys::UniqueName(cases[i].suffix);
        keys32_.Create(key);
        if (cases[i].displayName) keys32_.SetText(key, L"DisplayName", cases[i].displayName);
        for (const Value& value : cases[i].values)
            keys32_.SetRaw(key, value.name, value.type, value.bytes);
        caseOfKey[WideToAnsi(kKeyPrefix + key)] = i;
    }

    for (const bool like : {false, true}) {
        SCOPED_TRACE(like ? "like Apps & features" : "every record");
        const auto run = Kvscan(std::wstring(L"--profile F --json - --quiet") +
                                (like ? L" --like-apps-and-features" : L""));
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const auto document = nlohmann::json::parse(run.output);
        EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), document),
                  std::vector<std::string>{});
        EXPECT_EQ(document["header"]["likeAppsAndFeatures"], like);
        std::set<std::size_t> listed;
        for (const auto& record : document["records"]) {
            const auto found = caseOfKey.find(record["registryKey"].get<std::string>());
            if (found == caseOfKey.end()) continue;
            listed.insert(found->second);
            EXPECT_EQ(record["entryFacts"], nlohmann::json::parse(cases[found->second].facts))
                << record["registryKey"];
        }
        std::set<std::size_t> expected;
        for (std::size_t i = 0; i < std::size(cases); ++i)
            if (!like || nlohmann::json::parse(cases[i].facts)["shownInAppsAndFeatures"])
                expected.insert(i);
        EXPECT_EQ(listed, expected);
        EXPECT_GE(document["summary"]["hiddenByAppsAndFeatures"], 5);
    }
    // The run files hold every record either way.
    ExpectSameRunFiles(L"F", 1, L"F", 0);
}

// Two runs, and what changed between them, by registry key.
class KvscanDiff : public testing::KvscanMachine {
  protected:
    void SetUp() override {
        up_ = Entry(keys32_, L"up", L"Rising 1.0");
        keys32_.SetText(up_, L"DisplayVersion", L"1.0");
        down_ = Entry(keys64_, L"down", L"Falling");
        keys64_.SetText(down_, L"DisplayVersion", L"2.0");
        going_ = Entry(keysUser_, L"going", L"Going Away");
        keysUser_.SetText(going_, L"DisplayVersion", L"3.0");
    }

    // One run into FILE with --diff BEFORE (none: a plain run).
    testing::ProgramResult Scan(const std::wstring& file, const std::wstring& before = {}) {
        return Kvscan(L"--profile D --scope all --json " + Quoted(data_ / file) +
                      (before.empty() ? L"" : L" --diff " + Quoted(data_ / before)));
    }
    nlohmann::json Changes(const std::wstring& file) const {
        return nlohmann::json::parse(ReadFileBytes(data_ / file))["changes"];
    }

    std::wstring up_, down_, going_;
};

TEST_F(KvscanDiff, AnUnchangedMachineGivesAnEmptyDiffAndChangesAreNamedByKey) {
    ASSERT_EQ(Scan(L"1.json").exitCode, 0u);
    // Nothing changed: nothing to report, twice over.
    for (const wchar_t* file : {L"2.json", L"3.json"}) {
        const auto same = Scan(file, L"1.json");
        ASSERT_EQ(same.exitCode, 0u) << same.output;
        EXPECT_NE(
            same.output.find(WideToAnsi(L"Changes since " + (data_ / L"1.json") + L": none\r\n")),
            std::string::npos)
            << same.output;
        const auto changes = Changes(file);
        for (const char* list :
             {"added", "removed", "versionsChanged", "findingsAppeared", "findingsGone"})
            EXPECT_EQ(changes[list].size(), 0u) << list;
    }

    // A name that carries its version changes with it; the key stays.
    keys32_.SetText(up_, L"DisplayName", L"Rising 1.2");
    keys32_.SetText(up_, L"DisplayVersion", L"1.2");
    keys64_.SetText(down_, L"DisplayVersion", L"1.5");
    keys64_.SetText(down_, L"InstallLocation", programs_ / L"NotThere\\");
    keysUser_.SetText(going_, L"DisplayName", L"Going Away (KB1)");  // turned away now
    const std::wstring fresh = Entry(keysUser_, L"fresh", L"Fresh");
    const auto changed = Scan(L"4.json", L"1.json");
    ASSERT_EQ(changed.exitCode, 0u) << changed.output;
    const auto changes = Changes(L"4.json");
    EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(),
                                        nlohmann::json::parse(ReadFileBytes(data_ / L"4.json"))),
              std::vector<std::string>{});
    auto keys = [&](const char* list) {
        std::vector<std::string> found;
        for (const auto& item : changes[list])
            if (item["registryKey"].get<std::string>().find(
                    WideToAnsi(UninstallKeys::UniqueName(L""))) != std::string::npos)
                found.push_back(item["scope"].get<std::string>() + " " +
                                item["registryKey"].get<std::string>() + " " +
                                (item.contains("kind") ? item["kind"].get<std::string>()
                                 : item.contains("direction")
                                     ? item["previousVersion"].get<std::string>() + ">" +
                                           item["chosenVersion"].get<std::string>() + " " +
                                           item["direction"].get<std::string>()
                                     : std::string()));
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::string up = WideToAnsi(kKeyPrefix + up_), down = WideToAnsi(kKeyPrefix + down_);
    EXPECT_EQ(keys("added"),
              std::vector<std::string>{"user " + WideToAnsi(kKeyPrefix + fresh) + " "});
    EXPECT_EQ(keys("removed"),
              std::vector<std::string>{"user " + WideToAnsi(kKeyPrefix + going_) + " "});
    EXPECT_EQ(keys("versionsChanged"),
              (std::vector<std::string>{"machine " + down + " 2.0>1.5 down",
                                        "machine " + up + " 1.0>1.2 up"}));
    EXPECT_EQ(keys("findingsAppeared"),
              std::vector<std::string>{"machine " + down + " orphanedEntry"});
    EXPECT_EQ(keys("findingsGone"), std::vector<std::string>{});
    EXPECT_NE(changed.output.find("  up: Rising 1.2 1.0 -> 1.2\r\n"), std::string::npos)
        << changed.output;
    EXPECT_NE(changed.output.find("  + Fresh (user) \r\n"), std::string::npos) << changed.output;
}

TEST_F(KvscanDiff, ADocumentThatIsNotKvscansOfThisSchemaIsRefused) {
    const struct {
        const char* content;  // none: no such file
        const char* message;
        std::size_t size = 0;  // the content padded with spaces to this size
    } cases[] = {
        {nullptr, "cannot be read"},
        {"not json", "not a JSON document of kvscan's"},
        {R"({"schemaVersion": 1, "records": []})", "not a JSON document of kvscan's"},
        {R"({"schemaVersion": 1, "header": {"kelvraVersion": "2.0"}, "records": [{}]})",
         "a record without its registry key"},
        {R"({"schemaVersion": 2, "header": {"kelvraVersion": "3.0"}, "records": []})",
         "a document of schema version 2; this kvscan compares only with version 1"},
        // Numbers are exact: none is cut to the width of its field.
        {R"({"schemaVersion": 4294967297, "header": {"kelvraVersion": "2.0"}, "records": []})",
         "a document of schema version 4294967297; this kvscan compares only with version 1"},
        {R"({"schemaVersion": 1, "header": {"kelvraVersion": "2.0"}, "records": [)"
         R"({"registryKey": "k", "registryView": 4294967328}]})",
         "a record without its registry key"},
        {R"({"schemaVersion": 1.0, "header": {"kelvraVersion": "2.0"}, "records": []})",
         "not a JSON document of kvscan's"},
        // Refused before it is read, not left to run out of memory.
        {R"({"schemaVersion": 1, "header": {"kelvraVersion": "2.0"}, "records": []})",
         "larger than 64 MiB", (64u << 20) + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::wstring file = data_ / L"before.json";
        DeleteFileW(file.c_str());
        if (c.content) {
            std::string content = c.content;
            if (c.size > content.size()) content.resize(c.size, ' ');
            WriteFileBytes(file, content);
        }
        const auto run = Kvscan(L"--profile R --diff " + Quoted(file));
        EXPECT_EQ(run.exitCode, 2u) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_FALSE(FileExists(PathOf(L"R", L".txt"))) << "no run";
    }
}

class KvscanCommandLine : public testing::KvscanMachine {};

TEST_F(KvscanCommandLine, UnknownArgumentsAndFailuresHaveTheirExitCodes) {
    const auto usage = Kvscan(L"--frobnicate");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.output.find("Usage: kvscan"), std::string::npos);

    EXPECT_EQ(Kvscan(L"--help").exitCode, 0u);

    // A data folder that cannot be created: a file stands where it should be.
    WriteFileBytes(programs_ / L"file", "x");
    const auto failed = RunProgram(Quoted(testing::KvscanExe()) + L" --data-dir " +
                                   Quoted(programs_ / L"file\\sub"));
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(failed.output.find("Payload:"), std::string::npos);
}

TEST_F(KvscanCommandLine, ProfileWithPathCharactersStaysInTheDataFolder) {
    const auto result = Kvscan(L"--profile ..\\..\\x:y");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_TRUE(FileExists(PathOf(L".._.._x_y", L".txt")));
    EXPECT_TRUE(FileExists(PathOf(L".._.._x_y", L".html")));
}

// A machine with something to find: a program that updated itself without
// telling its entry, an entry whose program is gone, and entries about which
// nothing may be said.
class KvscanReport : public testing::KvscanMachine {
  protected:
    void SetUp() override {
        chat_ = programs_ / L"Chat\\";
        agree_ = programs_ / L"Agree\\";
        gone_ = programs_ / L"Gone\\";
        ASSERT_TRUE(ForceDirectories(chat_) && ForceDirectories(agree_));
        fixtures::CopyFixture(L"fv_1234", chat_ + L"chat.exe");  // 1.2.3.4
        fixtures::CopyFixture(L"fv_none", chat_ + L"uninst.exe");
        fixtures::CopyFixture(L"fv_1234", agree_ + L"agree.exe");

        const std::wstring chat = Entry(keys32_, L"chat", L"Chat");
        keys32_.SetText(chat, L"DisplayVersion", L"1.1");
        keys32_.SetText(chat, L"InstallLocation", chat_);
        keys32_.SetText(chat, L"DisplayIcon", chat_ + L"chat.exe,0");
        keys32_.SetText(chat, L"UninstallString", L"\"" + chat_ + L"uninst.exe\" /S");
        const std::wstring agree = Entry(keys64_, L"agree", L"Agree");
        keys64_.SetText(agree, L"DisplayVersion", L"1.2");
        keys64_.SetText(agree, L"InstallLocation", agree_);
        keys64_.SetText(agree, L"UninstallString",
                        L"MsiExec.exe /X{00000000-0000-0000-0000-000000000001}");
        gone_key_ = Entry(keys32_, L"gone", L"Gone Tool");
        keys32_.SetText(gone_key_, L"DisplayVersion", L"2.0");
        keys32_.SetText(gone_key_, L"InstallLocation", gone_);
        keys32_.SetText(gone_key_, L"UninstallString", L"\"" + gone_ + L"unins000.exe\"");
        const std::wstring system = Entry(keys32_, L"system", L"System Part");
        keys32_.SetText(system, L"UninstallString", L"rundll32.exe shell32.dll,Control_RunDLL");
        kb_ = L"KB999-" + UninstallKeys::UniqueName(L"kb");
        keys64_.Create(kb_);
        office_ = Entry(keys32_, L"office", L"Microsoft Office Test Part");
    }

    testing::ProgramResult Scan(const std::wstring& more) { return Kvscan(L"--profile J " + more); }

    // Each <app> element's registry path and number of candidates, in order.
    std::vector<std::pair<std::string, int>> XmlApps() const {
        std::vector<std::pair<std::string, int>> apps;
        std::istringstream xml(FileOf(L"J", L".xml"));
        for (std::string line; std::getline(xml, line);) {
            const std::string open = "   <RegistryPath>";
            if (line.rfind(open, 0) == 0)
                apps.emplace_back(line.substr(open.size(), line.find("</") - open.size()), 0);
            else if (line.rfind("   <version ", 0) == 0)
                ++apps.back().second;
        }
        return apps;
    }

    static const nlohmann::ordered_json& Record(const nlohmann::ordered_json& document,
                                                const std::string& name) {
        for (const auto& record : document["records"])
            if (record["displayName"] == name) return record;
        throw std::runtime_error("no record " + name);
    }

    std::wstring chat_, agree_, gone_, kb_, office_, gone_key_;
};

TEST_F(KvscanReport, JsonOnStandardOutputDescribesTheRunOfTheSameFiles) {
    const auto result = Scan(L"--json - --quiet");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    const auto document = nlohmann::ordered_json::parse(result.output);
    EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), document),
              std::vector<std::string>{});
    EXPECT_EQ(document.begin().key(), "schemaVersion");
    EXPECT_EQ(document["header"]["profile"], "J");
    EXPECT_EQ(document["header"]["is64BitWindows"], true);

    // The same records, in the same order, with the same chosen versions and
    // every candidate of the XML document.
    std::string payload;
    for (const auto& record : document["records"])
        payload += record["niceName"].get<std::string>() + "\t" +
                   testing::TextOrEmpty(record["chosenVersion"]) + "\r\n";
    EXPECT_EQ(payload, FileOf(L"J", L".txt"));
    const auto xmlApps = XmlApps();
    ASSERT_EQ(xmlApps.size(), document["records"].size());
    for (std::size_t i = 0; i < xmlApps.size(); ++i) {
        EXPECT_EQ(document["records"][i]["registryKey"], xmlApps[i].first);
        EXPECT_EQ(document["records"][i]["candidates"].size(),
                  static_cast<std::size_t>(xmlApps[i].second));
    }
    EXPECT_EQ(document["summary"]["payloadFile"], WideToAnsi(PathOf(L"J", L".txt")));
    EXPECT_EQ(document["summary"]["records"], 4);
    EXPECT_EQ(document["summary"]["excluded"], 2);

    std::vector<std::pair<std::string, std::string>> excluded;
    for (const auto& entry : document["excluded"])
        excluded.emplace_back(entry["registryKey"], entry["reason"]);
    EXPECT_EQ(excluded, (std::vector<std::pair<std::string, std::string>>{
                            {WideToAnsi(kKeyPrefix + office_), "officePart"},
                            {WideToAnsi(kKeyPrefix + kb_), "update"}}));

    const auto& chat = Record(document, "Chat");
    EXPECT_EQ(chat["registryView"], 32);
    EXPECT_EQ(chat["chosenExecutable"], WideToAnsi(chat_ + L"chat.exe"));
    EXPECT_EQ(chat["findings"],
              nlohmann::ordered_json::parse(
                  R"([{"kind": "registryExecutableDisagreement", "registryVersion": "1.1",
                                         "executable": )" +
                  nlohmann::json(WideToAnsi(chat_ + L"chat.exe")).dump() +
                  R"(, "executableVersion": "1.2.3.4"}])"));
    const auto& gone = Record(document, "Gone Tool");
    EXPECT_EQ(gone["findings"][0]["kind"], "orphanedEntry");
    EXPECT_EQ(gone["findings"][0]["missingUninstaller"], WideToAnsi(gone_ + L"unins000.exe"));
    EXPECT_EQ(gone["findings"][0]["missingInstallFolder"], WideToAnsi(gone_));
    // Silent: the same major and minor, a Windows Installer entry, and a
    // command without a program path of its own.
    EXPECT_EQ(Record(document, "Agree")["registryView"], 64);
    EXPECT_EQ(Record(document, "Agree")["findings"].size(), 0u);
    EXPECT_EQ(Record(document, "System Part")["findings"].size(), 0u);
    EXPECT_EQ(Record(document, "System Part")["chosenVersion"], nullptr);
}

TEST_F(KvscanReport, ConsoleSummaryNamesTheFindingsAndQuietSaysNothing) {
    const std::wstring json = data_ / L"scan.json";
    const auto result = Scan(L"--json " + Quoted(json));
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_EQ(result.output, WideToAnsi(L"Payload: " + PathOf(L"J", L".txt") +
                                        L"\r\nOK: 3\r\nERROR: 1\r\n"
                                        L"Registry and executable disagree: 1\r\n"
                                        L"  Chat: registry 1.1, " +
                                        chat_ +
                                        L"chat.exe 1.2.3.4\r\n"
                                        L"Orphaned entries: 1\r\n"
                                        L"  Gone Tool: uninstaller " +
                                        gone_ +
                                        L"unins000.exe is gone\r\n"
                                        L"  Gone Tool: install folder " +
                                        gone_ + L" is gone\r\n"));
    EXPECT_EQ(nlohmann::json::parse(ReadFileBytes(json))["summary"]["orphanedEntries"], 1);

    const auto quiet = Scan(L"--quiet");
    EXPECT_EQ(quiet.exitCode, 0u);
    EXPECT_EQ(quiet.output, "");
    EXPECT_TRUE(FileExists(PathOf(L"J", L".txt", 1)));

    const auto unwritable = Scan(L"--json " + Quoted(data_ / L"missing\\scan.json"));
    EXPECT_EQ(unwritable.exitCode, 1u);
    EXPECT_NE(unwritable.output.find("kvscan: cannot create"), std::string::npos);
    EXPECT_FALSE(FileExists(PathOf(L"J", L".txt", 2))) << "no run without its report";

    // A run that fails after the report was begun (here: its timings cannot
    // be written) leaves the last good report whole, and no temporary.
    const std::string lastGood = ReadFileBytes(json);
    const auto failed =
        Scan(L"--json " + Quoted(json) + L" --timings " + Quoted(data_ / L"missing\\t.txt"));
    EXPECT_EQ(failed.exitCode, 1u) << failed.output;
    EXPECT_EQ(ReadFileBytes(json), lastGood);
    EXPECT_FALSE(FileExists(json + L".tmp"));
}

// Registry text reaches the terminal with its control characters written
// out: an escape sequence or a line break of an entry's cannot retitle or
// recolour the terminal, or forge a line of the summary.
// The JSON document, read on a terminal just as often, writes the C1
// controls (the 8-bit CSI among them) and the bidirectional overrides and
// isolates as \u escapes: the same text for a JSON reader.
TEST_F(KvscanReport, RegistryTextReachesTheConsoleVisible) {
    keys32_.SetText(gone_key_, L"UninstallString",
                    L"\"" + gone_ + L"un\x1b]0;owned\a\x1b[2J\r\nOK: 99\r\nins.exe\"");
    const struct {
        const wchar_t* character;
        const char* escaped;  // as the document writes it; nullptr: as it stands
    } characters[] = {
        {L"\x0080", "\\u0080"}, {L"\x0085", "\\u0085"}, {L"\x009b", "\\u009b"},
        {L"\x009f", "\\u009f"}, {L"\x202a", "\\u202a"}, {L"\x202e", "\\u202e"},
        {L"\x2066", "\\u2066"}, {L"\x2069", "\\u2069"}, {L"\x00a0", nullptr},
        {L"\x2029", nullptr},   {L"\x202f", nullptr},   {L"\x2065", nullptr},
    };
    std::wstring publisher = L"<";
    std::string written = "\"publisher\":\"<";
    for (const auto& c : characters) {
        publisher += c.character + std::wstring(L"|");
        written += (c.escaped ? c.escaped : WideToUtf8(c.character)) + "|";
    }
    keys32_.SetText(gone_key_, L"Publisher", publisher);
    const auto result = Scan(L"--json -");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_NE(result.output.find(written), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(result.output.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_NE(result.output.find(WideToAnsi(L"  Gone Tool: uninstaller " + gone_ +
                                            L"un\\x1b]0;owned\\x07\\x1b[2J\\x0d\\x0aOK: "
                                            L"99\\x0d\\x0ains.exe is gone\r\n")),
              std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace kelvra
