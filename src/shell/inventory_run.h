#pragma once
// One inventory run: the uninstall entries of both registry views become
// application records, which are analysed, sorted and written as the payload
// file, the XML document and the HTML report into the data folder.

#include <cstddef>
#include <string>
#include <vector>

#include "common/pending_messages.h"

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
    // Each kept record as it is rendered, in the payload file's order, with
    // its chosen version (empty when it has none).
    virtual void RecordRendered(const TApp& app, const std::wstring& chosenVersion) {
        (void)app;
        (void)chosenVersion;
    }
};

// Runs the inventory and returns the payload file's full path. Errors (a data
// folder that is gone, a full disk) pass to the caller; no path is returned
// for a payload file that was not written whole. counters, when given,
// receives the two counts of the report; observer, when given, is told of
// every entry and record.
std::wstring RunInventory(RunCounters* counters = nullptr, RunObserver* observer = nullptr);

// The subkey names of the uninstall key in the process's own view or in the
// 64-bit view, sorted case-insensitively by the user's locale; an uninstall
// key that cannot be opened gives none.
int GetUninstallKeyNames(std::vector<std::wstring>& names);
int GetUninstallKeyNames64(std::vector<std::wstring>& names);

}  // namespace kelvra
