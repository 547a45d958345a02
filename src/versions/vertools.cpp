#include "versions/vertools.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "common/paths.h"

namespace kelvra {
namespace {

constexpr TVersionTypeSet kFileVersionTypes = {
    TVersionType::FileVersion, TVersionType::FileVersion1, TVersionType::FileVersion2,
    TVersionType::FileVersion3};

// Points only grow, and a candidate may arrive with any starting weight; the
// sum stops at the largest value rather than wrapping round to a negative
// weight that would lose the candidate its place.
void AddPoints(TVersion& version, std::int32_t points) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    version.Points = version.Points > kMax - points ? kMax : version.Points + points;
}

std::wstring_view FirstComponent(std::wstring_view text) { return text.substr(0, text.find(L'.')); }

// What is left of a remainder for the comparison: no full stops, no blanks or
// control characters at either end.
std::wstring PlainRemainder(std::wstring_view rest) { return Trim(RemoveChar(rest, L'.')); }

bool IsOrdinallyGreater(std::wstring_view a, std::wstring_view b) {
    // Code units as unsigned numbers, so that the order is the same whether
    // wchar_t is signed or not.
    return std::lexicographical_compare(
        b.begin(), b.end(), a.begin(), a.end(), [](wchar_t x, wchar_t y) {
            return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(y);
        });
}

// The file name of a path without its extension, by the entries' rule: the
// part after the last "\" or ":", cut at the last "." when that comes after
// them.
std::wstring_view BaseFileName(std::wstring_view path) {
    return FileNameWithoutExtension(path, PathSeparators::BackslashOrColon);
}

std::wstring NameForMatching(std::wstring_view name) { return LowerAscii(RemoveChar(name, L' ')); }

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The candidate indices ordered by a key, indices ascending among equal keys.
template <class KeyOf>
std::vector<std::size_t> IndicesByKey(std::size_t count, KeyOf keyOf) {
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keyOf(a) < keyOf(b); });
    return order;
}

// The active candidates grouped by a key, each group in index order, for the
// stages that pair each candidate with the first other active one of equal
// key. Looking the partner up here instead of walking the whole list for it
// keeps those stages from growing with the square of the candidates, which
// a program folder of hundreds of executables would make felt.
class ActiveGroups {
  public:
    template <class KeyOf, class IsActive>
    ActiveGroups(std::size_t count, KeyOf keyOf, IsActive isActive) : links_(count) {
        const std::vector<std::size_t> order = IndicesByKey(count, keyOf);
        first_.reserve(count);
        std::size_t last = kNone;  // the group's last active member so far
        for (std::size_t k = 0; k < order.size(); ++k) {
            const std::size_t index = order[k];
            if (k == 0 || keyOf(order[k - 1]) != keyOf(index)) {
                first_.push_back(kNone);
                last = kNone;
            }
            if (!isActive(index)) continue;
            Link& link = links_[index];
            link.group = first_.size() - 1;
            link.previous = last;
            (last == kNone ? first_.back() : links_[last].next) = index;
            last = index;
        }
    }

    // The first active candidate of i's group other than i, or kNone.
    std::size_t FirstOtherActive(std::size_t i) const {
        const std::size_t first = first_[links_[i].group];
        return first != i ? first : links_[i].next;
    }

    void Remove(std::size_t i) {
        const Link& link = links_[i];
        (link.previous == kNone ? first_[link.group] : links_[link.previous].next) = link.next;
        if (link.next != kNone) links_[link.next].previous = link.previous;
    }

  private:
    struct Link {
        std::size_t group = kNone;
        std::size_t next = kNone;
        std::size_t previous = kNone;
    };
    std::vector<std::size_t> first_;  // per group
    std::vector<Link> links_;         // per candidate
};

}  // namespace

std::wstring_view VersionTypeText(TVersionType type) noexcept {
    const auto ordinal = static_cast<std::size_t>(type);
    return ordinal < kVersionTypeTexts.size() ? kVersionTypeTexts[ordinal] : kVersionTypeTexts[0];
}

bool IsFileVersionType(TVersionType type) noexcept { return kFileVersionTypes.contains(type); }

