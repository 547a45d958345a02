#include "shell/scan_report.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "common/textutil.h"
#include "common/utf8.h"
#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

// Fields keep the order they are written in, so that schemaVersion comes
// first and a reader sees a record's names before its candidates.
using Json = nlohmann::ordered_json;

std::string Utf8(std::wstring_view text) { return WideToUtf8(text); }

// A text the entry may lack: null rather than an empty string.
Json TextOrNull(std::wstring_view text) { return text.empty() ? Json(nullptr) : Json(Utf8(text)); }

std::string_view ExclusionName(EntryExclusion exclusion) {
    switch (exclusion) {
        case EntryExclusion::KeyUnreadable: return "keyUnreadable";
        case EntryExclusion::Update: return "update";
        case EntryExclusion::OfficePart: return "officePart";
        case EntryExclusion::None: break;
    }
    return "none";
}

// Where a candidate came from. The two registry sources share one tag in the
// XML document and differ only in the value they were read from.
std::string CandidateSource(const TVersion& version) {
    if (version.Origin == TVersionOrigin::VersionMajorMinor) return "registryMajorMinor";
    return Utf8(VersionTypeText(version.VersionType));
}

Json Candidates(const TApp& app) {
    Json list = Json::array();
    const TVersions& versions = app.Versions;
    for (std::size_t i = 0; i < versions.Count(); ++i) {
        const TVersion& version = versions.GetVersion(i);
        Json removed = nullptr;
        if (version.Removed) {
            removed = Json{{"stage", Utf8(RemovingStageName(version.RemovedBy))},
                           {"reason", Utf8(version.RemoveReason.str())}};
        }
        list.push_back(Json{{"text", Utf8(versions.GetVersionText(i))},
                            {"source", CandidateSource(version)},
                            {"readFrom", Utf8(versions.GetFetch(i))},
                            {"points", version.Points},
                            {"active", !version.Removed},
                            {"removed", std::move(removed)}});
    }
    return list;
}

// A fact the entry may lack: null.
template <typename T>
Json FactOrNull(const std::optional<T>& fact) {
    if (!fact) return nullptr;
    if constexpr (std::is_same_v<T, std::wstring>)
        return Json(Utf8(*fact));
    else
        return Json(*fact);
}

// The texts before their reduction to the code page, beside the short ones.
Json FullTexts(const TApp& app) {
    if (!app.facts) return nullptr;
    const EntryFacts& facts = *app.facts;
    return Json{{"displayName", Utf8(facts.displayName)},
                {"publisher", TextOrNull(facts.publisher)},
                {"displayVersion", TextOrNull(facts.displayVersion)},
                {"installLocation", TextOrNull(facts.installLocation)}};
}

Json Facts(const TApp& app) {
    if (!app.facts) return nullptr;
    const EntryFacts& facts = *app.facts;
    Json unreadable = Json::array();
    for (const std::wstring& name : facts.unreadable) unreadable.push_back(Utf8(name));
    return Json{{"systemComponent", FactOrNull(facts.systemComponent)},
                {"parentKeyName", FactOrNull(facts.parentKeyName)},
                {"releaseType", FactOrNull(facts.releaseType)},
                {"windowsInstaller", FactOrNull(facts.windowsInstaller)},
                {"estimatedSizeKiB", FactOrNull(facts.estimatedSize)},
                {"installDate", FactOrNull(facts.installDate)},
                {"publisher", TextOrNull(ShortText(facts.publisher).str())},
                {"unreadable", std::move(unreadable)},
                {"shownInAppsAndFeatures", ShownInAppsAndFeatures(app)}};
}

// How the system's version reader failed, as the JSON document names it.
const char* ReaderFailureName(VersionReadFailure failure) {
    switch (failure) {
        case VersionReadFailure::Faulted: return "crashed";
        case VersionReadFailure::TimedOut: return "timedOut";
        default: return "noHelper";
    }
}

// And as the console says it, from the document's name.
const wchar_t* ReaderFailureText(const std::string& name) {
    if (name == "crashed") return L"crashed the system's version reader";
    if (name == "timedOut") return L"hung the system's version reader";
    return L"could not be read: no helper process";
}

