#include "shell/scan_diff.h"

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <span>

#include "common/files.h"
#include "common/textutil.h"
#include "common/utf8.h"
#include "inventory/findings.h"
#include "shell/scan_report.h"
#include "versions/vertools.h"

namespace kelvra {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

std::string TextOf(const Json& value) { return value.is_string() ? value.get<std::string>() : ""; }

// The number as the exact integer it is, when it is one from low to high: a
// reader's conversion to a narrower type would cut 4294967297 to 1.
std::optional<long long> WholeNumber(const Json& value, long long low, long long high) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(high)) return std::nullopt;
        const auto exact = static_cast<long long>(number);
        return exact >= low ? std::optional<long long>(exact) : std::nullopt;
    }
    if (!value.is_number_integer()) return std::nullopt;
    const auto number = value.get<std::int64_t>();
    if (number < low || number > high) return std::nullopt;
    return number;
}

// A finding's fields as texts; the console needs nothing else of them.
StatedFinding StatedOf(const Json& finding) {
    StatedFinding stated{TextOf(finding["kind"]), {}};
    for (const auto& [name, value] : finding.items())
        if (name != "kind" && !value.is_null())
            stated.fields.emplace(name,
                                  value.is_string() ? value.get<std::string>() : value.dump());
    return stated;
}

// A record of the document, or none when it lacks what identifies it.
std::optional<ScanRecord> RecordOf(const Json& record) {
    if (!record.is_object() || !record.contains("registryKey") ||
        !record["registryKey"].is_string() || !record.contains("registryView"))
        return std::nullopt;
    const std::optional<long long> view = WholeNumber(record["registryView"], 32, 64);
    if (!view || (*view != 32 && *view != 64)) return std::nullopt;
    ScanRecord result;
    // Documents written before the user's scope existed are the machine's.
    result.scope = record.contains("scope") ? TextOf(record["scope"]) : "machine";
    result.view = static_cast<int>(*view);
    result.key = TextOf(record["registryKey"]);
    result.name = record.contains("displayName") ? TextOf(record["displayName"]) : "";
    result.niceName = record.contains("niceName") ? TextOf(record["niceName"]) : "";
    result.version = record.contains("chosenVersion") ? TextOf(record["chosenVersion"]) : "";
    if (record.contains("findings") && record["findings"].is_array())
        for (const Json& finding : record["findings"])
            if (finding.is_object() && finding.contains("kind")) {
                result.findings.insert(TextOf(finding["kind"]));
                result.stated.push_back(StatedOf(finding));
            }
    return result;
}

OrderedJson Brief(const ScanRecord& record) {
    return OrderedJson{{"scope", record.scope},
                       {"registryView", record.view},
                       {"registryKey", record.key},
                       {"displayName", record.name},
                       {"chosenVersion", record.version.empty() ? OrderedJson(nullptr)
                                                                : OrderedJson(record.version)}};
}

std::wstring Wide(const std::string& utf8) { return VisibleControls(Utf8ToWide(utf8)); }

}  // namespace

std::string StatedFinding::Field(const std::string& name) const {
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
}

std::set<std::string> ScopesOf(ScanScope scope) {
    const std::string machine(ScopeName(ScanScope::Machine)), user(ScopeName(ScanScope::User));
    if (scope == ScanScope::User) return {user};
    if (scope == ScanScope::All) return {machine, user};
    return {machine};
}

std::optional<ScanRecord> ReadScanRecord(std::string_view line) {
    return RecordOf(Json::parse(line, nullptr, false));
}

std::optional<ScanRecords> ReadScanDocument(const std::wstring& path, std::string& error) {
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) {
        error = "cannot be read";
        return std::nullopt;
    }
    if (file->size() > kMaxScanDocumentBytes) {
        error = "larger than " + std::to_string(kMaxScanDocumentBytes >> 20) +
                " MiB, more than any document of kvscan's; not read";
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    if (file->ReadAt(0, std::as_writable_bytes(std::span(bytes))) != bytes.size()) {
        error = "cannot be read";
        return std::nullopt;
    }
    return ReadScanRecords(bytes, error);
}

std::optional<ScanRecords> ReadScanRecords(std::string_view bytes, std::string& error) {
    const Json document = Json::parse(bytes, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("schemaVersion") ||
        !document["schemaVersion"].is_number_integer() || !document.contains("header") ||
        !document["header"].is_object() || !document["header"].contains("kelvraVersion") ||
        !document.contains("records") || !document["records"].is_array()) {
        error = "not a JSON document of kvscan's";
        return std::nullopt;
    }
    const Json& version = document["schemaVersion"];
    if (WholeNumber(version, kScanReportSchemaVersion, kScanReportSchemaVersion) == std::nullopt) {
        error = "a document of schema version " + version.dump() +
                "; this kvscan compares only with version " +
                std::to_string(kScanReportSchemaVersion);
        return std::nullopt;
    }
    ScanRecords result;
    const Json& header = document["header"];
    const std::string scope = header.contains("scope") ? TextOf(header["scope"]) : "";
    result.scopes = ScopesOf(ScopeNamed(Utf8ToWide(scope)).value_or(ScanScope::Machine));
    for (const Json& record : document["records"]) {
        std::optional<ScanRecord> read = RecordOf(record);
        if (!read) {
            error = "not a JSON document of kvscan's: a record without its registry key";
            return std::nullopt;
        }
        result.records.push_back(std::move(*read));
    }
    return result;
}

