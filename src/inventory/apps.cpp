#include "common/errors.h"
#include "common/paths.h"
#include "common/scope.h"
#include "common/textconv.h"
#include "common/textutil.h"
#include "common/tools.h"
#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

// "VersionMajor" alone, or "VersionMajor.VersionMinor"; empty when there is no
// positive major.
std::wstring MajorMinorText(std::int32_t major, std::int32_t minor) {
    if (major <= 0) return {};
    std::wstring text = std::to_wstring(major);
    if (minor > 0) text += L"." + std::to_wstring(minor);
    return text;
}

// A number fact: a REG_DWORD, or a REG_SZ of digits as ReadRegNumber takes
// it. Anything else is noted as unreadable rather than shown as an error
// box: the report describes the entry, it does not judge it.
std::optional<std::uint32_t> ReadFactNumber(RegistryAccessor& registry, std::wstring_view name,
                                            EntryFacts& facts) {
    const RegistryType type = registry.GetDataType(name);
    if (type == RegistryType::None) return std::nullopt;
    try {
        if (type == RegistryType::DWord)
            return static_cast<std::uint32_t>(registry.ReadInteger(name));
        if (type == RegistryType::String) {
            const std::int32_t number = DigitsToInt(registry.ReadString(name), -1);
            if (number >= 0) return static_cast<std::uint32_t>(number);
        }
    } catch (const RegistryError&) {
        // A REG_DWORD of another length than four bytes.
    }
    facts.unreadable.emplace_back(name);
    return std::nullopt;
}

std::optional<std::wstring> ReadFactText(RegistryAccessor& registry, std::wstring_view name,
                                         EntryFacts& facts) {
    const RegistryType type = registry.GetDataType(name);
    if (type == RegistryType::None) return std::nullopt;
    if (type != RegistryType::String && type != RegistryType::ExpandString) {
        facts.unreadable.emplace_back(name);
        return std::nullopt;
    }
    return ReadRegText(registry, name);
}

// The key's own name in full: RegistryPath may have lost characters.
std::wstring KeyNameOf(std::wstring_view path) {
    return FileNamePart(path, PathSeparators::Backslash);
}

}  // namespace

TApp::TApp(std::wstring_view registryPath, std::wstring_view keyName)
    : RegistryPath(registryPath), regKeyName(keyName) {
    // Kept apart only where the short text lost something; a run holds
    // thousands of records, and nearly every path survives unchanged.
    if (RegistryPath.str() != registryPath) keyPath_ = registryPath;
}

bool TApp::ReadFromRegistry(RegistryAccessor& registry) {
    if (!registry.OpenKeyReadOnly(keyPath_.empty() ? RegistryPath.str() : keyPath_)) {
        exclusion = EntryExclusion::KeyUnreadable;
        return false;
    }
    {
        // Closed however the reading ends, so that a failure of the log or
        // the error box never leaves a key open behind the record.
        const ScopeExit closeKey([&registry] { registry.CloseKey(); });
        const std::wstring displayName = ReadRegText(registry, L"DisplayName");
        regDisplayName = displayName;
        regDisplayIcon = ReadRegText(registry, L"DisplayIcon");
        const std::wstring uninstallString = ReadRegText(registry, L"UninstallString");
        regUninstallString = uninstallString;
        const std::wstring installLocation = ReadRegText(registry, L"InstallLocation");
        regInstallLocation = installLocation;
        const std::wstring displayVersion = ReadRegText(registry, L"DisplayVersion");
        if (facts) {
            EntryFacts& f = *facts;
            f.hasDisplayName = !displayName.empty();
            f.displayName =
                f.hasDisplayName
                    ? displayName
                    : L"(" + KeyNameOf(keyPath_.empty() ? RegistryPath.str() : keyPath_) + L")";
            f.displayVersion = displayVersion;
            f.installLocation = installLocation;
            f.hasUninstallString = !uninstallString.empty();
            f.publisher = ReadFactText(registry, L"Publisher", f).value_or(std::wstring());
            f.systemComponent = ReadFactNumber(registry, L"SystemComponent", f);
            f.parentKeyName = ReadFactText(registry, L"ParentKeyName", f);
            f.releaseType = ReadFactText(registry, L"ReleaseType", f);
            f.windowsInstaller = ReadFactNumber(registry, L"WindowsInstaller", f);
            f.estimatedSize = ReadFactNumber(registry, L"EstimatedSize", f);
            f.installDate = ReadFactText(registry, L"InstallDate", f);
        }

        const std::wstring fetch = RegistryPath.str();
        if (Versions.AddVersion(displayVersion, TVersionType::Registry, fetch, 0,
                                TVersionOrigin::DisplayVersion))
            displayVersionIndex = Versions.Count() - 1;

        // Both are read, whatever the first one holds.
        const std::int32_t major = ReadRegNumber(registry, L"VersionMajor");
        const std::int32_t minor = ReadRegNumber(registry, L"VersionMinor");
        const std::wstring majorMinor = MajorMinorText(major, minor);
        if (!majorMinor.empty())
            Versions.AddVersion(majorMinor, TVersionType::Registry, fetch + L" (MajorMinor)", 0,
                                TVersionOrigin::VersionMajorMinor);

        if (regDisplayName.empty()) regDisplayName = L"(" + regKeyName.str() + L")";
    }

    // The first filter: hotfixes and updates (a key named like KB123456 with
    // no display name included, through its "(KB123456)"), then the parts of
    // the office suite, which list themselves one by one.
    const std::wstring displayName = regDisplayName.str();
    if (PosText(L"(KB", displayName) > 0) {
        exclusion = EntryExclusion::Update;
        return false;
    }
    if (PosText(L"Microsoft Office ", displayName) == 1) {
        exclusion = EntryExclusion::OfficePart;
        return false;
    }
    if (PosText(L"Magic ISO Make", displayName) > 0) WriteLog(L"a");
    return true;
}

std::wstring NiceNameSortKey(const TApp& app) {
    const std::wstring name = app.niceName.str();
    return name + L'\t' + name;
}

bool NiceNameKeyLess(std::wstring_view a, std::wstring_view b) {
    return CompareTextLocale(a, b) < 0;
}

std::wstring ReadRegText(RegistryAccessor& registry, std::wstring_view name) {
    const std::wstring trace = L"TRegistry.ReadString[" + std::wstring(name) + L"]";
    WriteLog(trace);
    std::wstring text;
    bool read = false;
    try {
        text = registry.ReadString(name);
        read = true;
    } catch (const RegistryError& error) {
        WriteLog(L"exception: " + ErrorText(error));
    }
    if (read) WriteLog(trace + L" " + text);
    return Trim(RemoveChar(text, L'"'));
}

std::int32_t ReadRegNumber(RegistryAccessor& registry, std::wstring_view name) {
    if (!registry.ValueExists(name)) return -1;
    if (registry.GetDataType(name) == RegistryType::String)
        return DigitsToInt(registry.ReadString(name), -1);
    try {
        return registry.ReadInteger(name);
    } catch (const RegistryError&) {
        // Expandable text, binary, 64-bit and multi-string numbers end here.
    }
    ShowErrorAndLog(registry.CurrentPath() + L" - " + std::wstring(name));
    return -1;
}

}  // namespace kelvra
