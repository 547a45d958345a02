#include "inventory/findings.h"

#include <cstddef>
#include <vector>

#include "common/files.h"
#include "common/sysfacts.h"
#include "common/textutil.h"
#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::size_t ChosenIndex(const TVersions& versions) {
    if (versions.ActiveCount() != 1) return kNone;
    for (std::size_t i = 0; i < versions.Count(); ++i)
        if (versions.IsActive(i)) return i;
    return kNone;
}

std::wstring ChooseExecutablePath(const TApp& app) {
    const TVersions& versions = app.Versions;
    const std::size_t chosen = ChosenIndex(versions);
    if (chosen != kNone && IsFileVersionType(versions.GetVersionType(chosen)))
        return versions.GetFetch(chosen);
    const std::vector<std::wstring> files = CandidateExecutables(app);
    const std::wstring icon = LowerAscii(app.iconExecutable);
    if (!icon.empty())
        for (const std::wstring& file : files)
            if (LowerAscii(file) == icon) return file;
    const std::wstring displayName = app.regDisplayName.str();
    for (const std::wstring& file : files)
        if (ExecutableNameMatches(file, displayName)) return file;
    return files.size() == 1 ? files.front() : std::wstring();
}

struct MajorMinor {
    long major = 0;
    std::optional<long> minor;
};

std::optional<MajorMinor> ParseMajorMinor(std::wstring_view text) {
    const std::size_t dot = text.find(L'.');
    const std::optional<long> major = LeadingNumber(text.substr(0, dot));
    if (!major) return std::nullopt;
    MajorMinor result{*major, std::nullopt};
    if (dot != std::wstring_view::npos) result.minor = LeadingNumber(text.substr(dot + 1));
    return result;
}

// "X:\..." only. A path that begins with two backslashes (a UNC share, or
// the device namespaces \\.\ and \\?\) is never judged: testing it would
// reach out to a host that the registry entry names.
bool IsDriveLetterPath(std::wstring_view path) {
    const bool letter = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                                             (path[0] >= L'a' && path[0] <= L'z'));
    return letter && path[1] == L':' && path[2] == L'\\';
}

std::optional<VersionDisagreement> Disagreement(const TApp& app,
                                                const ChosenExecutable& executable) {
    if (!app.displayVersionIndex) return std::nullopt;
    const std::wstring registryVersion = app.Versions.GetVersionText(*app.displayVersionIndex);

    if (executable.version.empty()) return std::nullopt;
    const std::optional<MajorMinor> stated = ParseMajorMinor(registryVersion);
    const std::optional<MajorMinor> actual = ParseMajorMinor(executable.version);
    if (!stated || !actual) return std::nullopt;
    const bool minorDiffers = stated->minor && actual->minor && *stated->minor != *actual->minor;
    if (stated->major == actual->major && !minorDiffers) return std::nullopt;
    return VersionDisagreement{registryVersion, executable.path, executable.version};
}

}  // namespace

std::optional<long> LeadingNumber(std::wstring_view component) {
    long number = 0;
    std::size_t digits = 0;
    while (digits < component.size() && digits < 9 && component[digits] >= L'0' &&
           component[digits] <= L'9') {
        number = number * 10 + (component[digits] - L'0');
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return number;
}

std::vector<std::wstring> CandidateExecutables(const TApp& app) {
    const TVersions& versions = app.Versions;
    std::vector<std::wstring> files;
    for (std::size_t i = 0; i < versions.Count(); ++i) {
        if (!IsFileVersionType(versions.GetVersionType(i))) continue;
        // A file's candidates follow one another.
        std::wstring file = versions.GetFetch(i);
        if (files.empty() || files.back() != file) files.push_back(std::move(file));
    }
    return files;
}

ChosenExecutable ChooseExecutable(const TApp& app) {
    ChosenExecutable result;
    result.path = ChooseExecutablePath(app);
    if (result.path.empty()) return result;
    const TVersions& versions = app.Versions;
    const std::size_t chosen = ChosenIndex(versions);
    const std::wstring wanted = LowerAscii(result.path);
    auto fromFile = [&](std::size_t i) {
        return IsFileVersionType(versions.GetVersionType(i)) &&
               LowerAscii(versions.GetFetch(i)) == wanted;
    };
    if (chosen != kNone && fromFile(chosen)) {
        result.version = versions.GetVersionText(chosen);
        return result;
    }
    for (std::size_t i = 0; i < versions.Count(); ++i) {
        if (!fromFile(i) || versions.GetVersionText(i) == kPlaceholderVersion) continue;
        result.version = versions.GetVersionText(i);
        break;
    }
    return result;
}

std::optional<NameNotRepresentable> FindNameNotRepresentable(const TApp& app) {
    if (!app.facts) return std::nullopt;
    const std::wstring shortName = app.regDisplayName.str();
    if (shortName == app.facts->displayName) return std::nullopt;
    return NameNotRepresentable{app.facts->displayName, shortName};
}

bool ShownInAppsAndFeatures(const TApp& app) {
    if (!app.facts) return true;
    const EntryFacts& facts = *app.facts;
    if (!facts.hasDisplayName || !facts.hasUninstallString) return false;
    if (facts.systemComponent == 1u || facts.parentKeyName) return false;
    if (facts.releaseType)
        for (const wchar_t* update : {L"Security Update", L"Update Rollup", L"Hotfix"})
            if (LowerAscii(*facts.releaseType) == LowerAscii(update)) return false;
    return true;
}

RecordFindings ExamineRecord(const TApp& app) {
    RecordFindings findings{ChooseExecutable(app),  std::nullopt,
                            FindOrphanedEntry(app), FindNameNotRepresentable(app),
                            app.unreachable,        app.versionReaderFailures};
    findings.disagreement = Disagreement(app, findings.executable);
    return findings;
}

std::wstring UninstallerPath(std::wstring_view uninstallString) {
    if (PosText(L"msiexec", uninstallString) > 0) return {};
    const int exe = PosText(L".exe", uninstallString);
    if (exe == 0) return {};
    std::wstring path(uninstallString.substr(0, static_cast<std::size_t>(exe) + 3));
    if (!IsDriveLetterPath(path) || path.find(L'%') != std::wstring::npos) return {};
    return path;
}

std::optional<OrphanedEntry> FindOrphanedEntry(const TApp& app) {
    // A file on a volume that does not answer in time is not judged.
    return FindOrphanedEntry(app, [](const std::wstring& path) {
        const InTime<std::optional<FileFacts>> facts = FileFactsInTime(path);
        return !facts.reached || facts.value.has_value();
    });
}

std::optional<OrphanedEntry> FindOrphanedEntry(const TApp& app, const FileExistsProbe& fileExists) {
    OrphanedEntry orphaned;
    const std::wstring location = app.regInstallLocation.str();
    if (!location.empty() && !app.installLocationFound && !app.unreachable &&
        IsDriveLetterPath(location) && !InWindowsFolder(location))
        orphaned.missingInstallFolder = location;
    const std::wstring uninstaller = UninstallerPath(app.regUninstallString.str());
    if (!uninstaller.empty() && !InWindowsFolder(uninstaller) && !fileExists(uninstaller))
        orphaned.missingUninstaller = uninstaller;
    if (orphaned.missingInstallFolder.empty() && orphaned.missingUninstaller.empty())
        return std::nullopt;
    return orphaned;
}

}  // namespace kelvra
