// kvscan.exe: one inventory run from the console, with the tray program's code.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "common/win32.h"
#include "shell/inventory_run.h"
#include "shell/scan_options.h"
#include "shell/version.h"

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

    RunCounters counters;
    const std::wstring payload = RunInventory(&counters);
    Print(stdout, L"Payload: " + payload + L"\n");
    Print(stdout, L"OK: " + std::to_wstring(counters.ok) + L"\n");
    Print(stdout, L"ERROR: " + std::to_wstring(counters.error) + L"\n");
    return kScanOk;
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
