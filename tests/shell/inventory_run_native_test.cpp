// The inventory run against the in-memory registry that stands in for the
// machine's in the native build (which answers as a 32-bit program on 64-bit
// Windows, so both views are read).

#include "shell/inventory_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "common/clock.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/registry.h"
#include "common/run_timings.h"
#include "common/textconv.h"
#include "common/utf8.h"
#include "inventory/kv_objs.h"
#include "shell/scan_report.h"
#include "shell/upload.h"
#include "support/fake_transport.h"
#include "support/json_schema.h"
#include "support/saved_log.h"
#include "support/temp_dir.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

class InventoryRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registry().Clear();
        saved_ = {AppDataDir, AppVersion, AccountProfile};
        AppDataDir = dir_.path();
        AppVersion = L"2.0";
        AccountProfile = L"P";
    }
    void TearDown() override {
        registry().Clear();
        SetPendingMessagePump({});
        AppDataDir = saved_[0];
        AppVersion = saved_[1];
        AccountProfile = saved_[2];
    }
    static MemoryRegistry& registry() { return MemoryRegistry::Machine(); }
    void AddEntry(RegistryView view, const std::wstring& key, const std::wstring& name,
                  const std::wstring& version) {
        const std::wstring path = std::wstring(kUninstallKey) + L"\\" + key;
        registry().SetString(RegistryRoot::LocalMachine, view, path, L"DisplayName", name);
        if (!version.empty())
            registry().SetString(RegistryRoot::LocalMachine, view, path, L"DisplayVersion",
                                 version);
    }
    // Two records in both views, one in each, and an update the filter drops.
    void AddMixedEntries() {
        AddEntry(RegistryView::Own, L"b", L"beta", L"2.0");
        AddEntry(RegistryView::Own, L"A", L"Alpha", L"1.0");
        AddEntry(RegistryView::Own, L"KB1", L"Fix (KB1)", L"1.0");
        AddEntry(RegistryView::Wow64_64, L"A", L"Alpha", L"1.0");
        AddEntry(RegistryView::Wow64_64, L"c", L"Gamma", L"");
    }
    std::string Read(const std::wstring& name) const { return ReadFileBytes(dir_ / name); }

    testing::TempDir dir_;
    std::vector<std::wstring> saved_;
};

TEST_F(InventoryRunTest, NoUninstallKeyStillWritesAllThreeFiles) {
    RunCounters counters{-1, -1};
    EXPECT_EQ(RunInventory(&counters), dir_ / L"dump_P_0.txt");
    EXPECT_EQ(counters.ok, 0);
    EXPECT_EQ(counters.error, 0);
    EXPECT_EQ(Read(L"dump_P_0.txt"), "");
    EXPECT_EQ(Read(L"dump_P_0.xml"),
              "<?xml version=\"1.0\"?>\r\n<apps>\r\n<update>\r\n<version>2.0</version>\r\n"
              "</update>\r\n</apps>\r\n");
    EXPECT_EQ(
        Read(L"dump_P_0.html"),
        "<html>\r\n<head>\r\n<style>\r\n* {\r\nfont-family:Verdana; font-size : 12px;\r\n}\r\n"
        "</style>\r\n</head>\r\n<body>\r\nERROR: <b>0</b><br>\r\nOK: <b>0</b><br>\r\n"
        "<br><br>\r\n<table border=1 cellspacing=0 cellpadding=5 style=\"border:solid 1px "
        "black\">\r\n<tr><td colspan=3>.....</td>\r\n</body>\r\n</html>\r\n");
}

TEST_F(InventoryRunTest, BothViewsAreReadSortedAndCounted) {
    AddMixedEntries();
    RunCounters counters;
    RunInventory(&counters);
    EXPECT_EQ(counters.ok, 3);
    EXPECT_EQ(counters.error, 1);
    EXPECT_EQ(Read(L"dump_P_0.txt"), "Alpha\t1.0\r\nAlpha\t1.0\r\nbeta\t2.0\r\nGamma\t\r\n");
    const std::string html = Read(L"dump_P_0.html");
    // Records without exactly one version come before the dotted row.
    EXPECT_LT(html.find("background:red"), html.find("<tr><td colspan=3>"));
    EXPECT_GT(html.find("background:white"), html.find("<tr><td colspan=3>"));
}

TEST_F(InventoryRunTest, PendingMessagesAreServedDuringTheRun) {
    for (int i = 0; i < 25; ++i)
        AddEntry(RegistryView::Own, L"k" + std::to_wstring(i), L"App " + std::to_wstring(i),
                 L"1.0");
    int pumps = 0;
    SetPendingMessagePump([&] { ++pumps; });
    RunInventory();
    // Start, entries 0, 10 and 20 of the first pass, and before writing.
    EXPECT_GE(pumps, 5);
}

