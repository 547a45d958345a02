// Executable discovery: from the registry facts of an application to the one
// folder that most likely holds its programs, the executables in it, and the
// version candidates of their version resources.

#include "inventory/discovery.h"

#include <algorithm>
#include <unordered_map>

#include "common/files.h"
#include "common/paths.h"
#include "common/pending_messages.h"
#include "common/run_timings.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "common/textutil.h"
#include "common/tools.h"
#include "inventory/kv_objs.h"
#include "versions/file_helper.h"
#include "versions/fileversion.h"
#include "versions/version_memory.h"

namespace kelvra {
namespace {

constexpr std::wstring_view kExeExtension = L".exe";
constexpr wchar_t kTab = L'\t';
// The tags of the icon executable in the file list: "1" when the folder
// listing did not contain it, "2" when it did. They become the points of its
// candidates, so a file the entry names itself weighs more.
constexpr std::wstring_view kIconNotListed = L"1";
constexpr std::wstring_view kIconListed = L"2";

// What the listings told of each file of the list, by its path.
using FactsByPath = std::unordered_map<std::wstring, FileFacts>;

// Entries name their folders and commands with backslashes; a "/" in them is
// part of a name, as the reports show it.
constexpr PathSeparators kEntrySeparators = PathSeparators::BackslashOrColon;

// Installers and uninstallers tell nothing about the installed version.
void StrikeOutInstallers(std::vector<std::wstring>& list) {
    for (std::wstring& entry : list) {
        const std::wstring name = FileNamePart(entry, kEntrySeparators);
        if (PosText(L"unins", name) > 0 || PosText(L"setup.exe", name) > 0) entry.clear();
    }
}

// Notes that a file or folder of the entry lay on a volume that did not
// answer in time; the first such path is the one the entry is known by.
void NoteUnreachable(TApp& app, const std::wstring& path) {
    if (app.unreachable) return;
    app.unreachable = TApp::UnreachableFolder{path, {}};
    WriteLogFmt(L"Not examined in time: [%s] of [%s]", {path, app.regKeyName.str()});
}

// Whether the folder exists; an unreachable one is noted and counts as
// missing.
bool FolderExists(TApp& app, const std::wstring& folder) {
    const InTime<bool> exists = DirectoryExistsInTime(folder);
    if (!exists.reached) NoteUnreachable(app, folder);
    return exists.value;
}

// Lists the executables of one folder, installers struck out.
void ListExecutables(TApp& app, const std::wstring& folder, std::vector<std::wstring>& list,
                     FactsByPath* facts) {
    CountInRun(RunCount::Listings);
    bool reached = true;
    ListFiles(folder + L"*.exe", true, list, true, kExeExtension, facts, &reached);
    if (!reached) NoteUnreachable(app, folder);
    StrikeOutInstallers(list);
}

// The folder the entry points at, in the order of trust: the install
// location, then the uninstall command's folder, then the text before
// "unwise.exe". Stores the normalised install location back into the record.
std::wstring ChooseFolder(TApp& app) {
    std::wstring folder;
    if (!app.regInstallLocation.empty()) {
        // Stored twice: a 255-byte location loses the added backslash to the
        // cut, and its folder part is then the parent folder.
        app.regInstallLocation = IncludeTrailingBackslash(app.regInstallLocation.str());
        app.regInstallLocation =
            IncludeTrailingBackslash(FolderPart(app.regInstallLocation.str(), kEntrySeparators));
        const std::wstring location = app.regInstallLocation.str();
        app.installLocationFound = FolderExists(app, location);
        if (app.installLocationFound) folder = location;
    }
    // Installers that do not know better name the temporary folder itself.
    if (SameFolder(folder, GetTempDir())) folder.clear();

    const std::wstring uninstall = app.regUninstallString.str();
    if (folder.empty() && !uninstall.empty()) {
        if (PosText(L"msiexec.exe", uninstall) == 0) {
            const std::wstring dir =
                IncludeTrailingBackslash(FolderPart(uninstall, kEntrySeparators));
            if (dir != L"\\" && FolderExists(app, dir)) folder = dir;
        }
        if (folder.empty()) {
            const int unwise = PosText(L"unwise.exe", uninstall);
            if (unwise > 0) folder = uninstall.substr(0, static_cast<std::size_t>(unwise - 1));
        }
    }
    return folder;
}

// Adds the executable that the entry names as its icon, tagged, when it
// exists; the installer and Windows-folder rules do not apply to it. The
// record keeps the icon's program, existing or not.
void AddIconExecutable(TApp& app, std::vector<std::wstring>& list, FactsByPath* facts) {
    const std::wstring icon = app.regDisplayIcon.str();
    const int exe = PosText(L".exe", icon);
    if (exe == 0) return;
    const std::wstring path = icon.substr(0, static_cast<std::size_t>(exe) + 3);
    app.iconExecutable = path;
    // The one look at a file that may lie outside the folder: whether it
    // exists, and its facts with it.
    const InTime<std::optional<FileFacts>> found = FileFactsInTime(path);
    if (!found.reached) NoteUnreachable(app, path);
    const std::optional<FileFacts>& iconFacts = found.value;
    if (!iconFacts) return;
    const std::wstring wanted = LowerAscii(path);
    const auto listed = std::find_if(list.begin(), list.end(), [&](const std::wstring& entry) {
        return LowerAscii(entry) == wanted;
    });
    if (listed != list.end())
        *listed += std::wstring(1, kTab) + std::wstring(kIconListed);
    else {
        list.push_back(path + kTab + std::wstring(kIconNotListed));
        if (facts) facts->insert_or_assign(path, *iconFacts);
    }
}

// What reading the file gives: remembered from an earlier run when its facts
// are the same, otherwise read (and remembered for the next).
FileVersionResult ReadOrRecall(FileVersionReader& reader, const std::wstring& file,
                               const FactsByPath* facts) {
    VersionMemory* const memory = facts ? ActiveVersionMemory() : nullptr;
    const auto known = memory ? facts->find(file) : FactsByPath::const_iterator();
    const bool listed = memory && known != facts->end();
    if (listed)
        if (std::optional<FileVersionResult> recalled = memory->Recall(file, known->second)) {
            CountInRun(RunCount::VersionsRemembered);
            return std::move(*recalled);
        }
    FileVersionResult versions;
    {
        const StageScope stage(RunStage::VersionResources);
        CountInRun(RunCount::VersionReads);
        versions = reader.Read(file);
    }
    if (listed) memory->Remember(file, known->second, versions);
    return versions;
}

void AddFileCandidates(TApp& app, const std::vector<std::wstring>& list, const FactsByPath* facts) {
    const std::shared_ptr<FileVersionReader> reader = CurrentFileVersionReader();
    // Three candidates per file at most, and the display name's after them.
    app.Versions.Reserve(app.Versions.Count() + 3 * list.size() + 1);
    for (const std::wstring& entry : list) {
        if (PosText(L"MsiExec", entry) > 0) continue;
        std::wstring file = entry;
        std::int32_t points = 0;
        if (entry.find(kTab) != std::wstring::npos) {
            const std::vector<std::wstring> fields = SplitText(entry, kTab, 2);
            file = fields[0];
            points = DigitsToInt(fields[1], -1);
        }
        const FileVersionResult versions = ReadOrRecall(*reader, file, facts);
        // A folder of many large executables takes a while; the tray is
        // served in between.
        PumpPendingMessagesIfDue();
        if (versions.failure == VersionReadFailure::Unreachable)
            NoteUnreachable(app, file);
        else if (versions.failure != VersionReadFailure::None)
            app.versionReaderFailures.push_back({file, versions.failure});
        if (!versions.ok) continue;
        app.Versions.AddVersion(versions.fixedVersion, TVersionType::FileVersion1, file, points);
        app.Versions.AddVersion(versions.fileVersionText, TVersionType::FileVersion2, file, points);
        app.Versions.AddVersion(versions.productVersionText, TVersionType::FileVersion3, file,
                                points);
    }
}

}  // namespace

bool SameFolder(std::wstring_view a, std::wstring_view b) {
    return LowerAscii(IncludeTrailingBackslash(a)) == LowerAscii(IncludeTrailingBackslash(b));
}

int ListFiles(std::wstring_view mask, bool fullPaths, std::vector<std::wstring>& list,
              bool nonEmptyOnly, std::wstring_view extension, FactsByPath* facts, bool* reached) {
    list.clear();
    if (facts) facts->clear();
    const std::wstring folder = FolderPart(mask, kEntrySeparators);
    const std::wstring wantedExtension = LowerAscii(extension);
    const InTime<std::vector<DirEntry>> entries = FindEntriesInTime(std::wstring(mask));
    if (reached) *reached = entries.reached;
    for (const DirEntry& entry : entries.value) {
        if (entry.isDirectory) continue;
        if (nonEmptyOnly && entry.size == 0) continue;
        // The system's wildcards also match short 8.3 aliases and treat
        // "*.exe" loosely, so "app.exe1" or "app.exe.bak" can come back.
        if (!extension.empty() &&
            LowerAscii(ExtensionPart(entry.name, kEntrySeparators)) != wantedExtension)
            continue;
        list.push_back(fullPaths ? folder + entry.name : entry.name);
        if (facts) facts->insert_or_assign(list.back(), entry.facts());
    }
    std::stable_sort(list.begin(), list.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareTextLocale(a, b) < 0;
    });
    return static_cast<int>(list.size());
}

