// CleanVersionText and AddVersion on random candidate texts, then the
// fourteen pruning stages one by one, checked after every stage.
//
// Input: field 0 is the display name; every further field is one candidate:
// a byte for the source tag (its value modulo 8), a byte for the starting
// points, then the raw text, and after a byte 0x01 the place it was read.

#include <limits>
#include <string>
#include <vector>

#include "common/textutil.h"
#include "fuzz_support.h"
#include "versions/versiontext.h"
#include "versions/vertools.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

// Mostly the weights discovery gives (0 to 2) and -1, sometimes weights next
// to the top of the range, where a sum would overflow.
std::int32_t PointsFromByte(unsigned char byte) {
    if (byte >= 0xF0) return std::numeric_limits<std::int32_t>::max() - (byte - 0xF0);
    return static_cast<std::int32_t>(byte % 4) - 1;
}

struct Snapshot {
    bool removed;
    std::string reason;
    std::int32_t points;
    std::string version;
    std::string fetch;
    TVersionType type;
};

std::vector<Snapshot> Take(const TVersions& versions) {
    std::vector<Snapshot> all;
    for (std::size_t i = 0; i < versions.Count(); ++i) {
        const TVersion& v = versions.GetVersion(i);
        all.push_back({v.Removed, v.RemoveReason.bytes(), v.Points, v.Version.bytes(),
                       v.Fetch.bytes(), v.VersionType});
    }
    return all;
}

// Nothing a stage does can be undone by a later one: a removed candidate
// stays removed with its first reason, points only grow, and the text, tag
// and place of reading never change.
void CheckMonotone(const std::vector<Snapshot>& before, const std::vector<Snapshot>& after,
                   const char* stage) {
    Require(before.size() == after.size(), "a stage changed the number of candidates", stage);
    for (std::size_t i = 0; i < before.size(); ++i) {
        const Snapshot& b = before[i];
        const Snapshot& a = after[i];
        Require(!b.removed || a.removed, "a removed candidate came back", stage);
        Require(!b.removed || a.reason == b.reason, "a removal reason was overwritten", stage);
        Require(!a.removed || !a.reason.empty(), "a candidate was removed without a reason", stage);
        Require(a.points >= b.points, "points went down", stage);
        Require(a.version == b.version && a.fetch == b.fetch && a.type == b.type,
                "a candidate's text, place or tag changed", stage);
    }
}

std::wstring_view FirstComponent(std::wstring_view text) { return text.substr(0, text.find(L'.')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size);
    const std::wstring displayName = WideFromBytes(fields[0]);

    TVersions versions;
    for (std::size_t f = 1; f < fields.size() && f <= 64; ++f) {
        const std::string_view field = fields[f];
        if (field.size() < 2) continue;
        const auto type = static_cast<TVersionType>(static_cast<unsigned char>(field[0]) % 8);
        const std::int32_t points = PointsFromByte(static_cast<unsigned char>(field[1]));
        const std::string_view rest = field.substr(2);
        const std::size_t split = rest.find('\x01');
        const std::wstring text = WideFromBytes(rest.substr(0, split));
        const std::wstring fetch =
            split == std::string_view::npos ? displayName : WideFromBytes(rest.substr(split + 1));

        const std::wstring cleaned = CleanVersionText(text);
        if (!cleaned.empty()) {
            Require(cleaned.find(L',') == std::wstring::npos, "a comma survived the cleaning");
            Require(DigitsToInt(cleaned, -1) != 0, "an all-zero version survived the cleaning");
        }
        const std::size_t before = versions.Count();
        versions.AddVersion(text, type, fetch, points);
        const bool added = versions.Count() == before + 1;
        Require(versions.Count() <= before + 1, "AddVersion added more than one candidate");
        if (type != TVersionType::EntryName) {
            Require(added == !cleaned.empty(), "AddVersion disagrees with CleanVersionText");
            if (added)
                Require(versions.GetVersion(before).Version == ShortText(cleaned),
                        "Version is not the cleaned text cut short");
        }
        if (added) {
            const TVersion& v = versions.GetVersion(before);
            Require(!v.Removed && v.Points == points && v.VersionType == type && v.Major.empty(),
                    "a new candidate does not start as given");
        }
    }

    TVersions whole = versions;  // the same list through RunPruningChain
    std::vector<Snapshot> last = Take(versions);
    auto stage = [&](const char* name, auto&& run) {
        run();
        const std::vector<Snapshot> now = Take(versions);
        CheckMonotone(last, now, name);
        last = now;
    };

    stage("DeleteDouble", [&] { versions.DeleteDouble(); });
    for (std::size_t i = 0; i < versions.Count(); ++i)
        for (std::size_t j = i + 1; j < versions.Count(); ++j)
            Require(!(versions.IsActive(i) && versions.IsActive(j) &&
                      versions.GetVersion(i).Version == versions.GetVersion(j).Version),
                    "two active candidates with equal texts after DeleteDouble");

    stage("DeleteMajorVersions", [&] { versions.DeleteMajorVersions(); });
    for (std::size_t i = 0; i < versions.Count(); ++i)
        for (std::size_t j = i + 1; j < versions.Count(); ++j)
            Require(!(versions.IsActive(i) && versions.IsActive(j) &&
                      FirstComponent(versions.GetVersionText(i)) ==
                          FirstComponent(versions.GetVersionText(j))),
                    "two active candidates share a first component after DeleteMajorVersions");

    stage("DeleteAllButRegistry", [&] { versions.DeleteAllButRegistry(); });
    stage("DeleteAllButImportant run1", [&] { versions.DeleteAllButImportant(L"run1"); });
    stage("AddPointsForEntryName", [&] { versions.AddPointsForEntryName(); });
    stage("DeleteAllButImportant run2", [&] { versions.DeleteAllButImportant(L"run2"); });
    stage("DeleteTroepVersies", [&] { versions.DeleteTroepVersies(); });
    stage("AddPointsForExeName", [&] { versions.AddPointsForExeName(displayName); });
    stage("DeleteAllButImportant run3", [&] { versions.DeleteAllButImportant(L"run3"); });
    stage("AddPointsForAgreement text", [&] { versions.AddPointsForAgreement(false); });
    stage("DeleteAllButImportant run4", [&] { versions.DeleteAllButImportant(L"run4"); });
    stage("AddPointsForAgreement major", [&] { versions.AddPointsForAgreement(true); });
    stage("DeleteAllButImportant run5", [&] { versions.DeleteAllButImportant(L"run5"); });
    stage("JustPickFirstAvailableVersion", [&] { versions.JustPickFirstAvailableVersion(); });

    // At most one survivor, and never none when there was a candidate: an
    // application with versions always reports one.
    Require(versions.ActiveCount() <= 1, "more than one candidate active after the chain");
    Require(versions.Count() == 0 || versions.ActiveCount() == 1,
            "the chain removed every candidate");

    whole.RunPruningChain(displayName);
    const std::vector<Snapshot> chained = Take(whole);
    for (std::size_t i = 0; i < chained.size(); ++i)
        Require(chained[i].removed == last[i].removed && chained[i].reason == last[i].reason &&
                    chained[i].points == last[i].points,
                "RunPruningChain differs from its fourteen stages run one by one");
    return 0;
}