TEST_F(InventoryRunTest, ARecordedRunAccountsForEveryMomentAndCountsItsEntries) {
    for (int i = 0; i < 25; ++i)
        AddEntry(RegistryView::Own, L"k" + std::to_wstring(i), L"App " + std::to_wstring(i),
                 L"1.0");
    AddEntry(RegistryView::Wow64_64, L"KB1", L"Fix (KB1)", L"1.0");
    SetPendingMessagePump([] {});
    RunRecorder recorder;
    SetRunRecorder(&recorder);
    RunInventory();
    SetRunRecorder(nullptr);

    const RunTimings& timings = recorder.timings();
    EXPECT_EQ(timings.counts[static_cast<std::size_t>(RunCount::Entries)], 26u);
    EXPECT_EQ(timings.counts[static_cast<std::size_t>(RunCount::Records)], 25u);
    EXPECT_GE(timings.pumps, 5u);
    EXPECT_GT(timings.totalSeconds, 0);
    double stages = 0;
    for (double seconds : timings.stageSeconds) stages += seconds;
    EXPECT_NEAR(stages, timings.totalSeconds, 1e-9) << "every moment belongs to exactly one stage";
    EXPECT_LE(timings.longestGapSeconds, timings.totalSeconds);
}

// More records than the sort takes in one piece, with equal names in both
// views: every record's four renderings stay together, in the order of the
// records sorted by name as one list, and the renderings' scratch file goes
// with the run.
TEST_F(InventoryRunTest, ManyRecordsKeepTheirRenderingsTogetherInNameOrder) {
    for (int i = 0; i < 700; ++i) {
        std::wstring name = L"App ";
        for (int n = (i * 7919) % 613; n > 0; n /= 26) name += static_cast<wchar_t>(L'a' + n % 26);
        const std::wstring version = std::to_wstring(i % 5) + L".0";
        const RegistryView view = i % 3 == 0 ? RegistryView::Wow64_64 : RegistryView::Own;
        const std::wstring key = L"k" + std::to_wstring(i);
        AddEntry(view, key, name, i % 11 == 0 ? L"" : version);
    }
    RunCounters counters;
    RunInventory(&counters);

    const std::string payload = Read(L"dump_P_0.txt");
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < payload.size();) {
        const std::size_t end = payload.find("\r\n", at);
        lines.push_back(payload.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 700u);
    EXPECT_EQ(counters.ok + counters.error, 700);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::wstring before = AnsiToWide(lines[i - 1].substr(0, lines[i - 1].find('\t')));
        const std::wstring after = AnsiToWide(lines[i].substr(0, lines[i].find('\t')));
        EXPECT_LE(CompareTextLocale(before, after), 0) << "line " << i;
    }
    // The XML elements come in the payload's order, each with its record's
    // version.
    const std::string xml = Read(L"dump_P_0.xml");
    std::size_t at = 0;
    for (const std::string& line : lines) {
        const std::string name = line.substr(0, line.find('\t'));
        at = xml.find("<niceName>" + name + "</niceName>", at);
        ASSERT_NE(at, std::string::npos) << line;
    }
    EXPECT_EQ(FindEntries(dir_ / L"*.tmp").size(), 0u) << "no scratch file left";
}

TEST_F(InventoryRunTest, MissingDataFolderFailsWithoutAPayload) {
    AppDataDir = dir_ / L"gone/";
    EXPECT_THROW(RunInventory(), FileError);
    EXPECT_FALSE(FileExists(dir_ / L"gone/dump_P_0.txt"));
}

TEST_F(InventoryRunTest, RunsKeepAtMost48Sets) {
    for (int n = 0; n < 50; ++n)
        WriteFileBytes(dir_ / (L"dump_P_" + std::to_wstring(n) + L".txt"), "");
    const std::wstring payload = RunInventory();
    EXPECT_EQ(payload, dir_ / L"dump_P_50.txt");
    int left = 0;
    for (int n = 0; n <= 50; ++n)
        left += FileExists(dir_ / (L"dump_P_" + std::to_wstring(n) + L".txt"));
    EXPECT_EQ(left, 48);
    EXPECT_TRUE(FileExists(payload));
}

