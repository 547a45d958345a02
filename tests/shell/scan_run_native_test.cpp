// kvscan's run (RunScan) in process, on the in-memory registry, with a
// console that keeps what it is given: each option's run writes the tray's
// files, says what it should, and leaves every hook as it found it.

#include "shell/scan_run.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/files.h"
#include "common/globals.h"
#include "common/pending_messages.h"
#include "common/registry.h"
#include "common/utf8.h"
#include "http/service_address.h"
#include "http/transport.h"
#include "shell/recording_console.h"
#include "support/json_schema.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"
#include "versions/directversion.h"

namespace kelvra {
namespace {

using testing::RecordingConsole;

class ScanRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registry().Clear();
        // Three records, one without a version, an update the filter drops.
        Add(RegistryView::Own, L"A", L"Alpha", L"1.0");
        Add(RegistryView::Own, L"KB1", L"Fix (KB1)", L"1.0");
        Add(RegistryView::Wow64_64, L"b", L"Beta", L"2.0");
        Add(RegistryView::Wow64_64, L"c", L"Gamma", L"");
    }
    void TearDown() override {
        registry().Clear();
        AppDataDir = saved_[0];
        AppVersion = saved_[1];
        SettingsFile = saved_[2];
    }
    static MemoryRegistry& registry() { return MemoryRegistry::Machine(); }
    static void Add(RegistryView view, const std::wstring& key, const std::wstring& name,
                    const std::wstring& version) {
        const std::wstring path = std::wstring(kUninstallKey) + L"\\" + key;
        registry().SetString(RegistryRoot::LocalMachine, view, path, L"DisplayName", name);
        if (!version.empty())
            registry().SetString(RegistryRoot::LocalMachine, view, path, L"DisplayVersion",
                                 version);
    }
    int Scan(std::vector<std::wstring> args, RecordingConsole& console) {
        args.insert(args.end(), {L"--data-dir", dir_.path(), L"--profile", L"P"});
        const ScanOptionsResult parsed = ParseScanOptions(args);
        EXPECT_EQ(parsed.error, L"");
        return RunScan(parsed.options, console);
    }
    std::string Read(const std::wstring& name) const { return ReadFileBytes(dir_ / name); }

    testing::TempDir dir_;
    testing::SavedSettings settings_;
    std::vector<std::wstring> saved_{AppDataDir, AppVersion, SettingsFile};
};

TEST_F(ScanRunTest, EachOptionWritesTheTraysFilesAndPutsEveryHookBack) {
    RecordingConsole first;
    ASSERT_EQ(Scan({}, first), kScanOk) << WideToUtf8(first.errors);
    const std::wstring payload = dir_ / L"dump_P_0.txt";
    EXPECT_EQ(first.said, L"Payload: " + payload + L"\nOK: 2\nERROR: 1\n");
    EXPECT_EQ(first.progress, 5) << "once listed, then once per entry";
    const std::vector<std::vector<std::wstring>> runs = {
        {L"--json", L"-"},
        {L"--quiet", L"--incremental"},
        {L"--like-apps-and-features"},
        {L"--timings", dir_ / L"t.txt", L"--system-version-reads", L"--quiet"},
    };
    int set = 0;
    for (const auto& args : runs) {
        RecordingConsole console;
        ASSERT_EQ(Scan(args, console), kScanOk) << WideToUtf8(args[0]);
        ++set;
        for (const wchar_t* extension : {L".txt", L".xml", L".html"})
            EXPECT_EQ(Read(L"dump_P_" + std::to_wstring(set) + extension),
                      Read(std::wstring(L"dump_P_0") + extension))
                << WideToUtf8(args[0]);
        EXPECT_FALSE(PendingMessagePumpInstalled());
        EXPECT_TRUE(DirectVersionReads());
        EXPECT_EQ(InstalledRunRecorder(), nullptr);
        if (args[0] == L"--json") {
            const nlohmann::json document = nlohmann::json::parse(console.json);
            EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), document),
                      std::vector<std::string>{});
            EXPECT_EQ(document["summary"]["payloadFile"], WideToUtf8(dir_ / L"dump_P_1.txt"));
        }
        if (args[0] == L"--quiet") {
            EXPECT_EQ(console.said + console.errors, L"");
        }
    }
    EXPECT_EQ(Read(L"t.txt").find("peak 1\n") != std::string::npos, true);
}

