#include "shell/scan_options.h"

#include <array>

#include "http/service_address.h"

namespace kelvra {
namespace {

// One option of the command line: the names it is given by, the value it
// takes (empty: none), what it sets, and its lines of the usage (none: left
// out of the usage, as --system-version-reads).
struct ScanOption {
    std::array<std::wstring_view, 3> names;  // the first is the one the usage shows
    std::wstring_view value;
    void (*apply)(ScanOptions& options, std::wstring&& value, std::wstring& error);
    std::wstring_view usage;
    std::wstring_view shownAs = {};  // the usage's name, when not the first name and value
};

// In the order of the usage.
const ScanOption kOptions[] = {
    {{L"--data-dir"},
     L"DIR",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.dataDir = v; },
     L"data folder (created if missing); settings.ini is read there\n"
     L"and the run files are written there. Default: the user's\n"
     L"local application data folder + Kelvra\\"},
    {{L"--profile"},
     L"NAME",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.profile = v; },
     L"profile name for this run instead of the settings' one"},
    {{L"--scope"},
     L"machine|user|all",
     [](ScanOptions& o, std::wstring&& v, std::wstring& error) {
         const std::optional<ScanScope> scope = ScopeNamed(v);
         if (scope)
             o.scope = *scope;
         else
             error = L"--scope needs machine, user or all";
     },
     L"whose uninstall entries to report: the machine's (default,\n"
     L"as the tray program), the current user's own installs\n"
     L"(HKEY_CURRENT_USER), or both, each once per scope"},
    {{L"--run-files"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.runFiles = true; },
     L"with --scope user or all, still write the payload, XML and\n"
     L"HTML files; they always hold the machine's entries alone"},
    {{L"--diff"},
     L"PREVIOUS.json",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.diff = v; },
     L"compare with an earlier --json document: applications\n"
     L"added and removed, versions up or down, findings that\n"
     L"appeared or went away (exit 2 for a document that is not\n"
     L"kvscan's or of another schema version)"},
    {{L"--like-apps-and-features"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.likeAppsAndFeatures = true; },
     L"report only the records that Windows' own list of\n"
     L"installed programs shows (the run files keep them all)"},
    {{L"--incremental"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.incremental = true; },
     L"read only the executables that are new or changed since the\n"
     L"last such run (by path, size and times), as the tray\n"
     L"program's hourly run does, and remember the reads in the\n"
     L"data folder (version-reads.cache); every executable is\n"
     L"still read once a day. Without it every one is read and\n"
     L"nothing is remembered"},
    {{L"--upload"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.upload = true; },
     L"after the run, post the payload to the account service with\n"
     L"the account values of the settings, as the tray program\n"
     L"does, and print whether the service answered"},
    {{L"--show-upload"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.showUpload = true; },
     L"print the request --upload would post (request line,\n"
     L"headers, body with the payload file's full path and its\n"
     L"lines) with the passwords as ********, and send nothing;\n"
     L"takes --service, --user and --password as --upload does"},
    {{L"--service"},
     L"URL",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.service = v; },
     L"the service's base address for this run, such as\n"
     L"http://127.0.0.1:8080 (scheme, host, port; no path)"},
    {{L"--user"},
     L"NAME",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.user = v; },
     L"account user name for the upload instead of the settings' one"},
    {{L"--password"},
     L"TEXT",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.password = v; },
     L"account password for the upload instead of the settings' one"},
    {{L"--json"},
     L"FILE",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.json = v; },
     L"also write the whole inventory as one JSON document to FILE\n"
     L"(- for standard output; the other lines then go to standard\n"
     L"error): every record with all its candidates and why each\n"
     L"lost, the entries left out and why, and the findings"},
    {{L"--quiet", L"-q"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.quiet = true; },
     L"print nothing but errors (and the JSON document of --json -)",
     L"--quiet, -q"},
    {{L"--timings"},
     L"FILE",
     [](ScanOptions& o, std::wstring&& v, std::wstring&) { o.timings = v; },
     L"for benchmarks: measure where the run's time goes (stage\n"
     L"times, longest stretch between two servings of window\n"
     L"messages, counts, peak memory) and write it to FILE"},
    {{L"--help", L"-h", L"/?"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.help = true; },
     L"this text"},
    // Every version block through the system's calls, as the benchmark's
    // yardstick.
    {{L"--system-version-reads"},
     {},
     [](ScanOptions& o, std::wstring&&, std::wstring&) { o.systemVersionReads = true; },
     {}},
};