// kvscan's report of a run, taken as the run renders each record: the same
// records in the payload file's order, the entries the first filter dropped,
// and a document that fits the published schema.
TEST_F(InventoryRunTest, ReportFollowsThePayloadAndChangesNoByteOfTheFiles) {
    AddMixedEntries();
    AddEntry(RegistryView::Own, L"{90160000}", L"Microsoft Office Proofing 2016", L"16.0");
    AddEntry(RegistryView::Wow64_64, L"d", L"Caf\u00e9 Bar", L"3.0");
    RunInventory();

    std::string text;
    ScanJsonWriter json([&text](std::string_view bytes) { text += bytes; });
    json.Begin({L"PC", L"user", L"P", L"2.0", L"2026-12-07T14:10:45Z", true});
    std::vector<ScanProgress> progress;
    ScanObserver observer(&json, [&](const ScanProgress& now) { progress.push_back(now); });
    RunCounters counters;
    const std::wstring payload = RunInventory(&counters, &observer);
    observer.summary().ok = counters.ok;
    json.End(observer.summary());
    for (const wchar_t* extension : {L".txt", L".xml", L".html"})
        EXPECT_EQ(Read(std::wstring(L"dump_P_1") + extension),
                  Read(std::wstring(L"dump_P_0") + extension))
            << "the observer changed " << WideToAnsi(extension);

    const nlohmann::json document = nlohmann::json::parse(text);
    EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), document),
              std::vector<std::string>{});
    EXPECT_EQ(text.rfind("{\n\"schemaVersion\": 1,", 0), 0u) << "its first field";

    // The payload holds the code page's bytes, the document UTF-8.
    std::string lines;
    for (const auto& record : document["records"])
        lines += WideToAnsi(Utf8ToWide(record["niceName"].get<std::string>())) + "\t" +
                 testing::TextOrEmpty(record["chosenVersion"]) + "\r\n";
    EXPECT_EQ(lines, Read(L"dump_P_1.txt"));
    EXPECT_EQ(document["records"][0]["registryView"], 32);
    EXPECT_EQ(document["records"][1]["registryView"], 64);
    EXPECT_EQ(document["records"][3]["displayName"], "Caf\xc3\xa9 Bar");
    EXPECT_EQ(document["records"][4]["chosenVersion"], nullptr);

    ASSERT_EQ(document["excluded"].size(), 2u);
    EXPECT_EQ(document["excluded"][0]["displayName"], "Fix (KB1)");
    EXPECT_EQ(document["excluded"][0]["reason"], "update");
    EXPECT_EQ(document["excluded"][1]["displayName"], "Microsoft Office Proofing 2016");
    EXPECT_EQ(document["excluded"][1]["reason"], "officePart");
    EXPECT_EQ(document["summary"]["entries"], 7);
    EXPECT_EQ(document["summary"]["records"], 5);
    EXPECT_EQ(document["summary"]["excluded"], 2);

    ASSERT_EQ(progress.size(), 8u) << "once listed, then once per entry";
    EXPECT_EQ(progress.back().entriesRead, 7u);
    EXPECT_TRUE(progress.back().last);
    EXPECT_FALSE(progress[6].last);

    // The schema check itself catches a record that lacks a field.
    nlohmann::json broken = document;
    broken["records"][0]["candidates"][0].erase("points");
    EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), broken),
              std::vector<std::string>{"/records/0/candidates/0: missing points"});
}

// Two days and more of hourly runs: the folder keeps 48 sets, each run's
// number is higher than the one before, and each upload names the newest set.
TEST_F(InventoryRunTest, HourlyRunsKeepRisingNumbersAndUploadTheNewestSet) {
    AddEntry(RegistryView::Own, L"A", L"Alpha", L"1.0");
    testing::FakeTransport transport;
    unsigned long long previous = 0;
    for (int run = 0; run < 200; ++run) {
        SCOPED_TRACE(run);
        const std::wstring payload = RunInventory();
        ASSERT_TRUE(UploadInventory(payload, {L"user1", L"pw", L"P"}).sent);

        std::vector<unsigned long long> numbers;
        for (const DirEntry& entry : FindEntries(dir_ / L"dump_P_*.txt"))
            numbers.push_back(std::stoull(entry.name.substr(7)));
        ASSERT_EQ(numbers.size(), static_cast<std::size_t>(std::min(run + 1, 48)));
        const unsigned long long newest = *std::max_element(numbers.begin(), numbers.end());
        EXPECT_EQ(payload, dir_ / (L"dump_P_" + std::to_wstring(newest) + L".txt"));
        if (run > 0) {
            EXPECT_GT(newest, previous);
        }
        previous = newest;
        EXPECT_NE(transport.Posts().back().body.find("filename=\"" + WideToAnsi(payload) + "\""),
                  std::string::npos);
    }
    EXPECT_EQ(previous, 199u);
}

// Version reads remembered from run to run: a reader that takes each file's
// version from its content and counts the files it opens, a program folder
// changed between runs in every way that matters, and after each run a run
// that reads every file: the same bytes in both sets of files, whatever the
// run took from its memory.
class ContentVersionReader : public FileVersionReader {
  public:
    FileVersionResult Read(const std::wstring& path) override {
        ++reads;
        FileVersionResult result;
        result.ok = true;
        result.fixedVersion = AnsiToWide(ReadFileBytes(path));
        return result;
    }
    int reads = 0;
};