// What the run reads for whom: the report's consumers ask for the entries'
// facts, and a quiet run without them reads what the tray's hourly run reads.
TEST_F(ScanRunTest, ThePlanReadsWhatTheOptionsConsumersNeed) {
    const struct {
        std::vector<std::wstring> args;
        bool facts, machine, user, runFiles;
    } cases[] = {
        {{}, true, true, false, true},
        {{L"--quiet"}, false, true, false, true},
        {{L"--quiet", L"--incremental"}, false, true, false, true},
        {{L"--quiet", L"--json", L"x"}, true, true, false, true},
        {{L"--quiet", L"--diff", L"x"}, true, true, false, true},
        {{L"--quiet", L"--like-apps-and-features"}, true, true, false, true},
        {{L"--quiet", L"--scope", L"user"}, false, false, true, false},
        {{L"--scope", L"all", L"--run-files"}, true, true, true, true},
    };
    for (const auto& c : cases) {
        const RunPlan plan = ScanPlan(ParseScanOptions(c.args).options);
        const std::string what = c.args.empty() ? "" : WideToUtf8(c.args.back());
        EXPECT_EQ(plan.entryFacts, c.facts) << what;
        EXPECT_EQ(plan.machine, c.machine) << what;
        EXPECT_EQ(plan.user, c.user) << what;
        EXPECT_EQ(plan.runFiles, c.runFiles) << what;
    }
    const RunPlan tray;
    EXPECT_EQ(ScanPlan(ParseScanOptions({L"--quiet", L"--incremental"}).options).versionReads,
              tray.versionReads);
}

TEST_F(ScanRunTest, TheDiffOfTheRunsOwnDocumentAndWhatStopsARun) {
    RecordingConsole first;
    ASSERT_EQ(Scan({L"--json", L"-", L"--quiet"}, first), kScanOk);
    WriteFileBytes(dir_ / L"before.json", first.json);
    Add(RegistryView::Own, L"A", L"Alpha", L"1.1");
    Add(RegistryView::Own, L"d", L"Delta", L"4");
    RecordingConsole second;
    ASSERT_EQ(Scan({L"--diff", dir_ / L"before.json", L"--json", L"-"}, second), kScanOk);
    EXPECT_NE(second.said.find(L": 1 added, 0 removed, 1 versions changed, 0 findings appeared, "
                               L"0 went away\n  + Delta 4.0\n  up: Alpha 1.0 -> 1.1\n"),
              std::wstring::npos)
        << WideToUtf8(second.said);
    const nlohmann::json changes = nlohmann::json::parse(second.json)["changes"];
    EXPECT_EQ(changes["versionsChanged"][0]["previousVersion"], "1.0");

    RecordingConsole refused;
    WriteFileBytes(dir_ / L"other.json", "{\"a\": 1}");
    EXPECT_EQ(Scan({L"--diff", dir_ / L"other.json"}, refused), kScanUsage);
    EXPECT_EQ(refused.errors.rfind(L"kvscan: --diff ", 0), 0u);
    EXPECT_EQ(refused.said, L"");
    RecordingConsole noFolder;
    const ScanOptions options =
        ParseScanOptions({L"--data-dir", dir_ / L"before.json\\sub"}).options;
    EXPECT_EQ(RunScan(options, noFolder), kScanFailed);
    EXPECT_EQ(noFolder.errors.rfind(L"kvscan: cannot create the data folder ", 0), 0u);
}

// --show-upload runs the upload with the network replaced, and gives the
// network and the service address back.
TEST_F(ScanRunTest, ShowUploadPrintsTheRequestEvenQuietAndGivesTheNetworkBack) {
    struct Unused : HttpTransport {
        HttpAnswer Post(const HttpPost&) override { throw HttpError("unused"); }
    };
    WriteFileBytes(dir_ / L"settings.ini", "[Account]\r\nUsername=demo\r\nPassword=pw\r\n");
    const auto mine = std::make_shared<Unused>();
    std::shared_ptr<HttpTransport> before = SetHttpTransport(mine);
    const std::wstring service = ServiceBaseAddress();
    RecordingConsole console;
    EXPECT_EQ(Scan({L"--show-upload", L"--quiet", L"--service", L"http://127.0.0.1:9"}, console),
              kScanOk);
    EXPECT_EQ(SetHttpTransport(before), mine);
    EXPECT_EQ(ServiceBaseAddress(), service);
    EXPECT_EQ(
        console.said.rfind(L"Upload: not sent. The request it would post to "
                           L"http://127.0.0.1:9/kv2/account_post.php, passwords as ********:\n"
                           L"POST /kv2/account_post.php HTTP/1.1\n",
                           0),
        0u)
        << WideToUtf8(console.said);
}

}  // namespace
}  // namespace kelvra