void RemoveEmptyEntries(std::vector<std::wstring>& list) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const std::wstring& entry) { return entry.empty(); }),
               list.end());
}

void TApp::FindExecutables() {
    BeginEntryFileWork();
    std::vector<std::wstring> list;
    // Only a run that remembers its reads needs the listings' facts.
    FactsByPath factsByPath;
    FactsByPath* const facts = ActiveVersionMemory() ? &factsByPath : nullptr;
    std::wstring folder;
    {
        const StageScope stage(RunStage::Folders);
        folder = ChooseFolder(*this);

        // Applications that live in the Windows folder are parts of the system.
        if (!folder.empty() && InWindowsFolder(folder)) folder.clear();

        if (!folder.empty()) {
            ListExecutables(*this, folder, list, facts);
            // A "bin" folder holds the real programs; what lies beside it is
            // usually a launcher or tools. Its list replaces the first one.
            if (FolderExists(*this, folder + L"bin\\"))
                ListExecutables(*this, folder + L"bin\\", list, facts);
            AddIconExecutable(*this, list, facts);
            RemoveEmptyEntries(list);
        }
    }
    if (!folder.empty()) {
        if (PosText(L"Itunes", regDisplayName.str()) > 0) WriteLog(L"aa");
        AddFileCandidates(*this, list, facts);
    }
    executablePath = folder;
    if (unreachable) unreachable->waited = EntryFileWorkWaited();
}

}  // namespace kelvra