TEST_F(InventoryRunTest, RememberedReadsGiveTheFilesOfAFullReadAndOpenOnlyWhatChanged) {
    namespace fs = std::filesystem;
    const std::wstring folder = dir_ / L"App/";
    ASSERT_TRUE(ForceDirectories(folder));
    auto put = [&](const wchar_t* name, const char* content) {
        WriteFileBytes(folder + name, content);
    };
    put(L"a.exe", "1.0");
    put(L"b.exe", "2.0");
    const std::wstring key = std::wstring(kUninstallKey) + L"\\app";
    registry().SetString(RegistryRoot::LocalMachine, RegistryView::Own, key, L"DisplayName",
                         L"App");
    // Written as the program writes paths; the native file layer reads the
    // backslashes as slashes.
    std::wstring location = folder;
    std::replace(location.begin(), location.end(), L'/', L'\\');
    registry().SetString(RegistryRoot::LocalMachine, RegistryView::Own, key, L"InstallLocation",
                         location);
    const std::wstring savedWindows = std::exchange(WindowsDir, L"C:\\Windows\\");
    const auto reader = std::make_shared<ContentVersionReader>();
    const auto previousReader = SetFileVersionReader(reader);
    LocalTime now = {2026, 12, 6, 14, 0, 0, 0};
    const ClockSource previousClock = SetClockSource([&now] { return now; });
    const testing::LogSwitch log(dir_.path());
    const std::wstring cache = dir_ / kVersionMemoryFileName;

    const struct {
        const char* change;
        std::function<void()> make;
        VersionMemoryUse use;
        int reads;
        const char* logged;
    } steps[] = {
        {"no file yet", [] {}, VersionMemoryUse::Incremental, 2, "every file read (there is no"},
        {"nothing changed", [] {}, VersionMemoryUse::Incremental, 0, "only new and changed"},
        {"same size, new content and time",
         [&] {
             put(L"b.exe", "2.1");
             fs::last_write_time(fs::path(folder + L"b.exe"),
                                 fs::file_time_type::clock::now() + std::chrono::hours(1));
         },
         VersionMemoryUse::Incremental, 1, "only new and changed"},
        {"a new file", [&] { put(L"c.exe", "3.0"); }, VersionMemoryUse::Incremental, 1, "only"},
        {"a file gone", [&] { DeleteFileAt(folder + L"a.exe"); }, VersionMemoryUse::Incremental, 0,
         "only new and changed"},
        {"Run now", [] {}, VersionMemoryUse::Refresh, 2, "every file read (asked for)"},
        {"a damaged file of remembered reads",
         [&] {
             std::string bytes = ReadFileBytes(cache);
             bytes[bytes.size() / 2] ^= 1;
             WriteFileBytes(cache, bytes);
         },
         VersionMemoryUse::Incremental, 2, "of no use: its checksum does not match"},
        {"a day later", [&] { now.day += 1; }, VersionMemoryUse::Incremental, 2, "a day old"},
        {"the clock went back", [&] { now.hour -= 1; }, VersionMemoryUse::Incremental, 2,
         "a time before the last full read"},
        {"the file cannot be replaced",
         [&] { ::chmod(WideToAnsi(dir_.path() + L"version-reads.cache").c_str(), 0444); },
         VersionMemoryUse::Incremental, 0, "only new and changed"},
    };
    int set = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.change);
        step.make();
        RunPlan plan;
        plan.versionReads = step.use;
        reader->reads = 0;
        const std::size_t logged =
            FileExists(dir_ / L"logreg.txt") ? Read(L"logreg.txt").size() : 0;
        RunInventory(plan, nullptr, nullptr);
        EXPECT_EQ(reader->reads, step.reads);
        const std::string logText = Read(L"logreg.txt").substr(logged);
        EXPECT_NE(logText.find(step.logged), std::string::npos) << logText;

        // The same machine read in full, the memory left alone.
        const std::string before = FileExists(cache) ? ReadFileBytes(cache) : "";
        plan.versionReads = VersionMemoryUse::Off;
        RunInventory(plan, nullptr, nullptr);
        EXPECT_EQ(FileExists(cache) ? ReadFileBytes(cache) : "", before);
        for (const wchar_t* extension : {L".txt", L".xml", L".html"})
            EXPECT_EQ(Read(L"dump_P_" + std::to_wstring(set) + extension),
                      Read(L"dump_P_" + std::to_wstring(set + 1) + extension));
        EXPECT_NE(Read(L"dump_P_" + std::to_wstring(set) + L".xml").find("fileversion1"),
                  std::string::npos);
        set += 2;
    }
    EXPECT_NE(Read(L"logreg.txt").find("the remembered version reads were not saved"),
              std::string::npos);
    SetClockSource(previousClock);
    SetFileVersionReader(previousReader);
    WindowsDir = savedWindows;
}

}  // namespace
}  // namespace kelvra
