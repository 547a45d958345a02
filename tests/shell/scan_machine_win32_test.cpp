// kvscan's run in the test's own process on a machine laid out in the
// prefix's real registry and on its C: drive: the version reads remembered
// between runs, each scope's records, the entries' facts of every registry
// type, and the earlier documents --diff refuses. (kvscan.exe as a program:
// kvscan_*_program_win32_test.cpp.)

#include "shell/scan_machine_win32.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "common/utf8.h"
#include "support/json_schema.h"

namespace kelvra {
namespace {

using testing::UninstallKeys;

const std::wstring& kKeyPrefix = testing::kUninstallKeyPrefix;

// Version reads remembered between runs (--incremental): after each kind of
// change to a program folder, and to the file that remembers, a run that
// takes what it can from its memory writes the same bytes as one that reads
// every file, and as one that reads every file through the system's calls;
// and it opens only the files that changed.
class ScanRememberedReads : public testing::ScanMachine {
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

TEST_F(ScanRememberedReads, EveryChangeGivesTheFilesOfAFullReadAndOnlyChangesAreOpened) {
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
            ScanInProcess(L"--profile R --quiet --incremental --timings " + timings);
        ASSERT_EQ(incremental.exitCode, 0) << incremental.output;
        EXPECT_NE(
            ReadFileBytes(timings).find("count.version_reads " + std::to_string(c.opened) + "\n"),
            std::string::npos)
            << ReadFileBytes(timings);
        const std::string remembered = ReadFileBytes(cache);
        for (const wchar_t* full :
             {L"--profile R --quiet", L"--profile R --quiet --system-version-reads"}) {
            const auto run = ScanInProcess(full);
            ASSERT_EQ(run.exitCode, 0) << run.output;
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

// The user's own installs beside the machine's: the same product installed
// both ways, a program under the user's own programs folder, an update.
class ScanScope : public testing::ScanMachine {
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

TEST_F(ScanScope, EachScopeReportsItsEntriesAndTheRunFilesStayTheMachines) {
    // The tray's run, for the files every other run must match.
    ASSERT_EQ(ScanInProcess(L"--profile M --quiet").exitCode, 0);
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
        const auto run =
            ScanInProcess(L"--profile S --json - --quiet " + std::wstring(c.arguments));
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const auto document = nlohmann::json::parse(run.json);
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
    const auto usage = ScanInProcess(L"--scope everything");
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.output.find("--scope needs machine, user or all"), std::string::npos);
}

// The values "Apps & features" hides and groups entries by, read from real
// keys of every type a writer may have used, and the records that list
// would show.
class ScanEntryFacts : public testing::ScanMachine {};

TEST_F(ScanEntryFacts, FactsOfEveryTypeAndTheRecordsAppsAndFeaturesShows) {
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
        const auto run = ScanInProcess(std::wstring(L"--profile F --json - --quiet") +
                                       (like ? L" --like-apps-and-features" : L""));
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const auto document = nlohmann::json::parse(run.json);
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

// An earlier document that is not kvscan's, or of another schema, stops the
// run before it reads anything.
class ScanDiffDocuments : public testing::ScanMachine {};

TEST_F(ScanDiffDocuments, ADocumentThatIsNotKvscansOfThisSchemaIsRefused) {
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
        const auto run = ScanInProcess(L"--profile R --diff " + file);
        EXPECT_EQ(run.exitCode, 2) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_FALSE(FileExists(PathOf(L"R", L".txt"))) << "no run";
    }
}

}  // namespace
}  // namespace kelvra
