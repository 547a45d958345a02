#pragma once
// One inventory run: the uninstall entries of both registry views become
// application records, which are analysed, sorted and written as the payload
// file, the XML document and the HTML report into the data folder.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/pending_messages.h"
#include "shell/run_version_memory.h"

namespace kelvra {

class TApp;

struct RunCounters {
    int ok = 0;     // records with a chosen version
    int error = 0;  // records without one
};

// Looks over the run's shoulder (kvscan's report and progress line). Every
// call comes from within the run, on its thread; none may keep the record it
// is shown, which the run frees right after. Nothing an observer does changes
// a byte of the run's files.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // The number of uninstall entries of both views, once both are listed.
    virtual void EntriesListed(std::size_t total) { (void)total; }
    // Each entry once read: a kept record after its analysis, or a turned
    // away one (its exclusion says why) before it is freed.
    virtual void EntryRead(const TApp& app) { (void)app; }
    // Each kept record right after EntryRead, with its chosen version (empty
    // when it has none): what the observer will want of it once the records
    // are in order. The run keeps these bytes, not the record, and hands
    // them to RecordInOrder.
    virtual std::string RecordAnalysed(const TApp& app, const std::wstring& chosenVersion) {
        (void)app;
        (void)chosenVersion;
        return {};
    }
    // Each kept record's bytes from RecordAnalysed, in the payload file's
    // order.
    virtual void RecordInOrder(std::string_view analysed) { (void)analysed; }
};

// What a run reads, whom it shows the records and whether it writes the run
// files. The tray's run is the default: the machine's entries, into the files.
struct RunPlan {
    // The machine's uninstall key (HKEY_LOCAL_MACHINE, both views), its
    // records shown to the observer.
    bool machine = true;
    // The current user's uninstall key (HKEY_CURRENT_USER, one view: the
    // user's Software key is shared under WOW64). Its records are shown to
    // the observer only and never reach the run files.
    bool user = false;
    // The payload, XML and HTML files, always of the machine's entries
    // alone, so that they stay what the tray would upload; the machine is
    // read for them even when its records are not shown.
    bool runFiles = true;
    // Each entry's facts (kvscan's report): its further values and its
    // texts before the reduction to the code page.
    bool entryFacts = false;
    // The version reads remembered from earlier runs: the hourly run reads
    // only new and changed files.
    VersionMemoryUse versionReads = VersionMemoryUse::Incremental;
};

// Runs the inventory and returns the payload file's full path (empty when
// the plan writes no run files). Errors (a data folder that is gone, a full
// disk) pass to the caller; no path is returned for a payload file that was
// not written whole. counters, when given, receives the two counts of the
// report; observer, when given, is told of every entry and record the plan
// shows it: the machine's first, then the user's, each in the payload's
// order. This one runs the tray's plan, with each entry's facts read when
// there is an observer, whose report (the JSON document) holds them.
std::wstring RunInventory(RunCounters* counters = nullptr, RunObserver* observer = nullptr);
std::wstring RunInventory(const RunPlan& plan, RunCounters* counters, RunObserver* observer);

// The subkey names of the uninstall key in the process's own view or in the
// 64-bit view, sorted case-insensitively by the user's locale; an uninstall
// key that cannot be opened gives none.
int GetUninstallKeyNames(std::vector<std::wstring>& names);
int GetUninstallKeyNames64(std::vector<std::wstring>& names);

}  // namespace kelvra
