#pragma once
// kvscan --diff: what changed between an earlier JSON document of kvscan's
// and this run. An application is known by its scope, registry view and
// registry key, never by its display name, which carries its version.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "shell/scan_options.h"

namespace kelvra {

// A finding as a record of the document states it: its kind and its other
// fields, each as its text (a number as its digits; a null is left out).
struct StatedFinding {
    std::string kind;
    std::map<std::string, std::string> fields;

    std::string Field(const std::string& name) const;  // empty when absent
};

// One record of a JSON document of kvscan's, as the diff and the console
// summary read it, from an earlier document or from this run's own lines;
// texts in UTF-8, as the document has them.
struct ScanRecord {
    std::string scope;  // "machine" or "user"
    int view = 32;
    std::string key;
    std::string name;                // the display name
    std::string niceName;            // the payload's first column
    std::string version;             // the chosen version; empty: none
    std::set<std::string> findings;  // their kinds
    std::vector<StatedFinding> stated;

    std::string Identity() const { return scope + "|" + std::to_string(view) + "|" + key; }
};

// The records of a document and the scopes it covered.
struct ScanRecords {
    std::set<std::string> scopes;  // "machine", "user"
    std::vector<ScanRecord> records;
};

// The scopes of the records a run of that scope reports: "machine", "user"
// or both.
std::set<std::string> ScopesOf(ScanScope scope);

// One record's line of a document; empty when it is no record of kvscan's
// (it lacks what identifies it).
std::optional<ScanRecord> ReadScanRecord(std::string_view line);

// Reads an earlier document. Empty, with error set, when the bytes are not
// JSON, not a document of kvscan's (numbers included: each an exact whole
// number of its field's range), or of another schema version.
std::optional<ScanRecords> ReadScanRecords(std::string_view bytes, std::string& error);

// The largest earlier document read, far above what any machine's records
// make: a larger file is refused before it is read into memory.
inline constexpr std::uint64_t kMaxScanDocumentBytes = 64ull << 20;

// ReadScanRecords of a file; also empty when the file cannot be read or is
// larger than kMaxScanDocumentBytes.
std::optional<ScanRecords> ReadScanDocument(const std::wstring& path, std::string& error);

struct VersionChange {
    ScanRecord record;  // as now
    std::string from;
    std::string direction;  // "up", "down", or "changed" when neither can be said
};

struct FindingChange {
    ScanRecord record;
    std::string kind;
};

struct ScanChanges {
    std::vector<ScanRecord> added, removed;
    std::vector<VersionChange> versions;
    std::vector<FindingChange> findingsAppeared, findingsGone;
    bool empty() const {
        return added.empty() && removed.empty() && versions.empty() && findingsAppeared.empty() &&
               findingsGone.empty();
    }
};

// Compares the records of the scopes both runs covered; a scope only one of
// them read says nothing about what changed.
ScanChanges CompareScans(const ScanRecords& before, const ScanRecords& now);

// "up" when to is the later version by the pruning chain's comparison,
// "down" when the earlier, "changed" when the first components are not
// numbers to compare.
std::string VersionDirection(const std::string& from, const std::string& to);

// The "changes" object of the JSON document, as one line of JSON.
std::string ChangesJson(const ScanChanges& changes, std::string_view previousFile);

// The console summary; texts in UTF-8 with their control characters written out
// by the caller's conversion.
std::wstring ChangesText(const ScanChanges& changes, std::wstring_view previousFile);

}  // namespace kelvra
