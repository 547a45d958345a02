#pragma once
// What kvscan tells an admin about an analysed record beyond its version: the
// executable that stands for the application, and two ways in which an
// uninstall entry misleads the system's list of installed programs. Worked
// out from what the run has already read; the run's own files never show
// them.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/kv_objs.h"

namespace kelvra {

// The executable that stands for the application, with the version that it
// gives. Empty when none does.
struct ChosenExecutable {
    std::wstring path;
    std::wstring version;
};

// The executables that gave version candidates, each once, in the order of
// the candidate list.
std::vector<std::wstring> CandidateExecutables(const TApp& app);

// In this order: the executable of the chosen version when that came from a
// version resource; the executable the entry names as its icon; the one whose
// file name is the display name; the only executable that gave a version.
// Its version is the chosen version when that came from it, else the first
// of its version texts that is not the build tools' placeholder 1.0.0.0 (an
// all-zero version never becomes a candidate).
ChosenExecutable ChooseExecutable(const TApp& app);

// The entry's DisplayVersion and its executable's version differ in the
// major or minor number: the application updated itself without telling
// Windows. Silent when either has no leading number, when the executable
// gives only a placeholder, and for a minor number only one of them states.
struct VersionDisagreement {
    std::wstring registryVersion;
    std::wstring executable;
    std::wstring executableVersion;
};

// The entry's uninstaller or install folder no longer exists: a leftover
// that can no longer be removed through the system's list. An empty text
// stands for what is there or was not looked at. The install folder is the
// one executable discovery already tested; the uninstaller costs one file
// test. Only drive-letter paths are judged: a UNC path (\\host\share\...)
// or a device path (\\.\..., \\?\...) would open a connection to a host
// that the registry entry names, with the credentials of whoever runs the
// scan (an admin, or SYSTEM under a management agent). Windows Installer
// entries (msiexec), commands without an absolute program path, unexpanded
// %variables% and paths in the Windows folder (where a 32-bit program is
// redirected) are not judged either.
struct OrphanedEntry {
    std::wstring missingUninstaller;
    std::wstring missingInstallFolder;
};
// fileExists: the test of the uninstaller's existence, the file system's
// unless a test watches it.
using FileExistsProbe = std::function<bool(const std::wstring& path)>;
std::optional<OrphanedEntry> FindOrphanedEntry(const TApp& app);
std::optional<OrphanedEntry> FindOrphanedEntry(const TApp& app, const FileExistsProbe& fileExists);

// The display name lost characters on its way into the record's short text:
// the code page lacks some of them (they became "?"), or it is longer than
// 255 bytes there. Needs the entry's facts (the name in full); silent
// without them.
struct NameNotRepresentable {
    std::wstring name;       // in full
    std::wstring shortName;  // as the record, and the run files, hold it
};
std::optional<NameNotRepresentable> FindNameNotRepresentable(const TApp& app);

// Whether the system's own list of installed programs would show the entry,
// by the values it hides and groups entries by: a display name of its own,
// an uninstall command, SystemComponent not 1, no ParentKeyName (an update
// or part listed under its parent) and no ReleaseType of an update
// ("Security Update", "Update Rollup", "Hotfix"). Needs the entry's facts;
// true without them.
bool ShownInAppsAndFeatures(const TApp& app);

// Everything above for one record, worked out once, and what executable
// discovery found out on its way: a folder that did not answer in time (its
// executables were not examined), and the executables on which the system's
// own version reader crashed or hung.
struct RecordFindings {
    ChosenExecutable executable;
    std::optional<VersionDisagreement> disagreement;
    std::optional<OrphanedEntry> orphaned;
    std::optional<NameNotRepresentable> nameNotRepresentable;
    std::optional<TApp::UnreachableFolder> folderUnreachable;
    std::vector<TApp::VersionReaderFailure> versionReaderFailures;
};
RecordFindings ExamineRecord(const TApp& app);

// The leading number of a version or of one of its components ("12" of
// "12.4b"); none when it does not begin with a digit. Nine digits at most,
// which no release number reaches. The findings and kvscan's --diff read
// versions by it.
std::optional<long> LeadingNumber(std::wstring_view text);

// The program of an uninstall command: the text up to and including the
// first ".exe" when it is a drive-letter path; empty otherwise (UNC and
// device paths included) and for commands of Windows Installer.
std::wstring UninstallerPath(std::wstring_view uninstallString);

}  // namespace kelvra