const ScanOption* OptionNamed(std::wstring_view arg) {
    for (const ScanOption& option : kOptions)
        for (const std::wstring_view name : option.names)
            if (!name.empty() && name == arg) return &option;
    return nullptr;
}

// The values an option takes alone, and those that only go together.
std::wstring Contradiction(const ScanOptions& options) {
    if (options.dataDir && options.dataDir->empty()) return L"--data-dir needs a folder";
    if (options.timings && options.timings->empty()) return L"--timings needs a file";
    if (options.diff && options.diff->empty())
        return L"--diff needs an earlier JSON document of kvscan's";
    if (options.json && options.json->empty())
        return L"--json needs a file, or - for standard output";
    if (options.user && options.user->empty()) return L"--user needs a name";
    if (options.upload && options.showUpload)
        return L"--show-upload sends nothing: not with --upload";
    if (!options.upload && !options.showUpload &&
        (options.service || options.user || options.password))
        return L"--service, --user and --password only go with --upload or --show-upload";
    if (options.service && !IsServiceBaseAddress(*options.service))
        return L"--service needs an http:// or https:// address without a path";
    return {};
}

}  // namespace

std::string_view ScopeName(ScanScope scope) {
    switch (scope) {
        case ScanScope::User: return "user";
        case ScanScope::All: return "all";
        case ScanScope::Machine: break;
    }
    return "machine";
}

std::optional<ScanScope> ScopeNamed(std::wstring_view name) {
    for (const ScanScope scope : {ScanScope::Machine, ScanScope::User, ScanScope::All})
        if (std::wstring(ScopeName(scope).begin(), ScopeName(scope).end()) == name) return scope;
    return std::nullopt;
}

bool WritesRunFiles(const ScanOptions& options) {
    return options.scope == ScanScope::Machine || options.runFiles || options.upload ||
           options.showUpload;
}

ScanOptionsResult ParseScanOptions(const std::vector<std::wstring>& args) {
    ScanOptionsResult result;
    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        const ScanOption* option = OptionNamed(args[i]);
        if (!option) {
            result.error = L"unknown argument: " + args[i];
        } else if (option->value.empty()) {
            option->apply(result.options, {}, result.error);
        } else if (i + 1 >= args.size()) {
            result.error = args[i] + L" needs a value";
        } else {
            std::wstring value = args[++i];
            option->apply(result.options, std::move(value), result.error);
        }
    }
    if (result.error.empty()) result.error = Contradiction(result.options);
    return result;
}

std::wstring ScanUsage() {
    std::wstring usage =
        L"Usage: kvscan [--data-dir DIR] [--profile NAME] [--json FILE|-] [--quiet]\n"
        L"              [--scope machine|user|all] [--run-files] [--like-apps-and-features]\n"
        L"              [--diff PREVIOUS.json] [--incremental]\n"
        L"              [--timings FILE] [--upload|--show-upload [--service URL]\n"
        L"              [--user NAME] [--password TEXT]] [--help]\n"
        L"Takes one inventory of the installed software, exactly as the tray program\n"
        L"does, writes the payload, XML and HTML files into the data folder and prints\n"
        L"the payload file's path, the two counters and what it found amiss: entries\n"
        L"whose version disagrees with their executable's, and entries whose\n"
        L"uninstaller or install folder is gone.\n";
    // Each option's name, then its text in a column of its own; a long name
    // stands on a line of its own above it.
    constexpr std::size_t kColumn = 19;
    for (const ScanOption& option : kOptions) {
        if (option.usage.empty()) continue;
        std::wstring name =
            L"  " + std::wstring(option.shownAs.empty() ? option.names[0] : option.shownAs);
        if (option.shownAs.empty() && !option.value.empty())
            name += L" " + std::wstring(option.value);
        usage += name.size() + 2 <= kColumn ? name + std::wstring(kColumn - name.size(), L' ')
                                            : name + L"\n" + std::wstring(kColumn, L' ');
        for (const wchar_t ch : option.usage)
            usage += ch == L'\n' ? L"\n" + std::wstring(kColumn, L' ') : std::wstring(1, ch);
        usage += L"\n";
    }
    return usage +
           L"Exit codes: 0 done, 1 the run failed or the account values cannot be uploaded,\n"
           L"2 wrong arguments, 3 the service gave no answer to the upload.\n";
}

}  // namespace kelvra
