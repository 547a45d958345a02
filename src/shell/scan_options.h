#pragma once
// The command line of kvscan.exe, the console scanner for admins and tests.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

// Whose uninstall entries a scan reports: the machine's (as the tray), the
// current user's own installs, or both.
enum class ScanScope { Machine, User, All };

// The scope as --scope, the JSON document's header and its records name it:
// "machine", "user" or "all".
std::string_view ScopeName(ScanScope scope);
// The scope of that name; none for any other text.
std::optional<ScanScope> ScopeNamed(std::wstring_view name);

struct ScanOptions {
    bool help = false;
    std::optional<std::wstring> dataDir;  // --data-dir DIR
    std::optional<std::wstring> profile;  // --profile NAME
    bool upload = false;                  // --upload
    // --show-upload: print the upload's request, passwords masked; send nothing
    bool showUpload = false;
    std::optional<std::wstring> service;   // --service URL (base address, with --upload)
    std::optional<std::wstring> user;      // --user NAME (with --upload)
    std::optional<std::wstring> password;  // --password TEXT (with --upload)
    std::optional<std::wstring> timings;   // --timings FILE (benchmark: stage times, pumps, memory)
    std::optional<std::wstring> json;      // --json FILE, "-" for standard output
    bool quiet = false;                    // --quiet: errors only
    ScanScope scope = ScanScope::Machine;  // --scope machine|user|all
    // --run-files: the payload, XML and HTML also with --scope user or all
    // (always of the machine's entries alone). See WritesRunFiles.
    bool runFiles = false;
    // --like-apps-and-features: report only the records the system's own
    // list of installed programs shows.
    bool likeAppsAndFeatures = false;
    std::optional<std::wstring> diff;  // --diff PREVIOUS.json
    // --system-version-reads, left out of the usage: every version block
    // through the system's calls, as the benchmark's yardstick.
    bool systemVersionReads = false;
    // --incremental: read only the executables that changed since the last
    // such run, as the tray's hourly run does, and remember them in the data
    // folder. Without it every executable is read and nothing remembered.
    bool incremental = false;
};

struct ScanOptionsResult {
    ScanOptions options;
    std::wstring error;  // not empty: print it and the usage, exit 2
};

// Whether the run writes the payload, XML and HTML files: always for the
// machine's scope, as the tray; otherwise only when asked, by --run-files or
// by --upload (or --show-upload), which posts (or shows) the payload.
bool WritesRunFiles(const ScanOptions& options);

// Reads the arguments after the program name.
ScanOptionsResult ParseScanOptions(const std::vector<std::wstring>& args);

std::wstring ScanUsage();

// Exit codes of kvscan.exe.
inline constexpr int kScanOk = 0;
inline constexpr int kScanFailed = 1;
inline constexpr int kScanUsage = 2;
inline constexpr int kScanNoAnswer = 3;  // --upload: the service gave no answer

}  // namespace kelvra