Json Findings(const RecordFindings& findings) {
    Json list = Json::array();
    if (const auto& found = findings.disagreement)
        list.push_back(Json{{"kind", "registryExecutableDisagreement"},
                            {"registryVersion", Utf8(found->registryVersion)},
                            {"executable", Utf8(found->executable)},
                            {"executableVersion", Utf8(found->executableVersion)}});
    if (const auto& found = findings.orphaned)
        list.push_back(Json{{"kind", "orphanedEntry"},
                            {"missingUninstaller", TextOrNull(found->missingUninstaller)},
                            {"missingInstallFolder", TextOrNull(found->missingInstallFolder)}});
    if (const auto& found = findings.nameNotRepresentable)
        list.push_back(Json{{"kind", "nameNotRepresentable"},
                            {"name", Utf8(found->name)},
                            {"shortName", Utf8(found->shortName)}});
    for (const auto& failed : findings.versionReaderFailures)
        list.push_back(Json{{"kind", "versionReaderFailed"},
                            {"executable", Utf8(failed.path)},
                            {"reason", ReaderFailureName(failed.failure)}});
    if (const auto& found = findings.folderUnreachable)
        list.push_back(Json{{"kind", "folderUnreachable"},
                            {"path", Utf8(found->path)},
                            {"waitedMs", found->waited.count()}});
    return list;
}

