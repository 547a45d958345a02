#include "shell/scan_diff.h"

#include <map>
#include <nlohmann/json.hpp>

#include "common/textutil.h"
#include "common/utf8.h"
#include "shell/scan_report.h"
#include "versions/vertools.h"

namespace kelvra {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

std::string TextOf(const Json& value) { return value.is_string() ? value.get<std::string>() : ""; }

// A record of the document, or none when it lacks what identifies it.
std::optional<DiffRecord> RecordOf(const Json& record) {
    if (!record.is_object() || !record.contains("registryKey") ||
        !record["registryKey"].is_string() || !record.contains("registryView") ||
        !record["registryView"].is_number_integer())
        return std::nullopt;
    DiffRecord result;
    // Documents written before the user's scope existed are the machine's.
    result.scope = record.contains("scope") ? TextOf(record["scope"]) : "machine";
    result.view = record["registryView"].get<int>();
    result.key = TextOf(record["registryKey"]);
    result.name = record.contains("displayName") ? TextOf(record["displayName"]) : "";
    result.version = record.contains("chosenVersion") ? TextOf(record["chosenVersion"]) : "";
    if (record.contains("findings") && record["findings"].is_array())
        for (const Json& finding : record["findings"])
            if (finding.is_object() && finding.contains("kind"))
                result.findings.insert(TextOf(finding["kind"]));
    return result;
}

std::optional<long> LeadingNumber(std::wstring_view text) {
    long number = 0;
    std::size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= L'0' && text[digits] <= L'9')
        number = number * 10 + (text[digits++] - L'0');
    if (digits == 0) return std::nullopt;
    return number;
}

OrderedJson Brief(const DiffRecord& record) {
    return OrderedJson{{"scope", record.scope},
                       {"registryView", record.view},
                       {"registryKey", record.key},
                       {"displayName", record.name},
                       {"chosenVersion", record.version.empty() ? OrderedJson(nullptr)
                                                                : OrderedJson(record.version)}};
}

std::wstring Wide(const std::string& utf8) { return VisibleControls(Utf8ToWide(utf8)); }

}  // namespace

std::set<std::string> ScopesOf(std::string_view scope) {
    if (scope == "user") return {"user"};
    if (scope == "all") return {"machine", "user"};
    return {"machine"};
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
    const int version = document["schemaVersion"].get<int>();
    if (version != kScanReportSchemaVersion) {
        error = "a document of schema version " + std::to_string(version) +
                "; this kvscan compares only with version " +
                std::to_string(kScanReportSchemaVersion);
        return std::nullopt;
    }
    ScanRecords result;
    const Json& header = document["header"];
    result.scopes = ScopesOf(header.contains("scope") ? TextOf(header["scope"]) : "machine");
    for (const Json& record : document["records"]) {
        std::optional<DiffRecord> read = RecordOf(record);
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
    auto covered = [&](const DiffRecord& record) {
        return before.scopes.count(record.scope) > 0 && now.scopes.count(record.scope) > 0;
    };
    std::map<std::string, const DiffRecord*> earlier;
    for (const DiffRecord& record : before.records)
        if (covered(record)) earlier.emplace(record.Identity(), &record);
    ScanChanges changes;
    std::set<std::string> present;
    for (const DiffRecord& record : now.records) {
        if (!covered(record)) continue;
        present.insert(record.Identity());
        const auto found = earlier.find(record.Identity());
        if (found == earlier.end()) {
            changes.added.push_back(record);
            continue;
        }
        const DiffRecord& old = *found->second;
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
    for (const DiffRecord& record : before.records)
        if (covered(record) && !present.count(record.Identity())) changes.removed.push_back(record);
    return changes;
}

std::string ChangesJson(const ScanChanges& changes, std::string_view previousFile) {
    OrderedJson added = OrderedJson::array(), removed = OrderedJson::array(),
                versions = OrderedJson::array(), appeared = OrderedJson::array(),
                gone = OrderedJson::array();
    for (const DiffRecord& record : changes.added) added.push_back(Brief(record));
    for (const DiffRecord& record : changes.removed) removed.push_back(Brief(record));
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
    auto named = [](const DiffRecord& record) {
        return Wide(record.name) + (record.scope == "user" ? L" (user)" : L"");
    };
    for (const DiffRecord& record : changes.added)
        text += L"  + " + named(record) + L" " + Wide(record.version) + L"\n";
    for (const DiffRecord& record : changes.removed)
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
