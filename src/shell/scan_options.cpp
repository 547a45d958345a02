#include "shell/scan_options.h"

#include "http/service_address.h"

namespace kelvra {

bool WritesRunFiles(const ScanOptions& options) {
    return options.scope == ScanScope::Machine || options.runFiles || options.upload ||
           options.showUpload;
}

ScanOptionsResult ParseScanOptions(const std::vector<std::wstring>& args) {
    ScanOptionsResult result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        auto value = [&]() -> std::optional<std::wstring> {
            if (i + 1 >= args.size()) {
                result.error = arg + L" needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            result.options.help = true;
        } else if (arg == L"--data-dir") {
            result.options.dataDir = value();
        } else if (arg == L"--profile") {
            result.options.profile = value();
        } else if (arg == L"--upload") {
            result.options.upload = true;
        } else if (arg == L"--show-upload") {
            result.options.showUpload = true;
        } else if (arg == L"--service") {
            result.options.service = value();
        } else if (arg == L"--user") {
            result.options.user = value();
        } else if (arg == L"--password") {
            result.options.password = value();
        } else if (arg == L"--timings") {
            result.options.timings = value();
        } else if (arg == L"--json") {
            result.options.json = value();
        } else if (arg == L"--quiet" || arg == L"-q") {
            result.options.quiet = true;
        } else if (arg == L"--scope") {
            const std::optional<std::wstring> scope = value();
            if (scope == L"machine")
                result.options.scope = ScanScope::Machine;
            else if (scope == L"user")
                result.options.scope = ScanScope::User;
            else if (scope == L"all")
                result.options.scope = ScanScope::All;
            else if (scope)
                result.error = L"--scope needs machine, user or all";
        } else if (arg == L"--run-files") {
            result.options.runFiles = true;
        } else if (arg == L"--diff") {
            result.options.diff = value();
        } else if (arg == L"--like-apps-and-features") {
            result.options.likeAppsAndFeatures = true;
        } else if (arg == L"--incremental") {
            result.options.incremental = true;
        } else if (arg == L"--system-version-reads") {
            result.options.systemVersionReads = true;
        } else {
            result.error = L"unknown argument: " + arg;
        }
        if (!result.error.empty()) return result;
    }
    const ScanOptions& options = result.options;
    if (options.dataDir && options.dataDir->empty())
        result.error = L"--data-dir needs a folder";
    else if (options.timings && options.timings->empty())
        result.error = L"--timings needs a file";
    else if (options.diff && options.diff->empty())
        result.error = L"--diff needs an earlier JSON document of kvscan's";
    else if (options.json && options.json->empty())
        result.error = L"--json needs a file, or - for standard output";
    else if (options.user && options.user->empty())
        result.error = L"--user needs a name";
    else if (options.upload && options.showUpload)
        result.error = L"--show-upload sends nothing: not with --upload";
    else if (!options.upload && !options.showUpload &&
             (options.service || options.user || options.password))
        result.error = L"--service, --user and --password only go with --upload or --show-upload";
    else if (options.service && !IsServiceBaseAddress(*options.service))
        result.error = L"--service needs an http:// or https:// address without a path";
    return result;
}

std::wstring ScanUsage() {
    return L"Usage: kvscan [--data-dir DIR] [--profile NAME] [--json FILE|-] [--quiet]\n"
           L"              [--scope machine|user|all] [--run-files] [--like-apps-and-features]\n"
           L"              [--diff PREVIOUS.json] [--incremental]\n"
           L"              [--timings FILE] [--upload|--show-upload [--service URL]\n"
           L"              [--user NAME] [--password TEXT]] [--help]\n"
           L"Takes one inventory of the installed software, exactly as the tray program\n"
           L"does, writes the payload, XML and HTML files into the data folder and prints\n"
           L"the payload file's path, the two counters and what it found amiss: entries\n"
           L"whose version disagrees with their executable's, and entries whose\n"
           L"uninstaller or install folder is gone.\n"
           L"  --data-dir DIR   data folder (created if missing); settings.ini is read there\n"
           L"                   and the run files are written there. Default: the user's\n"
           L"                   local application data folder + Kelvra\\\n"
           L"  --profile NAME   profile name for this run instead of the settings' one\n"
           L"  --scope machine|user|all\n"
           L"                   whose uninstall entries to report: the machine's (default,\n"
           L"                   as the tray program), the current user's own installs\n"
           L"                   (HKEY_CURRENT_USER), or both, each once per scope\n"
           L"  --run-files      with --scope user or all, still write the payload, XML and\n"
           L"                   HTML files; they always hold the machine's entries alone\n"
           L"  --diff PREVIOUS.json\n"
           L"                   compare with an earlier --json document: applications\n"
           L"                   added and removed, versions up or down, findings that\n"
           L"                   appeared or went away (exit 2 for a document that is not\n"
           L"                   kvscan's or of another schema version)\n"
           L"  --like-apps-and-features\n"
           L"                   report only the records that Windows' own list of\n"
           L"                   installed programs shows (the run files keep them all)\n"
           L"  --incremental    read only the executables that are new or changed since the\n"
           L"                   last such run (by path, size and times), as the tray\n"
           L"                   program's hourly run does, and remember the reads in the\n"
           L"                   data folder (version-reads.cache); every executable is\n"
           L"                   still read once a day. Without it every one is read and\n"
           L"                   nothing is remembered\n"
           L"  --upload         after the run, post the payload to the account service with\n"
           L"                   the account values of the settings, as the tray program\n"
           L"                   does, and print whether the service answered\n"
           L"  --show-upload    print the request --upload would post (request line,\n"
           L"                   headers, body with the payload file's full path and its\n"
           L"                   lines) with the passwords as ********, and send nothing;\n"
           L"                   takes --service, --user and --password as --upload does\n"
           L"  --service URL    the service's base address for this run, such as\n"
           L"                   http://127.0.0.1:8080 (scheme, host, port; no path)\n"
           L"  --user NAME      account user name for the upload instead of the settings' one\n"
           L"  --password TEXT  account password for the upload instead of the settings' one\n"
           L"  --json FILE      also write the whole inventory as one JSON document to FILE\n"
           L"                   (- for standard output; the other lines then go to standard\n"
           L"                   error): every record with all its candidates and why each\n"
           L"                   lost, the entries left out and why, and the findings\n"
           L"  --quiet, -q      print nothing but errors (and the JSON document of --json -)\n"
           L"  --timings FILE   for benchmarks: measure where the run's time goes (stage\n"
           L"                   times, longest stretch between two servings of window\n"
           L"                   messages, counts, peak memory) and write it to FILE\n"
           L"  --help           this text\n"
           L"Exit codes: 0 done, 1 the run failed or the account values cannot be uploaded,\n"
           L"2 wrong arguments, 3 the service gave no answer to the upload.\n";
}

}  // namespace kelvra
