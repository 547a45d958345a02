#include "shell/scan_run.h"

#include <optional>
#include <vector>

#include "account/newaccount.h"
#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/paths.h"
#include "common/pending_messages.h"
#include "common/scope.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "common/textutil.h"
#include "common/utf8.h"
#include "http/service_address.h"
#include "http/transport.h"
#include "shell/main.h"
#include "shell/runfiles.h"
#include "shell/scan_diff.h"
#include "shell/upload.h"
#include "shell/version.h"
#include "versions/directversion.h"

namespace kelvra {
namespace {

// A folder given with a "/" at its end has its separator already. (The
// options refuse an empty folder.)
std::wstring DataFolderFromOption(const std::wstring& folder) {
    return folder.ends_with(L'/') ? folder : IncludeTrailingBackslash(folder);
}

// The JSON document's file, under a temporary name beside it until the
// document is whole, as the run files are: a run that fails or is killed
// leaves the last good report as it was.
class JsonFile : public ScanJsonSink {
  public:
    explicit JsonFile(const std::wstring& target) : file_(target) {}
    void Write(std::string_view bytes) override {
        if (failed_) return;
        try {
            file_.Write(bytes);
        } catch (const FileError&) {
            failed_ = true;
        }
    }
    bool Finish() override {
        if (failed_) return false;
        try {
            file_.Commit();
            return true;
        } catch (const FileError&) {
            return false;
        }
    }

  private:
    PendingFile file_;
    bool failed_ = false;
};

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

// kvscan's process-wide hooks, each installed here for the length of one
// scan and the one before put back at its end, in reverse order: the one
// place where kvscan installs hooks. The direct reads and the service
// address are read before they are set, since their setters do not yet
// return what they replace.
class ScanHooks {
  public:
    ScanHooks(const ScanOptions& options, ScanConsole& console, RunRecorder& recorder) {
        // The tray program serves its window messages during a run; the
        // scanner does the same, so that a run costs here what it costs
        // there. A console program has no windows, so nothing ever arrives.
        Install(SetPendingMessagePump, PendingMessagePump([&console] { console.ServeMessages(); }));
        if (options.systemVersionReads) Install(SetDirectVersionReads, false);
        if (options.timings) Install(SetRunRecorder, &recorder);
        if (options.service) {
            // The setter takes a view and returns the text it replaced.
            restore_.push_back([before = SetServiceBaseAddress(*options.service)] {
                SetServiceBaseAddress(before);
            });
        }
    }
    ~ScanHooks() {
        while (!restore_.empty()) {
            restore_.back()();
            restore_.pop_back();
        }
    }
    ScanHooks(const ScanHooks&) = delete;
    ScanHooks& operator=(const ScanHooks&) = delete;

    // --show-upload: the network replaced until the scan ends.
    std::shared_ptr<CapturingTransport> CaptureUploads() {
        auto capture = std::make_shared<CapturingTransport>();
        Install(SetHttpTransport, std::shared_ptr<HttpTransport>(capture));
        return capture;
    }

