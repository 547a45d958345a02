// kvscan --diff: what changed between two documents, record by record.

#include "shell/scan_diff.h"

#include <gtest/gtest.h>

namespace kelvra {
namespace {

// A document of one scope with the records given as
// {key, version, finding kinds}; view 32, the name the key's.
struct Given {
    std::string key, version;
    std::set<std::string> findings;
    std::string scope = "machine";
};
ScanRecords Document(std::set<std::string> scopes, const std::vector<Given>& records) {
    ScanRecords document{std::move(scopes), {}};
    for (const Given& given : records)
        document.records.push_back(
            {given.scope, 32, given.key, given.key, given.key, given.version, given.findings, {}});
    return document;
}

std::vector<std::string> Summary(const ScanChanges& changes) {
    std::vector<std::string> lines;
    for (const ScanRecord& record : changes.added) lines.push_back("+ " + record.key);
    for (const ScanRecord& record : changes.removed) lines.push_back("- " + record.key);
    for (const VersionChange& change : changes.versions)
        lines.push_back(change.direction + " " + change.record.key + " " + change.from + " -> " +
                        change.record.version);
    for (const FindingChange& change : changes.findingsAppeared)
        lines.push_back("appeared " + change.record.key + " " + change.kind);
    for (const FindingChange& change : changes.findingsGone)
        lines.push_back("gone " + change.record.key + " " + change.kind);
    return lines;
}

TEST(ScanDiffTest, ChangesByKeyAndOnlyInTheScopesBothRead) {
    const std::set<std::string> machine{"machine"}, both{"machine", "user"};
    struct Case {
        const char* what;
        ScanRecords before, now;
        std::vector<std::string> expected;
    } cases[] = {
        {"unchanged",
         Document(machine, {{"a", "1.0", {}}}),
         Document(machine, {{"a", "1.0", {}}}),
         {}},
        {"up, down and changed",
         Document(machine, {{"a", "1.9", {}}, {"b", "3.0", {}}, {"c", "beta", {}}, {"d", "", {}}}),
         Document(machine,
                  {{"a", "2.1", {}}, {"b", "2.9.9", {}}, {"c", "1.0", {}}, {"d", "1", {}}}),
         {"up a 1.9 -> 2.1", "down b 3.0 -> 2.9.9", "changed c beta -> 1.0", "changed d  -> 1"}},
        {"added and removed",
         Document(machine, {{"a", "1", {}}, {"gone", "2", {}}}),
         Document(machine, {{"a", "1", {}}, {"new", "3", {}}}),
         {"+ new", "- gone"}},
        {"findings appeared and gone",
         Document(machine, {{"a", "1", {"orphanedEntry"}}}),
         Document(machine, {{"a", "1", {"registryExecutableDisagreement"}}}),
         {"appeared a registryExecutableDisagreement", "gone a orphanedEntry"}},
        {"a scope only the earlier run read",
         Document(both, {{"a", "1", {}}, {"u", "1", {}, "user"}}),
         Document(machine, {{"a", "1", {}}}),
         {}},
        {"a scope only this run read",
         Document(machine, {{"a", "1", {}}}),
         Document(both, {{"a", "1", {}}, {"u", "1", {}, "user"}}),
         {}},
        {"the same key in the other scope is another record",
         Document(both, {{"a", "1", {}}}),
         Document(both, {{"a", "1", {}, "user"}}),
         {"+ a", "- a"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Summary(CompareScans(c.before, c.now)), c.expected) << c.what;
}

TEST(ScanDiffTest, TheDocumentsRecordsReadAsThisRunsAndTheHeaderNamesTheScopes) {
    std::string error;
    const std::optional<ScanRecords> read = ReadScanRecords(
        R"({"schemaVersion": 1, "header": {"kelvraVersion": "2.0", "scope": "all"},
            "records": [{"registryKey": "K", "registryView": 64, "scope": "user",
                         "displayName": "App 1", "niceName": "App", "chosenVersion": "1",
                         "findings": [{"kind": "folderUnreachable", "path": "S:\\", "waitedMs": 5012}]}]})",
        error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->scopes, (std::set<std::string>{"machine", "user"}));
    ASSERT_EQ(read->records.size(), 1u);
    const ScanRecord& record = read->records[0];
    EXPECT_EQ(record.Identity(), "user|64|K");
    EXPECT_EQ(record.niceName, "App");
    ASSERT_EQ(record.stated.size(), 1u);
    EXPECT_EQ(record.stated[0].Field("path"), "S:\\");
    EXPECT_EQ(record.stated[0].Field("waitedMs"), "5012");
    EXPECT_EQ(ScopesOf(ScanScope::User), (std::set<std::string>{"user"}));
    EXPECT_FALSE(ReadScanRecord(R"({"registryKey": "K", "registryView": 48})"));
}

}  // namespace
}  // namespace kelvra
