// kvscan.exe from the outside: a small machine laid out in the test prefix's
// real registry (both views) and on its C: drive; one run as a separate
// process writes the files that the same run in the test's own process
// writes, and each option ends with its exit code. (The run's tables in
// process: scan_machine_win32_test.cpp.)

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/utf8.h"
#include "shell/kvscan_machine_win32.h"
#include "support/json_schema.h"

namespace kelvra {
namespace {

using testing::Quoted;
using testing::RunProgram;
using testing::UninstallKeys;

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

    // One run of the program and the same run in this process, their lines
    // and files alike. bothRecords: the entry written in both views gives a
    // record per view under WOW64, and one on a 32-bit Windows.
    void ScanAndExpectTheFiles(int bothRecords) {
        const auto result = Kvscan(L"--profile E2E");
        ASSERT_EQ(result.exitCode, 0u) << result.output;
        const std::wstring payload = PathOf(L"E2E", L".txt");
        EXPECT_EQ(result.output, WideToAnsi(L"Payload: " + payload) + "\r\nOK: " +
                                     std::to_string(2 + bothRecords) + "\r\nERROR: 1\r\n");
        std::string lines;
        for (int i = 0; i < bothRecords; ++i) lines += "Both App\t3.1\r\n";
        EXPECT_EQ(ReadFileBytes(payload),
                  lines + "Delta\t2.5\r\nGamma Suite\t1.2.3.4\r\nPlain Editor\t\r\n");
        const auto inProcess = ScanInProcess(L"--profile E2E");
        EXPECT_EQ(inProcess.output, WideToAnsi(L"Payload: " + PathOf(L"E2E", L".txt", 1)) +
                                        "\r\nOK: " + std::to_string(2 + bothRecords) +
                                        "\r\nERROR: 1\r\n");
        ExpectSameRunFiles(L"E2E", 0, L"E2E", 1);
    }

    std::wstring gammaFolder_, both_, delta_, plain_, kb_, gamma_;
};

TEST_F(KvscanRun, WritesTheFilesOfTheSameRunInProcess) { ScanAndExpectTheFiles(2); }

// One run per option: its exit code, and the files, the lines or the
// document that show it did what it says. The files of set 0 are the plain
// run's.
TEST_F(KvscanRun, EachOptionEndsWithItsExitCode) {
    const std::wstring timings = data_ / L"timings.txt", before = data_ / L"before.json";
    ASSERT_EQ(Kvscan(L"--profile O --quiet --json " + Quoted(before)).exitCode, 0u);
    WriteFileBytes(data_ / L"other.json", R"({"schemaVersion": 2})");
    WriteFileBytes(programs_ / L"file", "x");
    const struct {
        std::wstring arguments;
        unsigned long exitCode;
        std::string output;  // a part of what it prints; "{": a JSON document
        int set = -1;        // the run files it writes, as set 0's
    } cases[] = {
        {L"--timings " + Quoted(timings) + L" --system-version-reads --quiet", 0, "", 1},
        {L"--incremental --quiet", 0, "", 2},
        {L"--scope user --json - --quiet", 0, "{"},
        {L"--scope all --run-files --json - --quiet", 0, "{", 3},
        {L"--like-apps-and-features --json - --quiet", 0, "{", 4},
        {L"--diff " + Quoted(before), 0, "Changes since " + WideToAnsi(before) + ": none\r\n", 5},
        {L"--diff " + Quoted(data_ / L"other.json"), 2, "not a JSON document of kvscan's"},
        {L"--scope everything", 2, "--scope needs machine, user or all"},
        {L"--frobnicate", 2, "Usage: kvscan"},
        {L"--help", 0, "Usage: kvscan"},
        {L"--json " + Quoted(data_ / L"missing\\x.json"), 1, "kvscan: cannot create"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToAnsi(c.arguments));
        const auto run = Kvscan(L"--profile O " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        if (c.output == "{") {
            EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(),
                                                nlohmann::json::parse(run.output)),
                      std::vector<std::string>{});
        } else {
            EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
        }
        if (c.set > 0) ExpectSameRunFiles(L"O", c.set, L"O", 0);
    }
    EXPECT_NE(ReadFileBytes(timings).find("count.entries 6\n"), std::string::npos);
    EXPECT_TRUE(FileExists(data_ / L"version-reads.cache"));
    // A data folder that cannot be created: a file stands where it should be.
    const auto failed = RunProgram(Quoted(testing::KvscanExe()) + L" --data-dir " +
                                   Quoted(programs_ / L"file\\sub"));
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_NE(failed.output.find("kvscan: cannot create the data folder"), std::string::npos);
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

}  // namespace
}  // namespace kelvra
