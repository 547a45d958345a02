// kvscan.exe: one inventory run from the console, with the tray program's
// code (shell/scan_run.h); here the Windows console it prints on.

#include "common/win32.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/helper_process.h"
#include "common/textconv.h"
#include "common/textutil.h"
#include "common/ui_win32.h"
#include "shell/scan_options.h"
#include "shell/scan_run.h"
#include "shell/startup_win32.h"
#include "versions/file_helper.h"

// After common/win32.h, which brings in <windows.h> first.
#include <fcntl.h>
#include <io.h>
#include <psapi.h>

namespace {

using namespace kelvra;

void Print(FILE* stream, const std::wstring& text) {
    const std::string bytes = WideToAnsi(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

bool IsConsole(FILE* stream) {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

// The JSON document on standard output, bytes as written: no CR before each LF.
class StandardOutputJson : public ScanJsonSink {
  public:
    StandardOutputJson() { _setmode(_fileno(stdout), _O_BINARY); }
    void Write(std::string_view bytes) override {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    }
    bool Finish() override { return std::fflush(stdout) == 0 && !std::ferror(stdout); }
};

std::uint64_t WorkingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.WorkingSetSize;
}

// The lines that are not errors go to standard output, or to standard error
// while standard output carries the JSON document. The progress line stands
// on standard error when that is a console: redrawn in place, at most ten
// times a second, since a console is slow to write to; taken off at the end.
class WindowsConsole : public ScanConsole {
  public:
    explicit WindowsConsole(const ScanOptions& options)
        : lines_(options.json && *options.json == L"-" ? stderr : stdout),
          progressShown_(IsConsole(stderr)) {}

    void Say(const std::wstring& text) override { Print(lines_, text); }
    void Error(const std::wstring& text) override { Print(stderr, text); }
    std::unique_ptr<ScanJsonSink> StandardOutputJson() override {
        return std::make_unique<::StandardOutputJson>();
    }
    void Progress(const ScanProgress& progress) override {
        if (!progressShown_) return;
        const ULONGLONG tick = GetTickCount64();
        if (!progress.last && width_ > 0 && tick - lastShown_ < 100) return;
        lastShown_ = tick;
        const std::wstring line = L"kvscan: " + std::to_wstring(progress.entriesRead) + L" of " +
                                  std::to_wstring(progress.entriesTotal) + L" entries read, " +
                                  std::to_wstring(progress.executables) + L" executables";
        Print(stderr,
              L"\r" + line + std::wstring(width_ > line.size() ? width_ - line.size() : 0, L' '));
        width_ = line.size();
    }
    void EndProgress() override {
        if (width_ == 0) return;
        Print(stderr, L"\r" + std::wstring(width_, L' ') + L"\r");
        width_ = 0;
    }
    void ServeMessages() override { PumpWindowMessages(); }
    RunRecorder::MemoryProbe MemoryProbe() override { return &WorkingSetBytes; }
    // The process's peak memory as the system counts it: the largest
    // working set and the largest private commit.
    std::string PeakMemoryLines() override {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return {};
        return "peak_working_set_bytes " + std::to_string(counters.PeakWorkingSetSize) + "\n" +
               "peak_pagefile_bytes " + std::to_string(counters.PeakPagefileUsage) + "\n";
    }
    std::wstring UtcNow() override {
        SYSTEMTIME now{};
        GetSystemTime(&now);
        wchar_t text[32];
        swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond);
        return text;
    }

  private:
    FILE* lines_;
    bool progressShown_;
    ULONGLONG lastShown_ = 0;
    std::size_t width_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    RestrictDllSearchToSystem32();
    // Started by a run of its own as the helper that reads what may crash or
    // hang the run (versions/file_helper.h).
    if (argc == 2 && std::wstring_view(argv[1]) == kHelperArgument)
        return ServeHelperRequests(AnswerFileRequest);
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const ScanOptionsResult parsed = ParseScanOptions(args);
    if (!parsed.error.empty()) {
        Print(stderr, L"kvscan: " + parsed.error + L"\n" + ScanUsage());
        return kScanUsage;
    }
    if (parsed.options.help) {
        Print(stdout, ScanUsage());
        return kScanOk;
    }
    try {
        WindowsConsole console(parsed.options);
        return RunScan(parsed.options, console);
    } catch (const std::exception& error) {
        Print(stderr, L"kvscan: " + VisibleControls(ErrorText(error)) + L"\n");
        return kScanFailed;
    }
}
