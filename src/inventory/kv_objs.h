#pragma once
// The application records of an inventory run: one TApp per entry of the
// machine's uninstall key, read through a registry accessor and kept or
// rejected by a first filter, and the key the run sorts them by
// (shell/inventory_run.cpp renders each record as soon as it is analysed and
// holds only its place and key). Also the small registry and text helpers
// the inventory is built from.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/registry.h"
#include "common/shorttext.h"
#include "versions/file_helper.h"
#include "versions/vertools.h"

namespace kelvra {

// The uninstall key below HKEY_LOCAL_MACHINE, in both registry views.
inline constexpr std::wstring_view kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Why ReadFromRegistry turned an entry away.
enum class EntryExclusion : std::uint8_t {
    None,           // kept
    KeyUnreadable,  // the key could not be opened
    Update,         // a hotfix or update: the display name contains "(KB"
    OfficePart,     // a part of the office suite: it begins with "Microsoft Office "
};

// What kvscan's report shows of an entry beyond the record: the values the
// system's own list of installed programs ("Apps & features") hides or
// groups entries by, and the entry's texts before the reduction to short
// texts. Read only when a record carries a TApp::facts to fill; the tray's
// run reads none of it.
struct EntryFacts {
    // As ReadRegText reads them (double quotes removed, trimmed), in full:
    // the registry's UTF-16, neither reduced to the code page nor cut to 255
    // bytes. displayName is "(" + the key's name + ")" when the entry has
    // none, as for the record; hasDisplayName tells the two apart.
    std::wstring displayName, publisher, displayVersion, installLocation;
    bool hasDisplayName = false;
    bool hasUninstallString = false;
    // Numbers: a REG_DWORD, or a REG_SZ of digits. Absent when the value is.
    std::optional<std::uint32_t> systemComponent, windowsInstaller, estimatedSize;
    std::optional<std::wstring> parentKeyName, releaseType, installDate;
    // The names of the values above that are there but cannot be read as
    // what they are meant to be (a number as binary, a text as a number):
    // those read as absent.
    std::vector<std::wstring> unreadable;
};

// One installed application, as one subkey of the uninstall key describes it.
// Every text field is a short text: at most 255 bytes in the ANSI code page,
// and every later step sees the values in that reduced form.
class TApp {
  public:
    // registryPath: the key below HKEY_LOCAL_MACHINE (the uninstall key, a
    // backslash and keyName); keyName: the subkey's own name.
    TApp(std::wstring_view registryPath, std::wstring_view keyName);
    TApp(const TApp&) = delete;
    TApp& operator=(const TApp&) = delete;

    // Reads the four texts of the entry and its "registry" version
    // candidates (DisplayVersion, then VersionMajor.VersionMinor), and applies
    // the first filter: false for a key that cannot be opened, a hotfix or
    // update (the display name contains "(KB") and the parts of an office
    // suite (it begins with "Microsoft Office "). Leaves no key open.
    bool ReadFromRegistry(RegistryAccessor& registry);

    // Completes a kept record, once: its executables and their file
    // versions, then niceName with the version the display name carries,
    // then the pruning chain (inventory/nicename.cpp).
    void Process();
    // The program folder (executablePath) and the file-version candidates
    // of its executables (inventory/discovery.cpp).
    void FindExecutables();
    // niceName, and the "entryName" candidate the display name carries.
    void MakeNiceName();

    TVersions Versions;
    ShortText RegistryPath;
    ShortText regKeyName;
    ShortText regDisplayName;  // "(" + key name + ")" when the entry has none
    ShortText regDisplayIcon;
    ShortText regUninstallString;
    ShortText regInstallLocation;
    ShortText executablePath;  // the folder whose executables were examined
    ShortText niceName;        // the display name the reports use

    // Facts the run's files do not show but kvscan's report does.
    EntryExclusion exclusion = EntryExclusion::None;  // set by ReadFromRegistry
    RegistryView view = RegistryView::Own;            // the registry view it was read in
    // The hive: the machine's, or the current user's own installs.
    RegistryRoot root = RegistryRoot::LocalMachine;
    // Whether regInstallLocation named an existing folder when the
    // executables were looked for (FindExecutables).
    bool installLocationFound = false;
    // The DisplayVersion candidate's index in Versions, when the value gave
    // one (ReadFromRegistry).
    std::optional<std::size_t> displayVersionIndex;
    // The program the icon names, up to ".exe", when executable discovery
    // looked at it; it need not exist.
    std::wstring iconExecutable;
    // A file or folder of the entry whose volume did not answer in time
    // (versions/file_helper.h), and how long the entry waited on such
    // volumes in all; its executables then count as unreachable.
    struct UnreachableFolder {
        std::wstring path;
        std::chrono::milliseconds waited{0};
    };
    std::optional<UnreachableFolder> unreachable;
    // The executables on which the system's version reader failed.
    struct VersionReaderFailure {
        std::wstring path;
        VersionReadFailure failure = VersionReadFailure::None;
    };
    std::vector<VersionReaderFailure> versionReaderFailures;
    // Filled by ReadFromRegistry when set before it: kvscan's report only.
    std::unique_ptr<EntryFacts> facts;

  private:
    // The path as given, used to open the key, when RegistryPath does not
    // hold it whole: RegistryPath is reduced to the code page and to 255
    // bytes, which for a long key name or one with characters outside the
    // code page names no key, or another one. Empty otherwise.
    std::wstring keyPath_;
};

// What the run orders a record by: its niceName, a TAB, and the niceName
// again (the design's sorted list kept the text a record was added with
// after the TAB).
std::wstring NiceNameSortKey(const TApp& app);
// The order of two such keys: case-insensitive, by the user's locale.
bool NiceNameKeyLess(std::wstring_view a, std::wstring_view b);

// ---- registry helpers, on the accessor's open key -----------------------------

// The text value exactly as stored (expandable text is not expanded), with
// every double quote removed and trimmed. A missing value, or one that is not
// text, gives empty text; the read is traced in the log.
std::wstring ReadRegText(RegistryAccessor& registry, std::wstring_view name);

// A number: -1 for a missing value; the digits of a REG_SZ (DigitsToInt, -1
// when it has none); the value of a REG_DWORD. Any other type shows the
// error box "<key path> - <name>" and gives -1.
std::int32_t ReadRegNumber(RegistryAccessor& registry, std::wstring_view name);

// ---- text helpers ---------------------------------------------------------------

// The fields of the text between separators, empty ones included; an empty
// text is one empty field. At most maxCount fields (at least one): the rest of
// the text from the separator that would begin the next field is dropped.
std::vector<std::wstring> SplitText(std::wstring_view text, wchar_t separator, int maxCount);

// The first count words, each followed by the separator; trimmed when asked.
// A count beyond the list takes the whole list; 0 or less gives empty text.
std::wstring JoinWords(std::span<const std::wstring> words, int count, wchar_t separator,
                       bool trim);

}  // namespace kelvra
