#pragma once
// kvscan's JSON report: the run's header, every entry that was turned away and
// why, every record in the payload file's order with all its candidates and
// the findings about it, and a summary. The document is written piece by
// piece while the run goes, each record as it is rendered, so that it never
// holds more than one record; docs/kvscan.md describes the schema.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "inventory/findings.h"
#include "shell/inventory_run.h"
#include "shell/scan_diff.h"
#include "shell/scan_options.h"

namespace kelvra {

class TApp;

// The version of the document's layout, its first field. Raised when a field
// changes its meaning or goes; new fields leave it alone.
inline constexpr int kScanReportSchemaVersion = 1;

// A line of JSON as written: the C1 controls (U+0080 to U+009F, the 8-bit
// CSI among them) and the bidirectional overrides and isolates (U+202A to
// U+202E, U+2066 to U+2069) that registry texts may carry are written as
// \u escapes, which mean the same to a JSON reader and nothing to a terminal.
std::string EscapeTerminalControls(std::string_view json);

struct ScanHeader {
    std::wstring computer;
    std::wstring user;
    std::wstring profile;
    std::wstring kelvraVersion;
    std::wstring startedUtc;  // ISO 8601, such as 2026-12-07T14:10:45Z
    bool is64BitWindows = false;
    ScanScope scope = ScanScope::Machine;  // --scope
    bool likeAppsAndFeatures = false;      // --like-apps-and-features
};

struct ScanSummary {
    std::size_t entries = 0;
    std::size_t records = 0;
    std::size_t excluded = 0;
    int ok = 0;
    int error = 0;
    std::size_t versionDisagreements = 0;
    std::size_t orphanedEntries = 0;
    std::size_t namesNotRepresentable = 0;
    // Records with an executable the system's version reader crashed or hung
    // on, and records whose folder did not answer in time.
    std::size_t versionReaderFailures = 0;
    std::size_t foldersUnreachable = 0;
    // Records the system's list of installed programs would hide; with
    // --like-apps-and-features they are left out of the report.
    std::size_t hiddenByAppsAndFeatures = 0;
    std::wstring payloadFile;  // the run's three files; empty: none written
    std::wstring xmlFile;
    std::wstring htmlFile;
};

class ScanJsonWriter {
  public:
    using Sink = std::function<void(std::string_view)>;  // receives UTF-8 text
    explicit ScanJsonWriter(Sink sink) : sink_(std::move(sink)) {}

    // Opens the document: schemaVersion, the header, the list of excluded
    // entries.
    void Begin(const ScanHeader& header);
    // An entry that ReadFromRegistry turned away. Entries arrive while the
    // run reads, before any record is rendered.
    void Excluded(const TApp& app);
    // A record as the run renders it, with its chosen version (empty: none),
    // in two steps: the record's line of the document, taken while the record
    // is at hand, and the line written in the records' order.
    // Not whole: only the fields that the diff and the console read
    // (ReadScanRecord), for a run without the document.
    static std::string RecordLine(const TApp& app, std::wstring_view chosenVersion,
                                  const RecordFindings& findings, bool whole = true);
    void WriteRecordLine(std::string_view line);
    // Closes the lists and the document; changesJson, when given, is the
    // "changes" object of --diff (ChangesJson).
    void End(const ScanSummary& summary, std::string_view changesJson = {});

  private:
    void Separate(bool& first);
    void OpenRecords();

    Sink sink_;
    bool firstExcluded_ = true;
    bool firstRecord_ = true;
    bool recordsOpen_ = false;
};

struct ScanProgress {
    std::size_t entriesRead = 0;
    std::size_t entriesTotal = 0;
    std::size_t executables = 0;  // executables that gave a version, so far
    bool last = false;            // every entry is read
};

// kvscan's view of a run: the JSON document (when there is one), the progress
// and the findings for the console summary, each record taken as the run
// analyses it and forgotten at once but for its line of the document, which
// comes back in the records' order and is read as an earlier document's
// records are (ReadScanRecord): for the diff and the console's findings.
class ScanObserver : public RunObserver {
  public:
    using ProgressSink = std::function<void(const ScanProgress&)>;
    // likeAppsAndFeatures: report only the records that the system's list
    // of installed programs shows (ShownInAppsAndFeatures).
    ScanObserver(ScanJsonWriter* json, ProgressSink progress, bool likeAppsAndFeatures = false)
        : json_(json), progress_(std::move(progress)), likeAppsAndFeatures_(likeAppsAndFeatures) {}

    void EntriesListed(std::size_t total) override;
    void EntryRead(const TApp& app) override;
    // What the report, the console and the diff take of a record: its line
    // of the document, which RecordInOrder adds in the payload file's order.
    std::string RecordAnalysed(const TApp& app, const std::wstring& chosenVersion) override;
    void RecordInOrder(std::string_view analysed) override;

    // The counts so far, ok and error over the records shown; the run's
    // files are the caller's to add.
    ScanSummary& summary() { return summary_; }

    // The findings under two headings, a line each, for the console summary;
    // empty when there are none.
    std::wstring FindingsText() const;

    // --diff: keep what the diff needs of each record reported (a few texts
    // each), from now on.
    void KeepForDiff() { keepForDiff_ = true; }
    const std::vector<ScanRecord>& KeptForDiff() const { return kept_; }

  private:
    void AddConsoleLines(const ScanRecord& record);

    ScanJsonWriter* json_;
    ProgressSink progress_;
    bool likeAppsAndFeatures_;
    bool keepForDiff_ = false;
    std::vector<ScanRecord> kept_;
    ScanSummary summary_;
    ScanProgress now_;
    std::wstring disagreements_, orphans_, unrepresentable_, readerFailures_, unreachable_;
};

// The registry view as the report names it: 32 for the process's own view
// (the 32-bit program's), 64 for the 64-bit view.
int RegistryViewBits(const TApp& app);

// Whose uninstall key the entry is in: ScanScope::Machine or ::User.
ScanScope ScopeOf(const TApp& app);

}  // namespace kelvra