std::wstring_view RemovingStageName(TRemovingStage stage) noexcept {
    switch (stage) {
        case TRemovingStage::None: return L"";
        case TRemovingStage::DeleteDouble: return L"DeleteDouble";
        case TRemovingStage::DeleteMajorVersions: return L"DeleteMajorVersions";
        case TRemovingStage::DeleteAllButRegistry: return L"DeleteAllButRegistry";
        case TRemovingStage::DeleteAllButImportant1: return L"DeleteAllButImportant1";
        case TRemovingStage::DeleteAllButImportant2: return L"DeleteAllButImportant2";
        case TRemovingStage::DeleteTroepVersies: return L"DeleteTroepVersies";
        case TRemovingStage::JustPickFirstAvailableVersion: return L"JustPickFirstAvailableVersion";
        case TRemovingStage::Other: break;
    }
    return L"other";
}

void TVersion::MarkRemoved(TRemovingStage stage, std::wstring_view reason) {
    Removed = true;
    RemovedBy = stage;
    RemoveReason = reason;
}

TVersionComparison CompareVersions(std::wstring_view a, std::wstring_view b) {
    const std::wstring_view major = FirstComponent(a);
    if (major != FirstComponent(b)) return {TVersionRelation::vtVerschillendeMajor, {}};

    // The remainders start where the texts part. When one text is a prefix of
    // the other, the remainder of the longer one starts at the last character
    // the two share, so 1.2 against 1.2.1 compares nothing with "2.1".
    const std::size_t differ = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    std::wstring_view restA;
    std::wstring_view restB;
    if (differ < a.size() && differ < b.size()) {
        restA = a.substr(differ);
        restB = b.substr(differ);
    } else if (a.size() < b.size()) {
        // An empty text shares no last character; its partner is taken whole.
        restB = b.substr(a.empty() ? 0 : a.size() - 1);
    } else {
        restA = a.substr(b.empty() ? 0 : b.size() - 1);
    }

    const TVersionRelation relation =
        IsOrdinallyGreater(PlainRemainder(restA), PlainRemainder(restB))
            ? TVersionRelation::vtTweedeIsMajorVanEerste
            : TVersionRelation::vtEersteVersieIsMajorVanTweede;
    return {relation, std::wstring(major)};
}

bool TVersions::AddVersion(std::wstring_view text, TVersionType versionType,
                           std::wstring_view fetch, std::int32_t points, TVersionOrigin origin) {
    std::wstring raw(text);
    // Display names such as "Far Cry (Patch 1.3)" carry the version inside a
    // patch note.
    if (versionType == TVersionType::EntryName && PosText(L"(Patch", raw) > 0)
        raw = ReplaceText(RemoveChars(raw, L"()"), L"patch", {}, true);

    const std::wstring cleaned = CleanVersionText(raw);
    if (cleaned.empty()) return false;
    TVersion version(ShortText(cleaned), versionType, ShortText(fetch));
    version.Points = points;
    version.Origin = origin;
    entries_.push_back(Entry{std::move(version)});
    return true;
}

std::size_t TVersions::ActiveCount() const noexcept {
    return static_cast<std::size_t>(std::count_if(
        entries_.begin(), entries_.end(), [](const Entry& e) { return !e.version.Removed; }));
}

bool TVersions::HasVersionType(TVersionType versionType, bool includeRemoved) const noexcept {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return e.version.VersionType == versionType && (includeRemoved || !e.version.Removed);
    });
}

void TVersions::DeleteVersionTypes(TVersionTypeSet types, bool keepListed, std::wstring_view reason,
                                   TRemovingStage stage) {
    for (Entry& entry : entries_) {
        TVersion& v = entry.version;
        if (!v.Removed && types.contains(v.VersionType) != keepListed) v.MarkRemoved(stage, reason);
    }
}

std::vector<std::wstring> TVersions::VersionTexts() const {
    std::vector<std::wstring> texts;
    texts.reserve(entries_.size());
    for (const Entry& entry : entries_) texts.push_back(entry.version.Version.str());
    return texts;
}