// One value per line: the document stays readable and any JSON reader takes it.
std::string Line(const Json& value) {
    return EscapeTerminalControls(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace

std::string EscapeTerminalControls(std::string_view json) {
    // The dump is valid UTF-8 and these characters occur only inside its
    // strings: C1 controls as C2 80 to C2 9F, the overrides as E2 80 AA to
    // E2 80 AE, the isolates as E2 81 A6 to E2 81 A9.
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto byte = [&](std::size_t at) {
            return at < json.size() ? static_cast<unsigned char>(json[at]) : 0u;
        };
        unsigned code = 0;
        std::size_t length = 0;
        if (byte(i) == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
            code = byte(i + 1);
            length = 2;
        } else if (byte(i) == 0xE2 &&
                   ((byte(i + 1) == 0x80 && byte(i + 2) >= 0xAA && byte(i + 2) <= 0xAE) ||
                    (byte(i + 1) == 0x81 && byte(i + 2) >= 0xA6 && byte(i + 2) <= 0xA9))) {
            code = 0x2000 | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
            length = 3;
        }
        if (length == 0) {
            out += json[i];
            continue;
        }
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
        i += length - 1;
    }
    return out;
}

int RegistryViewBits(const TApp& app) { return app.view == RegistryView::Wow64_64 ? 64 : 32; }

ScanScope ScopeOf(const TApp& app) {
    return app.root == RegistryRoot::CurrentUser ? ScanScope::User : ScanScope::Machine;
}

static std::string_view HiveName(const TApp& app) {
    return app.root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

void ScanJsonWriter::Separate(bool& first) {
    sink_(first ? "\n" : ",\n");
    first = false;
}

void ScanJsonWriter::OpenRecords() {
    if (recordsOpen_) return;
    sink_("\n],\n\"records\": [");
    recordsOpen_ = true;
}

void ScanJsonWriter::Begin(const ScanHeader& header) {
    const Json head{{"computer", Utf8(header.computer)},
                    {"user", Utf8(header.user)},
                    {"profile", Utf8(header.profile)},
                    {"kelvraVersion", Utf8(header.kelvraVersion)},
                    {"startedUtc", Utf8(header.startedUtc)},
                    {"is64BitWindows", header.is64BitWindows},
                    {"scope", ScopeName(header.scope)},
                    {"likeAppsAndFeatures", header.likeAppsAndFeatures}};
    sink_("{\n\"schemaVersion\": " + Line(Json(kScanReportSchemaVersion)) +
          ",\n\"header\": " + Line(head) + ",\n\"excluded\": [");
}

void ScanJsonWriter::Excluded(const TApp& app) {
    Separate(firstExcluded_);
    const std::wstring displayName =
        app.exclusion == EntryExclusion::KeyUnreadable ? std::wstring() : app.regDisplayName.str();
    sink_(Line(Json{{"registryKey", Utf8(app.RegistryPath.str())},
                    {"registryView", RegistryViewBits(app)},
                    {"scope", ScopeName(ScopeOf(app))},
                    {"hive", HiveName(app)},
                    {"displayName", TextOrNull(displayName)},
                    {"reason", ExclusionName(app.exclusion)}}));
}

std::string ScanJsonWriter::RecordLine(const TApp& app, std::wstring_view chosenVersion,
                                       const RecordFindings& findings, bool whole) {
    if (!whole)
        return Line(Json{{"displayName", Utf8(app.regDisplayName.str())},
                         {"niceName", Utf8(app.niceName.str())},
                         {"registryKey", Utf8(app.RegistryPath.str())},
                         {"registryView", RegistryViewBits(app)},
                         {"scope", ScopeName(ScopeOf(app))},
                         {"chosenVersion", TextOrNull(chosenVersion)},
                         {"findings", Findings(findings)}});
    return Line(Json{{"displayName", Utf8(app.regDisplayName.str())},
                     {"niceName", Utf8(app.niceName.str())},
                     {"registryKey", Utf8(app.RegistryPath.str())},
                     {"registryView", RegistryViewBits(app)},
                     {"scope", ScopeName(ScopeOf(app))},
                     {"hive", HiveName(app)},
                     {"installLocation", TextOrNull(app.regInstallLocation.str())},
                     {"uninstallString", TextOrNull(app.regUninstallString.str())},
                     {"displayIcon", TextOrNull(app.regDisplayIcon.str())},
                     {"executableFolder", TextOrNull(app.executablePath.str())},
                     {"chosenExecutable", TextOrNull(findings.executable.path)},
                     {"chosenVersion", TextOrNull(chosenVersion)},
                     {"fullTexts", FullTexts(app)},
                     {"entryFacts", Facts(app)},
                     {"candidates", Candidates(app)},
                     {"findings", Findings(findings)}});
}

void ScanJsonWriter::WriteRecordLine(std::string_view line) {
    OpenRecords();
    Separate(firstRecord_);
    sink_(line);
}

void ScanJsonWriter::End(const ScanSummary& summary, std::string_view changesJson) {
    OpenRecords();
    const Json totals{{"entries", summary.entries},
                      {"records", summary.records},
                      {"excluded", summary.excluded},
                      {"ok", summary.ok},
                      {"error", summary.error},
                      {"registryExecutableDisagreements", summary.versionDisagreements},
                      {"orphanedEntries", summary.orphanedEntries},
                      {"namesNotRepresentable", summary.namesNotRepresentable},
                      {"versionReaderFailures", summary.versionReaderFailures},
                      {"foldersUnreachable", summary.foldersUnreachable},
                      {"hiddenByAppsAndFeatures", summary.hiddenByAppsAndFeatures},
                      {"payloadFile", TextOrNull(summary.payloadFile)},
                      {"xmlFile", TextOrNull(summary.xmlFile)},
                      {"htmlFile", TextOrNull(summary.htmlFile)}};
    sink_("\n]");
    // Before the summary, so that the summary stays the document's last field.
    if (!changesJson.empty()) sink_(",\n\"changes\": " + std::string(changesJson));
    sink_(",\n\"summary\": " + Line(totals) + "\n}\n");
}

void ScanObserver::EntriesListed(std::size_t total) {
    summary_.entries = total;
    now_.entriesTotal = total;
    now_.last = total == 0;
    if (progress_) progress_(now_);
}

void ScanObserver::EntryRead(const TApp& app) {
    if (app.exclusion != EntryExclusion::None) {
        ++summary_.excluded;
        if (json_) json_->Excluded(app);
    } else if (!ShownInAppsAndFeatures(app)) {
        ++summary_.hiddenByAppsAndFeatures;
        if (!likeAppsAndFeatures_) ++summary_.records;
    } else {
        ++summary_.records;
    }
    if (app.exclusion == EntryExclusion::None) now_.executables += CandidateExecutables(app).size();
    ++now_.entriesRead;
    now_.last = now_.entriesRead == now_.entriesTotal;
    if (progress_) progress_(now_);
}

// The record's line of the document, whole when there is a document; empty:
// a record left out of the report.
std::string ScanObserver::RecordAnalysed(const TApp& app, const std::wstring& chosenVersion) {
    if (likeAppsAndFeatures_ && !ShownInAppsAndFeatures(app)) return {};
    return ScanJsonWriter::RecordLine(app, chosenVersion, ExamineRecord(app), json_ != nullptr);
}

void ScanObserver::RecordInOrder(std::string_view analysed) {
    if (analysed.empty()) return;
    if (json_) json_->WriteRecordLine(analysed);
    std::optional<ScanRecord> record = ReadScanRecord(analysed);
    if (!record) throw std::logic_error("a record line of this run that does not read back");
    (record->version.empty() ? summary_.error : summary_.ok) += 1;
    AddConsoleLines(*record);
    if (keepForDiff_) kept_.push_back(std::move(*record));
}

// The console's lines about the record's findings. Every text of them comes
// from the registry and goes to a terminal: its control characters are
// written out.
void ScanObserver::AddConsoleLines(const ScanRecord& record) {
    const auto text = [](const std::string& utf8) { return VisibleControls(Utf8ToWide(utf8)); };
    const std::wstring name = text(record.niceName);
    std::wstring readerFailed;
    for (const StatedFinding& found : record.stated) {
        const auto field = [&](const char* field) { return text(found.Field(field)); };
        if (found.kind == "registryExecutableDisagreement") {
            ++summary_.versionDisagreements;
            disagreements_ += L"  " + name + L": registry " + field("registryVersion") + L", " +
                              field("executable") + L" " + field("executableVersion") + L"\n";
        } else if (found.kind == "orphanedEntry") {
            ++summary_.orphanedEntries;
            if (!found.Field("missingUninstaller").empty())
                orphans_ +=
                    L"  " + name + L": uninstaller " + field("missingUninstaller") + L" is gone\n";
            if (!found.Field("missingInstallFolder").empty())
                orphans_ += L"  " + name + L": install folder " + field("missingInstallFolder") +
                            L" is gone\n";
        } else if (found.kind == "nameNotRepresentable") {
            // The console speaks the code page too: the key names the entry.
            ++summary_.namesNotRepresentable;
            unrepresentable_ += L"  " + field("shortName") + L" (" + text(record.key) + L")\n";
        } else if (found.kind == "versionReaderFailed") {
            readerFailed += L"  " + name + L": " + field("executable") + L" " +
                            ReaderFailureText(found.Field("reason")) + L"\n";
        } else if (found.kind == "folderUnreachable") {
            ++summary_.foldersUnreachable;
            unreachable_ +=
                L"  " + name + L": " + field("path") + L" (waited " + field("waitedMs") + L" ms)\n";
        }
    }
    // A record counts once, whatever the number of executables.
    if (!readerFailed.empty()) ++summary_.versionReaderFailures;
    readerFailures_ += readerFailed;
}

std::wstring ScanObserver::FindingsText() const {
    std::wstring text;
    if (summary_.versionDisagreements > 0)
        text += L"Registry and executable disagree: " +
                std::to_wstring(summary_.versionDisagreements) + L"\n" + disagreements_;
    if (summary_.orphanedEntries > 0)
        text +=
            L"Orphaned entries: " + std::to_wstring(summary_.orphanedEntries) + L"\n" + orphans_;
    if (summary_.namesNotRepresentable > 0)
        text += L"Names not representable in the code page: " +
                std::to_wstring(summary_.namesNotRepresentable) + L"\n" + unrepresentable_;
    if (summary_.versionReaderFailures > 0)
        text += L"Executables the system's version reader failed on: " +
                std::to_wstring(summary_.versionReaderFailures) + L"\n" + readerFailures_;
    if (summary_.foldersUnreachable > 0)
        text += L"Folders that did not answer in time: " +
                std::to_wstring(summary_.foldersUnreachable) + L"\n" + unreachable_;
    if (likeAppsAndFeatures_ && summary_.hiddenByAppsAndFeatures > 0)
        text += L"Left out as Apps & features hides them: " +
                std::to_wstring(summary_.hiddenByAppsAndFeatures) + L"\n";
    return text;
}

}  // namespace kelvra
