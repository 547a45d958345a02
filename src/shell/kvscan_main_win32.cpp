// kvscan.exe: one inventory run from the console, with the tray program's code.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "account/newaccount.h"
#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/pending_messages.h"
#include "common/run_timings.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "common/win32.h"
#include "http/service_address.h"
#include "shell/inventory_run.h"
#include "shell/scan_options.h"
#include "shell/upload.h"
#include "shell/version.h"
#include "versions/directversion.h"

#include <psapi.h>

namespace {

using namespace kelvra;

void Print(FILE* stream, const std::wstring& text) {
    const std::string bytes = WideToAnsi(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

std::wstring WithBackslash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
}

// The tray program's upload after its run, with the values of the options
// where given. Like the tray program, it sends nothing for account values
// that do not pass the local check.
int Upload(const ScanOptions& options, const std::wstring& payload) {
    const UploadAccount account{options.user.value_or(AccountUsername),
                                options.password.value_or(AccountPassword), AccountProfile};
    std::wstring message;
    if (!TestAccount(false, account.username, account.password, account.profile, message)) {
        Print(stderr, L"kvscan: not uploaded: " + message + L"\n");
        return kScanFailed;
    }
    if (options.service) SetServiceBaseAddress(*options.service);
    const std::wstring address = ServiceAddress(kUploadPath);
    const UploadResult result = UploadInventory(payload, account);
    if (!result.sent) {
        Print(stderr, L"kvscan: not uploaded: no payload file\n");
        return kScanFailed;
    }
    if (result.answer.empty()) {
        Print(stdout, L"Upload: no answer from " + address + L"\n");
        return kScanNoAnswer;
    }
    Print(stdout, L"Upload: answered by " + address + L"\n");
    Print(stdout, L"Answer: " + result.answer + L"\n");
    return kScanOk;
}

// The tray program serves its window messages during a run; the scanner does
// the same, so that a run costs here what it costs there. A console program
// has no windows, so nothing ever arrives.
void ServePendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::uint64_t WorkingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.WorkingSetSize;
}

// The process's peak memory as the system counts it: the largest working
// set and the largest private commit.
std::string PeakMemoryLines() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return {};
    return "peak_working_set_bytes " + std::to_string(counters.PeakWorkingSetSize) + "\n" +
           "peak_pagefile_bytes " + std::to_string(counters.PeakPagefileUsage) + "\n";
}

int Scan(const ScanOptions& options) {
    AppDataDir = options.dataDir ? WithBackslash(*options.dataDir) : GetLocalAppDataDir() + L"Kelvra\\";
    AppVersion = kAppVersion;
    if (!ForceDirectories(AppDataDir)) {
        Print(stderr, L"kvscan: cannot create the data folder " + AppDataDir + L"\n");
        return kScanFailed;
    }
    SettingsFile = AppDataDir + L"settings.ini";
    LoadSettings();
    if (options.profile) AccountProfile = *options.profile;

    SetPendingMessagePump(&ServePendingMessages);
    if (options.systemVersionReads) SetDirectVersionReads(false);
    RunRecorder recorder;
    recorder.SetMemoryProbe(&WorkingSetBytes);
    if (options.timings) SetRunRecorder(&recorder);
    RunCounters counters;
    const std::wstring payload = RunInventory(&counters);
    if (options.timings) {
        SetRunRecorder(nullptr);
        WriteFileBytes(*options.timings, FormatRunTimings(recorder.timings()) + PeakMemoryLines());
    }
    Print(stdout, L"Payload: " + payload + L"\n");
    Print(stdout, L"OK: " + std::to_wstring(counters.ok) + L"\n");
    Print(stdout, L"ERROR: " + std::to_wstring(counters.error) + L"\n");
    return options.upload ? Upload(options, payload) : kScanOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
        return Scan(parsed.options);
    } catch (const std::exception& error) {
        Print(stderr, L"kvscan: " + ErrorText(error) + L"\n");
        return kScanFailed;
    }
}
