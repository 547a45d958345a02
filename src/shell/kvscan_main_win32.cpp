// kvscan.exe: one inventory run from the console, with the tray program's code.

#include "common/win32.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "account/newaccount.h"
#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/helper_process.h"
#include "common/paths.h"
#include "common/pending_messages.h"
#include "common/run_timings.h"
#include "common/scope.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "common/textutil.h"
#include "common/ui_win32.h"
#include "common/utf8.h"
#include "http/service_address.h"
#include "http/transport.h"
#include "inventory/findings.h"
#include "inventory/kv_objs.h"
#include "shell/inventory_run.h"
#include "shell/runfiles.h"
#include "shell/scan_diff.h"
#include "shell/scan_options.h"
#include "shell/scan_report.h"
#include "shell/startup_win32.h"
#include "shell/upload.h"
#include "shell/version.h"
#include "versions/directversion.h"
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

// Where the lines that are not errors go: standard output, or standard error
// while standard output carries the JSON document; nowhere with --quiet.
struct Console {
    FILE* stream = stdout;
    bool quiet = false;
    void Say(const std::wstring& text) const {
        if (!quiet) Print(stream, text);
    }
};

bool IsConsole(FILE* stream) {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

std::wstring UtcNowIso8601() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

// The progress line on a console: redrawn in place, at most ten times a
// second, since a console is slow to write to; taken off again at the end.
class ProgressLine {
  public:
    void Show(const ScanProgress& progress) {
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
    void Clear() {
        if (width_ == 0) return;
        Print(stderr, L"\r" + std::wstring(width_, L' ') + L"\r");
        width_ = 0;
    }

  private:
    ULONGLONG lastShown_ = 0;
    std::size_t width_ = 0;
};

// The file (or standard output) the JSON document goes to. A file is written
// under a temporary name beside it and takes the file's name only once the
// document is whole, as the run files do: a run that fails or is killed
// leaves the last good report as it was.
class JsonOutput {
  public:
    // Empty unless the file could be created.
    static std::unique_ptr<JsonOutput> Open(const std::wstring& target) {
        if (target == L"-") {
            // Bytes as written: no CR before each LF.
            _setmode(_fileno(stdout), _O_BINARY);
            return std::unique_ptr<JsonOutput>(new JsonOutput(nullptr));
        }
        try {
            return std::unique_ptr<JsonOutput>(
                new JsonOutput(std::make_unique<PendingFile>(target)));
        } catch (const FileError&) {
            return nullptr;
        }
    }
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    // A write that fails on the file is remembered and reported by Finish.
    void Write(std::string_view bytes) {
        if (!file_) {
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
            return;
        }
        if (failed_) return;
        try {
            file_->Write(bytes);
        } catch (const FileError&) {
            failed_ = true;
        }
    }
    // True when every byte reached standard output, or the whole document
    // took the file's name.
    bool Finish() {
        if (!file_) return std::fflush(stdout) == 0 && !std::ferror(stdout);
        if (failed_) return false;
        try {
            file_->Commit();
            return true;
        } catch (const FileError&) {
            return false;
        }
    }

  private:
    explicit JsonOutput(std::unique_ptr<PendingFile> file) : file_(std::move(file)) {}
    std::unique_ptr<PendingFile> file_;  // none: standard output
    bool failed_ = false;
};

// A folder given with a "/" at its end has its separator already. (The
// options refuse an empty folder.)
std::wstring DataFolderFromOption(const std::wstring& folder) {
    return folder.ends_with(L'/') ? folder : IncludeTrailingBackslash(folder);
}

// Stands in for the network while --show-upload runs the upload: keeps the
// post and sends nothing.
class CapturingTransport : public HttpTransport {
  public:
    HttpAnswer Post(const HttpPost& post) override {
        posts.push_back(post);
        throw HttpError("not sent: --show-upload");
    }
    std::vector<HttpPost> posts;
};

// --show-upload: the upload's own code, with the capturing transport in
// place of the network; then the request it was handed, line by line. The
// request is printed also with --quiet: it is what was asked for.
int ShowUpload(const std::wstring& payload, const UploadAccount& account, const Console& console) {
    const auto capture = std::make_shared<CapturingTransport>();
    std::shared_ptr<HttpTransport> before = SetHttpTransport(capture);
    const ScopeExit restore([&before] { SetHttpTransport(std::move(before)); });
    if (!UploadInventory(payload, account).sent) {
        Print(stderr, L"kvscan: not uploaded: no payload file\n");
        return kScanFailed;
    }
    if (capture->posts.size() != 1) {
        Print(stderr, L"kvscan: the upload made no request to show\n");
        return kScanFailed;
    }
    const HttpPost& post = capture->posts.front();
    std::wstring text = L"Upload: not sent. The request it would post to " +
                        VisibleControls(post.url) + L", passwords as ********:\n";
    // Line by line, as the bytes go; what is no line break of CR LF (an
    // escape character of a registry text above all) is written out.
    const std::string request = ShownUploadRequest(post);
    for (std::size_t at = 0; at < request.size();) {
        std::size_t end = request.find("\r\n", at);
        if (end == std::string::npos) end = request.size();
        text += VisibleControls(AnsiToWide(request.substr(at, end - at))) + L"\n";
        at = end + 2;
    }
    if (post.proxy) {
        text += L"Through the proxy " + VisibleControls(post.proxy->host) + L":" +
                std::to_wstring(post.proxy->port) + L", which gets this request";
        text += post.proxy->username.empty()
                    ? L"; no proxy credentials are configured.\n"
                    : L"; a HEAD of the address asks it first, and only when the proxy "
                      L"refuses that with 407 does the post carry Proxy-Authorization: Basic "
                      L"******** (the user name " +
                          VisibleControls(post.proxy->username) +
                          L" and the proxy password), for the proxy alone.\n";
    }
    Print(console.stream, text);
    return kScanOk;
}

// The tray program's upload after its run, with the values of the options
// where given. Like the tray program, it sends nothing for account values
// that do not pass the local check.
int Upload(const ScanOptions& options, const std::wstring& payload, const Console& console) {
    const UploadAccount account{options.user.value_or(AccountUsername),
                                options.password.value_or(AccountPassword), AccountProfile};
    std::wstring message;
    if (!TestAccount(false, account.username, account.password, account.profile, message)) {
        Print(stderr, L"kvscan: not uploaded: " + message + L"\n");
        return kScanFailed;
    }
    if (options.service) SetServiceBaseAddress(*options.service);
    const std::wstring address = ServiceAddress(kUploadPath);
    if (options.showUpload) return ShowUpload(payload, account, console);
    const UploadResult result = UploadInventory(payload, account);
    if (!result.sent) {
        Print(stderr, L"kvscan: not uploaded: no payload file\n");
        return kScanFailed;
    }
    if (result.answer.empty()) {
        console.Say(L"Upload: no answer from " + address + L"\n");
        return kScanNoAnswer;
    }
    console.Say(L"Upload: answered by " + address + L"\n");
    // The service's text goes to a terminal: its control characters are
    // written out.
    console.Say(L"Answer: " + VisibleControls(result.answer) + L"\n");
    return kScanOk;
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

std::wstring ScopeText(ScanScope scope) {
    switch (scope) {
        case ScanScope::User: return L"user";
        case ScanScope::All: return L"all";
        case ScanScope::Machine: break;
    }
    return L"machine";
}

int Scan(const ScanOptions& options) {
    AppDataDir = options.dataDir ? DataFolderFromOption(*options.dataDir)
                                 : GetLocalAppDataDir() + L"Kelvra\\";
    AppVersion = kAppVersion;
    if (!ForceDirectories(AppDataDir)) {
        Print(stderr, L"kvscan: cannot create the data folder " + AppDataDir + L"\n");
        return kScanFailed;
    }
    SettingsFile = AppDataDir + L"settings.ini";
    LoadSettings();
    if (options.profile) AccountProfile = *options.profile;

    // The earlier document is read before the run: a wrong one costs no run.
    std::optional<ScanRecords> previous;
    if (options.diff) {
        std::string error;
        previous = ReadScanDocument(*options.diff, error);
        if (!previous) {
            Print(stderr, L"kvscan: --diff " + VisibleControls(*options.diff) + L": " +
                              VisibleControls(Utf8ToWide(error)) + L"\n");
            return kScanUsage;
        }
    }

    const bool jsonToStdout = options.json && *options.json == L"-";
    const Console console{jsonToStdout ? stderr : stdout, options.quiet};
    std::unique_ptr<JsonOutput> jsonOutput;
    std::optional<ScanJsonWriter> json;
    if (options.json) {
        jsonOutput = JsonOutput::Open(*options.json);
        if (!jsonOutput) {
            Print(stderr, L"kvscan: cannot create " + *options.json + L"\n");
            return kScanFailed;
        }
        json.emplace([&jsonOutput](std::string_view bytes) { jsonOutput->Write(bytes); });
        json->Begin({GetComputerNameText(), GetUserNameText(), AccountProfile, kAppVersion,
                     UtcNowIso8601(), IsRunningOnWow64(), ScopeText(options.scope),
                     options.likeAppsAndFeatures});
    }

    // The tray program serves its window messages during a run; the scanner
    // does the same, so that a run costs here what it costs there. A console
    // program has no windows, so nothing ever arrives.
    SetPendingMessagePump([] { PumpWindowMessages(); });
    if (options.systemVersionReads) SetDirectVersionReads(false);
    RunRecorder recorder;
    recorder.SetMemoryProbe(&WorkingSetBytes);
    if (options.timings) SetRunRecorder(&recorder);
    ProgressLine progressLine;
    ScanObserver::ProgressSink progress;
    if (!options.quiet && IsConsole(stderr))
        progress = [&progressLine](const ScanProgress& now) { progressLine.Show(now); };
    ScanObserver observer(json ? &*json : nullptr, progress, options.likeAppsAndFeatures);
    if (previous) observer.KeepForDiff();
    RunPlan plan;
    plan.machine = options.scope != ScanScope::User;
    plan.user = options.scope != ScanScope::Machine;
    plan.runFiles = WritesRunFiles(options);
    plan.entryFacts = true;
    // An admin's snapshot is fresh unless asked otherwise.
    plan.versionReads =
        options.incremental ? VersionReadMemory::Incremental : VersionReadMemory::Off;
    RunCounters counters;
    std::wstring payload;
    {
        const ScopeExit clearProgress([&progressLine] { progressLine.Clear(); });
        payload = RunInventory(plan, &counters, &observer);
    }
    if (options.timings) {
        SetRunRecorder(nullptr);
        WriteFileBytes(*options.timings, FormatRunTimings(recorder.timings()) + PeakMemoryLines());
    }
    ScanSummary& summary = observer.summary();
    std::optional<ScanChanges> changes;
    if (previous)
        changes = CompareScans(
            *previous, {ScopesOf(WideToUtf8(ScopeText(options.scope))), observer.KeptForDiff()});
    if (json) {
        if (!payload.empty()) {
            summary.payloadFile = payload;
            summary.xmlFile = ChangeFileExt(payload, L".xml");
            summary.htmlFile = ChangeFileExt(payload, L".html");
        }
        json->End(summary, changes ? ChangesJson(*changes, WideToUtf8(*options.diff)) : "");
        if (!jsonOutput->Finish()) {
            Print(stderr,
                  L"kvscan: cannot write the whole JSON document to " + *options.json + L"\n");
            return kScanFailed;
        }
    }
    // The counters are those of the records reported; for the machine's
    // scope alone they are the run files' own.
    console.Say(L"Payload: " + (payload.empty() ? L"none" : VisibleControls(payload)) + L"\n");
    console.Say(L"OK: " + std::to_wstring(summary.ok) + L"\n");
    console.Say(L"ERROR: " + std::to_wstring(summary.error) + L"\n");
    console.Say(observer.FindingsText());
    if (changes) console.Say(ChangesText(*changes, *options.diff));
    return options.upload || options.showUpload ? Upload(options, payload, console) : kScanOk;
}

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
        return Scan(parsed.options);
    } catch (const std::exception& error) {
        Print(stderr, L"kvscan: " + VisibleControls(ErrorText(error)) + L"\n");
        return kScanFailed;
    }
}
