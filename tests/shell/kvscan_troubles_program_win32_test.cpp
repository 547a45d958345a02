// kvscan.exe from the outside on executables and folders that have crashed,
// hung or misled the system's version reader: the run ends normally and
// names what failed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace kelvra