  private:
    template <typename Value>
    void Install(Value (*set)(Value), Value value) {
        restore_.push_back(
            [set, before = set(std::move(value))]() mutable { set(std::move(before)); });
    }
    std::vector<std::function<void()>> restore_;
};

// --show-upload: the upload's own code, with the capturing transport in
// place of the network; then the request it was handed, line by line. The
// request is printed also with --quiet: it is what was asked for.
int ShowUpload(const std::wstring& payload, const UploadAccount& account, ScanHooks& hooks,
               ScanConsole& console) {
    const std::shared_ptr<CapturingTransport> capture = hooks.CaptureUploads();
    if (!UploadInventory(payload, account).sent) {
        console.Error(L"kvscan: not uploaded: no payload file\n");
        return kScanFailed;
    }
    if (capture->posts.size() != 1) {
        console.Error(L"kvscan: the upload made no request to show\n");
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
    console.Say(text);
    return kScanOk;
}

// One scan, step by step.
class Scan {
  public:
    Scan(const ScanOptions& options, ScanConsole& console)
        : options_(options), console_(console), hooks_(options, console, recorder_) {}

    bool OpenJson();
    void Run(const std::optional<ScanRecords>& previous);
    bool EndJson();
    void Summarise();
    int Upload();

  private:
    void Say(const std::wstring& text) {
        if (!options_.quiet) console_.Say(text);
    }

    const ScanOptions& options_;
    ScanConsole& console_;
    RunRecorder recorder_;
    ScanHooks hooks_;
    std::unique_ptr<ScanJsonSink> sink_;
    std::optional<ScanJsonWriter> json_;
    std::optional<ScanObserver> observer_;
    std::optional<ScanChanges> changes_;
    std::wstring payload_;
};

bool Scan::OpenJson() {
    if (!options_.json) return true;
    if (*options_.json == L"-") {
        sink_ = console_.StandardOutputJson();
    } else {
        try {
            sink_ = std::make_unique<JsonFile>(*options_.json);
        } catch (const FileError&) {
            console_.Error(L"kvscan: cannot create " + *options_.json + L"\n");
            return false;
        }
    }
    json_.emplace([this](std::string_view bytes) { sink_->Write(bytes); });
    json_->Begin({GetComputerNameText(), GetUserNameText(), AccountProfile, kAppVersion,
                  console_.UtcNow(), IsRunningOnWow64(), options_.scope,
                  options_.likeAppsAndFeatures});
    return true;
}

void Scan::Run(const std::optional<ScanRecords>& previous) {
    recorder_.SetMemoryProbe(console_.MemoryProbe());
    ScanObserver::ProgressSink progress;
    if (!options_.quiet) progress = [this](const ScanProgress& now) { console_.Progress(now); };
    observer_.emplace(json_ ? &*json_ : nullptr, progress, options_.likeAppsAndFeatures);
    if (previous) observer_->KeepForDiff();
    {
        const ScopeExit endProgress([this] { console_.EndProgress(); });
        payload_ = RunInventory(ScanPlan(options_), nullptr,
                                ReportsRecords(options_) ? &*observer_ : nullptr);
    }
    if (options_.timings) {
        SetRunRecorder(nullptr);
        WriteFileBytes(*options_.timings,
                       FormatRunTimings(recorder_.timings()) + console_.PeakMemoryLines());
    }
    if (previous)
        changes_ = CompareScans(*previous, {ScopesOf(options_.scope), observer_->KeptForDiff()});
}

bool Scan::EndJson() {
    if (!json_) return true;
    ScanSummary& summary = observer_->summary();
    if (!payload_.empty()) {
        summary.payloadFile = payload_;
        summary.xmlFile = ChangeFileExt(payload_, L".xml");
        summary.htmlFile = ChangeFileExt(payload_, L".html");
    }
    json_->End(summary, changes_ ? ChangesJson(*changes_, WideToUtf8(*options_.diff)) : "");
    if (sink_->Finish()) return true;
    console_.Error(L"kvscan: cannot write the whole JSON document to " + *options_.json + L"\n");
    return false;
}

// The counters are those of the records reported; for the machine's scope
// alone they are the run files' own.
void Scan::Summarise() {
    if (options_.quiet) return;
    const ScanSummary& summary = observer_->summary();
    Say(L"Payload: " + (payload_.empty() ? L"none" : VisibleControls(payload_)) + L"\n");
    Say(L"OK: " + std::to_wstring(summary.ok) + L"\n");
    Say(L"ERROR: " + std::to_wstring(summary.error) + L"\n");
    Say(observer_->FindingsText());
    if (changes_) Say(ChangesText(*changes_, *options_.diff));
}

// The tray program's upload after its run, with the values of the options
// where given. Like the tray program, it sends nothing for account values
// that do not pass the local check.
int Scan::Upload() {
    const UploadAccount account{options_.user.value_or(AccountUsername),
                                options_.password.value_or(AccountPassword), AccountProfile};
    std::wstring message;
    if (!TestAccount(false, account.username, account.password, account.profile, message)) {
        console_.Error(L"kvscan: not uploaded: " + message + L"\n");
        return kScanFailed;
    }
    const std::wstring address = ServiceAddress(kUploadPath);
    if (options_.showUpload) return ShowUpload(payload_, account, hooks_, console_);
    const UploadResult result = UploadInventory(payload_, account);
    if (!result.sent) {
        console_.Error(L"kvscan: not uploaded: no payload file\n");
        return kScanFailed;
    }
    if (result.answer.empty()) {
        Say(L"Upload: no answer from " + address + L"\n");
        return kScanNoAnswer;
    }
    Say(L"Upload: answered by " + address + L"\n");
    // The service's text goes to a terminal: its control characters are
    // written out.
    Say(L"Answer: " + VisibleControls(result.answer) + L"\n");
    return kScanOk;
}

// The earlier document is read before the run: a wrong one costs no run.
std::optional<ScanRecords> ReadPrevious(const std::wstring& path, ScanConsole& console) {
    std::string error;
    std::optional<ScanRecords> previous = ReadScanDocument(path, error);
    if (!previous)
        console.Error(L"kvscan: --diff " + VisibleControls(path) + L": " +
                      VisibleControls(Utf8ToWide(error)) + L"\n");
    return previous;
}

}  // namespace

bool ReportsRecords(const ScanOptions& options) {
    return options.json || options.diff || options.likeAppsAndFeatures || !options.quiet;
}

RunPlan ScanPlan(const ScanOptions& options) {
    RunPlan plan;
    plan.machine = options.scope != ScanScope::User;
    plan.user = options.scope != ScanScope::Machine;
    plan.runFiles = WritesRunFiles(options);
    plan.entryFacts = ReportsRecords(options);
    // An admin's snapshot is fresh unless asked otherwise.
    plan.versionReads = options.incremental ? VersionMemoryUse::Incremental : VersionMemoryUse::Off;
    return plan;
}

int RunScan(const ScanOptions& options, ScanConsole& console) {
    const std::wstring folder = options.dataDir ? DataFolderFromOption(*options.dataDir)
                                                : DataFolderOf(GetLocalAppDataDir());
    if (!OpenDataFolder(folder)) {
        console.Error(L"kvscan: cannot create the data folder " + AppDataDir + L"\n");
        return kScanFailed;
    }
    if (options.profile) AccountProfile = *options.profile;
    std::optional<ScanRecords> previous;
    if (options.diff && !(previous = ReadPrevious(*options.diff, console))) return kScanUsage;
    Scan scan(options, console);
    if (!scan.OpenJson()) return kScanFailed;
    scan.Run(previous);
    if (!scan.EndJson()) return kScanFailed;
    scan.Summarise();
    return options.upload || options.showUpload ? scan.Upload() : kScanOk;
}

}  // namespace kelvra