std::string VersionDirection(const std::string& from, const std::string& to) {
    const std::wstring a = Utf8ToWide(from), b = Utf8ToWide(to);
    const TVersionComparison comparison = CompareVersions(a, b);
    if (comparison.relation == TVersionRelation::vtEersteVersieIsMajorVanTweede) return "up";
    if (comparison.relation == TVersionRelation::vtTweedeIsMajorVanEerste) return "down";
    const std::optional<long> majorA = LeadingNumber(a), majorB = LeadingNumber(b);
    if (!majorA || !majorB || *majorA == *majorB) return "changed";
    return *majorA < *majorB ? "up" : "down";
}

ScanChanges CompareScans(const ScanRecords& before, const ScanRecords& now) {
    auto covered = [&](const ScanRecord& record) {
        return before.scopes.count(record.scope) > 0 && now.scopes.count(record.scope) > 0;
    };
    std::map<std::string, const ScanRecord*> earlier;
    for (const ScanRecord& record : before.records)
        if (covered(record)) earlier.emplace(record.Identity(), &record);
    ScanChanges changes;
    std::set<std::string> present;
    for (const ScanRecord& record : now.records) {
        if (!covered(record)) continue;
        present.insert(record.Identity());
        const auto found = earlier.find(record.Identity());
        if (found == earlier.end()) {
            changes.added.push_back(record);
            continue;
        }
        const ScanRecord& old = *found->second;
        if (old.version != record.version)
            changes.versions.push_back({record, old.version,
                                        old.version.empty() || record.version.empty()
                                            ? "changed"
                                            : VersionDirection(old.version, record.version)});
        for (const std::string& kind : record.findings)
            if (!old.findings.count(kind)) changes.findingsAppeared.push_back({record, kind});
        for (const std::string& kind : old.findings)
            if (!record.findings.count(kind)) changes.findingsGone.push_back({record, kind});
    }
    for (const ScanRecord& record : before.records)
        if (covered(record) && !present.count(record.Identity())) changes.removed.push_back(record);
    return changes;
}

std::string ChangesJson(const ScanChanges& changes, std::string_view previousFile) {
    OrderedJson added = OrderedJson::array(), removed = OrderedJson::array(),
                versions = OrderedJson::array(), appeared = OrderedJson::array(),
                gone = OrderedJson::array();
    for (const ScanRecord& record : changes.added) added.push_back(Brief(record));
    for (const ScanRecord& record : changes.removed) removed.push_back(Brief(record));
    for (const VersionChange& change : changes.versions) {
        OrderedJson item = Brief(change.record);
        item["previousVersion"] =
            change.from.empty() ? OrderedJson(nullptr) : OrderedJson(change.from);
        item["direction"] = change.direction;
        versions.push_back(std::move(item));
    }
    for (const FindingChange& change : changes.findingsAppeared) {
        OrderedJson item = Brief(change.record);
        item["kind"] = change.kind;
        appeared.push_back(std::move(item));
    }
    for (const FindingChange& change : changes.findingsGone) {
        OrderedJson item = Brief(change.record);
        item["kind"] = change.kind;
        gone.push_back(std::move(item));
    }
    const OrderedJson result{{"previousFile", std::string(previousFile)},
                             {"added", std::move(added)},
                             {"removed", std::move(removed)},
                             {"versionsChanged", std::move(versions)},
                             {"findingsAppeared", std::move(appeared)},
                             {"findingsGone", std::move(gone)}};
    return EscapeTerminalControls(
        result.dump(-1, ' ', false, OrderedJson::error_handler_t::replace));
}

std::wstring ChangesText(const ScanChanges& changes, std::wstring_view previousFile) {
    std::wstring text = L"Changes since " + VisibleControls(previousFile) + L": ";
    if (changes.empty()) return text + L"none\n";
    text += std::to_wstring(changes.added.size()) + L" added, " +
            std::to_wstring(changes.removed.size()) + L" removed, " +
            std::to_wstring(changes.versions.size()) + L" versions changed, " +
            std::to_wstring(changes.findingsAppeared.size()) + L" findings appeared, " +
            std::to_wstring(changes.findingsGone.size()) + L" went away\n";
    auto named = [](const ScanRecord& record) {
        return Wide(record.name) + (record.scope == "user" ? L" (user)" : L"");
    };
    for (const ScanRecord& record : changes.added)
        text += L"  + " + named(record) + L" " + Wide(record.version) + L"\n";
    for (const ScanRecord& record : changes.removed)
        text += L"  - " + named(record) + L" " + Wide(record.version) + L"\n";
    for (const VersionChange& change : changes.versions)
        text += L"  " + Utf8ToWide(change.direction) + L": " + named(change.record) + L" " +
                Wide(change.from) + L" -> " + Wide(change.record.version) + L"\n";
    for (const FindingChange& change : changes.findingsAppeared)
        text += L"  finding appeared: " + named(change.record) + L": " + Wide(change.kind) + L"\n";
    for (const FindingChange& change : changes.findingsGone)
        text += L"  finding went away: " + named(change.record) + L": " + Wide(change.kind) + L"\n";
    return text;
}

}  // namespace kelvra