// Of two candidates with byte-equal texts one goes. A registry candidate in
// the role of the partner always stays, since the uninstall entry is the
// application's own statement of its version; the survivor keeps the larger
// weight of the two.
void TVersions::DeleteDouble() {
    const std::size_t count = entries_.size();
    if (count < 2) return;
    const std::vector<std::wstring> texts = VersionTexts();
    ActiveGroups groups(
        count,
        [&](std::size_t k) -> const std::string& { return entries_[k].version.Version.bytes(); },
        [&](std::size_t k) { return !entries_[k].version.Removed; });
    for (std::size_t i = 0; i < count; ++i) {
        TVersion& vi = entries_[i].version;
        if (vi.Removed) continue;
        const std::size_t j = groups.FirstOtherActive(i);
        if (j == kNone) continue;
        TVersion& vj = entries_[j].version;
        if (vj.VersionType == TVersionType::Registry) {
            vi.MarkRemoved(TRemovingStage::DeleteDouble, L"DeleteDouble: " + texts[j]);
            groups.Remove(i);
            vj.Points = std::max(vj.Points, vi.Points);
        } else {
            vj.MarkRemoved(TRemovingStage::DeleteDouble, L"DeleteDouble: " + texts[i]);
            groups.Remove(j);
            vi.Points = std::max(vi.Points, vj.Points);
        }
    }
}

// Of two candidates with the same first component the lesser goes, so that
// 2.5 and 2.5.1 leave 2.5.1. The winner remembers the shared component and,
// when the loser came from the registry or the display name, takes a point
// for the agreement.
void TVersions::DeleteMajorVersions() {
    const std::size_t count = entries_.size();
    if (count < 2) return;
    const std::vector<std::wstring> texts = VersionTexts();
    auto isNamed = [](const TVersion& v) {
        return v.VersionType == TVersionType::Registry || v.VersionType == TVersionType::EntryName;
    };
    // CompareVersions finds different majors exactly where the first
    // components differ, so the first candidate it does not skip is the
    // first other active one of the same first component.
    ActiveGroups groups(
        count, [&](std::size_t k) { return FirstComponent(texts[k]); },
        [&](std::size_t k) { return !entries_[k].version.Removed; });
    for (std::size_t i = 0; i < count; ++i) {
        TVersion& vi = entries_[i].version;
        if (vi.Removed) continue;
        const std::size_t j = groups.FirstOtherActive(i);
        if (j == kNone) continue;
        TVersion& vj = entries_[j].version;
        const TVersionComparison comparison = CompareVersions(texts[i], texts[j]);
        const std::wstring pair = L" (" + texts[i] + L"-" + texts[j] + L")";
        if (comparison.relation == TVersionRelation::vtEersteVersieIsMajorVanTweede) {
            vi.MarkRemoved(TRemovingStage::DeleteMajorVersions,
                           L"DeleteMajorVersions: vtEersteVersieIsMajorVanTweede" + pair);
            groups.Remove(i);
            if (isNamed(vi)) AddPoints(vj, 1);
            vj.Major = comparison.major;
        } else {
            vj.MarkRemoved(TRemovingStage::DeleteMajorVersions,
                           L"DeleteMajorVersions: vtTweedeIsMajorVanEerste" + pair);
            groups.Remove(j);
            if (isNamed(vj)) AddPoints(vi, 1);
            vi.Major = comparison.major;
        }
    }
}

void TVersions::DeleteAllButRegistry() {
    if (ActiveCount() > 1 && HasVersionType(TVersionType::Registry, false))
        DeleteVersionTypes({TVersionType::Registry}, true, L"DeleteAllButRegistry",
                           TRemovingStage::DeleteAllButRegistry);
}

// Keeps only the candidates of the highest weight, once any candidate has
// weight at all; ties all stay.
void TVersions::DeleteAllButImportant(std::wstring_view tag) {
    if (ActiveCount() <= 1) return;
    const bool anyWeight = std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) {
        return !e.version.Removed && e.version.Points > 0;
    });
    if (!anyWeight) return;

    std::int32_t highest = 0;
    const std::wstring unweighted = L"DeleteAllButImportant1: " + std::wstring(tag);
    for (Entry& entry : entries_) {
        TVersion& v = entry.version;
        if (v.Removed) continue;
        if (v.Points <= 0)
            v.MarkRemoved(TRemovingStage::DeleteAllButImportant1, unweighted);
        else
            highest = std::max(highest, v.Points);
    }
    if (highest <= 1) return;
    const std::wstring outweighed = L"DeleteAllButImportant2: " + std::wstring(tag);
    for (Entry& entry : entries_) {
        TVersion& v = entry.version;
        if (!v.Removed && v.Points < highest)
            v.MarkRemoved(TRemovingStage::DeleteAllButImportant2, outweighed);
    }
}

