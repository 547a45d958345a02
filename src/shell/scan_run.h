#pragma once
// kvscan's run, free of the console it prints on: the data folder and its
// settings, the earlier document of --diff, the run's plan as the options
// ask it, the run with kvscan's observer, the comparison, the summary and
// the upload. kvscan_main_win32.cpp gives it the Windows console.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/run_timings.h"
#include "shell/inventory_run.h"
#include "shell/scan_options.h"
#include "shell/scan_report.h"

namespace kelvra {

// Where the JSON document goes: a write that fails is remembered and
// reported by Finish.
class ScanJsonSink {
  public:
    virtual ~ScanJsonSink() = default;
    virtual void Write(std::string_view bytes) = 0;
    // True when every byte arrived: the document took its file's name, or
    // reached standard output whole.
    virtual bool Finish() = 0;
};

// What differs by platform, and what a test records.
class ScanConsole {
  public:
    virtual ~ScanConsole() = default;
    // The summary's lines (standard output, or standard error while the
    // JSON document goes to standard output). RunScan leaves them out
    // under --quiet itself.
    virtual void Say(const std::wstring& text) = 0;
    virtual void Error(const std::wstring& text) = 0;  // standard error
    // The JSON document of "--json -".
    virtual std::unique_ptr<ScanJsonSink> StandardOutputJson() = 0;
    // The progress of the reads; Progress is not called under --quiet.
    virtual void Progress(const ScanProgress& progress) = 0;
    virtual void EndProgress() = 0;
    // Serves the window messages during the run, as the tray does.
    virtual void ServeMessages() = 0;
    // --timings: the process's memory now, and its peaks as lines of the file.
    virtual RunRecorder::MemoryProbe MemoryProbe() = 0;
    virtual std::string PeakMemoryLines() = 0;
    virtual std::wstring UtcNow() = 0;  // ISO 8601, for the document's header
};

// What the run reads and shows for the options: the records' report (the
// JSON document, the diff, --like-apps-and-features and the console's
// findings) asks for each entry's facts; without any of them the run reads
// what the tray's run reads.
RunPlan ScanPlan(const ScanOptions& options);
bool ReportsRecords(const ScanOptions& options);

// The whole of a kvscan run after its options are read; its exit code.
// Errors of the run (a full disk) pass to the caller.
int RunScan(const ScanOptions& options, ScanConsole& console);

}  // namespace kelvra