void TVersions::AddPointsForEntryName() {
    if (ActiveCount() <= 1) return;
    for (Entry& entry : entries_) {
        if (entry.version.VersionType == TVersionType::EntryName) AddPoints(entry.version, 1);
    }
}

// The placeholder loses against any other candidate. When every active
// candidate says 1.0.0.0 there is nothing better to keep, and all of them
// stay.
void TVersions::DeleteTroepVersies() {
    if (ActiveCount() <= 1) return;
    static const ShortText kPlaceholder(kPlaceholderVersion);
    const bool anyOther = std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) {
        return !e.version.Removed && !(e.version.Version == kPlaceholder);
    });
    if (!anyOther) return;
    for (Entry& entry : entries_) {
        TVersion& v = entry.version;
        if (!v.Removed && v.Version == kPlaceholder)
            v.MarkRemoved(TRemovingStage::DeleteTroepVersies, L"DeleteTroepVersies");
    }
}

// A file version read from an executable named like the application
// ("C:\Program Files\Foo Bar\FooBar.exe" for "Foo Bar") is the most
// trustworthy of the file versions.
bool ExecutableNameMatches(std::wstring_view path, std::wstring_view displayName) {
    return NameForMatching(BaseFileName(path)) == NameForMatching(displayName);
}

void TVersions::AddPointsForExeName(std::wstring_view displayName) {
    if (ActiveCount() <= 1) return;
    const std::wstring name = NameForMatching(displayName);
    for (Entry& entry : entries_) {
        TVersion& v = entry.version;
        if (v.Removed || !IsFileVersionType(v.VersionType)) continue;
        const std::wstring path = v.Fetch.str();
        if (NameForMatching(BaseFileName(path)) == name) AddPoints(v, 1);
    }
}

// Each active candidate gains a point for every other candidate, removed ones
// included, that agrees with it in its text or, byMajor, in its Major field.
void TVersions::AddPointsForAgreement(bool byMajor) {
    if (ActiveCount() <= 1) return;
    const std::size_t count = entries_.size();
    auto field = [&](std::size_t k) -> const std::string& {
        const TVersion& v = entries_[k].version;
        return (byMajor ? v.Major : v.Version).bytes();
    };
    // The others that agree with a candidate are its group of equal field
    // less itself; the points added change no field, so the groups are
    // counted once, in one pass over the candidates ordered by field.
    const std::vector<std::size_t> order = IndicesByKey(count, field);
    for (std::size_t start = 0; start < count;) {
        std::size_t end = start + 1;
        while (end < count && field(order[end]) == field(order[start])) ++end;
        const auto agreeing = static_cast<std::int32_t>(
            std::min<std::size_t>(end - start - 1, std::numeric_limits<std::int32_t>::max()));
        for (std::size_t k = start; k < end; ++k) {
            TVersion& v = entries_[order[k]].version;
            if (!v.Removed) AddPoints(v, agreeing);
        }
        start = end;
    }
}

void TVersions::JustPickFirstAvailableVersion() {
    bool kept = false;
    for (Entry& entry : entries_) {
        TVersion& v = entry.version;
        if (v.Removed) continue;
        if (kept)
            v.MarkRemoved(TRemovingStage::JustPickFirstAvailableVersion,
                          L"JustPickFirstAvailableVersion");
        kept = true;
    }
}

void TVersions::RunPruningChain(std::wstring_view displayName) {
    DeleteDouble();
    DeleteMajorVersions();
    DeleteAllButRegistry();
    DeleteAllButImportant(L"run1");
    AddPointsForEntryName();
    DeleteAllButImportant(L"run2");
    DeleteTroepVersies();
    AddPointsForExeName(displayName);
    DeleteAllButImportant(L"run3");
    AddPointsForAgreement(false);
    DeleteAllButImportant(L"run4");
    AddPointsForAgreement(true);
    DeleteAllButImportant(L"run5");
    JustPickFirstAvailableVersion();
}

}  // namespace kelvra
