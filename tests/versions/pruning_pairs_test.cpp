// The stages that pair candidates (DeleteDouble, DeleteMajorVersions,
// AddPointsForAgreement) find each candidate's partner through groups of
// equal key rather than by walking the whole list. Their rules are stated
// pair by pair, so the straightforward pairwise walk is kept here as the
// reference, and both are run on many random lists full of equal texts and
// shared first components, with and without removed candidates.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "versions/vertools.h"

namespace kelvra {
namespace {

using VT = TVersionType;

// ---- the reference: the rules as stated, pair by pair ---------------------------

void AddPointsReference(TVersion& v, std::int32_t points) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    v.Points = v.Points > kMax - points ? kMax : v.Points + points;
}

void DeleteDoubleReference(std::vector<TVersion>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].Removed) continue;
        for (std::size_t j = 0; j < list.size(); ++j) {
            if (j == i || list[j].Removed || !(list[j].Version == list[i].Version)) continue;
            if (list[j].VersionType == VT::Registry) {
                list[i].MarkRemoved(TRemovingStage::DeleteDouble,
                                    L"DeleteDouble: " + list[j].Version.str());
                list[j].Points = std::max(list[j].Points, list[i].Points);
            } else {
                list[j].MarkRemoved(TRemovingStage::DeleteDouble,
                                    L"DeleteDouble: " + list[i].Version.str());
                list[i].Points = std::max(list[i].Points, list[j].Points);
            }
            break;
        }
    }
}

void DeleteMajorVersionsReference(std::vector<TVersion>& list) {
    auto named = [](const TVersion& v) {
        return v.VersionType == VT::Registry || v.VersionType == VT::EntryName;
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].Removed) continue;
        for (std::size_t j = 0; j < list.size(); ++j) {
            if (j == i || list[j].Removed) continue;
            const std::wstring a = list[i].Version.str(), b = list[j].Version.str();
            const TVersionComparison comparison = CompareVersions(a, b);
            if (comparison.relation == TVersionRelation::vtVerschillendeMajor) continue;
            const std::wstring pair = L" (" + a + L"-" + b + L")";
            if (comparison.relation == TVersionRelation::vtEersteVersieIsMajorVanTweede) {
                list[i].MarkRemoved(TRemovingStage::DeleteMajorVersions,
                                    L"DeleteMajorVersions: vtEersteVersieIsMajorVanTweede" + pair);
                if (named(list[i])) AddPointsReference(list[j], 1);
                list[j].Major = comparison.major;
            } else {
                list[j].MarkRemoved(TRemovingStage::DeleteMajorVersions,
                                    L"DeleteMajorVersions: vtTweedeIsMajorVanEerste" + pair);
                if (named(list[j])) AddPointsReference(list[i], 1);
                list[i].Major = comparison.major;
            }
            break;
        }
    }
}

void AddPointsForAgreementReference(std::vector<TVersion>& list, bool byMajor) {
    if (std::count_if(list.begin(), list.end(), [](const TVersion& v) { return !v.Removed; }) <= 1)
        return;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].Removed) continue;
        std::int32_t agreeing = 0;
        for (std::size_t j = 0; j < list.size(); ++j) {
            if (j != i &&
                (byMajor ? list[j].Major == list[i].Major : list[j].Version == list[i].Version))
                ++agreeing;
        }
        AddPointsReference(list[i], agreeing);
    }
}

// ---- random lists ---------------------------------------------------------------

// Few texts, so that equal texts and shared first components abound; the
// "V" and the case differences meet the cleaning and the byte comparison.
const std::vector<std::wstring> kTexts = {
    L"1.0",   L"1.0.0.0", L"1.2", L"1.2.1", L"1.10", L"1.9",   L"2.0", L"2.0 beta", L"2.5.1.0",
    L"2.5.1", L"10.1",    L"1",   L"V3.1",  L"3.1",  L"3.1.0", L"a",   L"A",        L"2024.1"};
const std::vector<VT> kTypes = {VT::Registry, VT::FileVersion1, VT::FileVersion2, VT::FileVersion3,
                                VT::EntryName};

// A list and a copy of its candidates for the reference to work on.
struct RandomList {
    TVersions list;
    std::vector<TVersion> reference;
};

RandomList MakeList(std::mt19937& random, std::size_t count) {
    RandomList made;
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (std::size_t i = 0; i < count; ++i) {
        made.list.AddVersion(kTexts[pick(kTexts.size())], kTypes[pick(kTypes.size())],
                             L"C:\\App\\f" + std::to_wstring(pick(4)) + L".exe",
                             static_cast<std::int32_t>(pick(4)));
    }
    for (std::size_t i = 0; i < made.list.Count(); ++i)
        made.reference.push_back(made.list.GetVersion(i));
    return made;
}

void ExpectSame(const TVersions& list, const std::vector<TVersion>& reference,
                const std::string& where) {
    ASSERT_EQ(list.Count(), reference.size()) << where;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const TVersion& got = list.GetVersion(i);
        SCOPED_TRACE(where + " candidate " + std::to_string(i));
        EXPECT_EQ(got.Removed, reference[i].Removed);
        EXPECT_EQ(got.RemoveReason.str(), reference[i].RemoveReason.str());
        EXPECT_EQ(got.RemovedBy, reference[i].RemovedBy);
        EXPECT_EQ(got.Points, reference[i].Points);
        EXPECT_EQ(got.Major.str(), reference[i].Major.str());
    }
}

TEST(PruningPairs, GroupedStagesDecideAsThePairwiseRules) {
    // The stages in the chain's order, so that the later ones meet the
    // candidates the earlier ones removed; short lists of every length and
    // long ones.
    std::mt19937 random(20261207);
    for (int round = 0; round < 600; ++round) {
        const std::size_t count = round < 500 ? static_cast<std::size_t>(round % 14) : 200;
        RandomList made = MakeList(random, count);
        TVersions& list = made.list;
        std::vector<TVersion>& reference = made.reference;
        const std::string where = "round " + std::to_string(round);

        list.DeleteDouble();
        DeleteDoubleReference(reference);
        ExpectSame(list, reference, where + " DeleteDouble");
        list.DeleteMajorVersions();
        DeleteMajorVersionsReference(reference);
        ExpectSame(list, reference, where + " DeleteMajorVersions");
        for (bool byMajor : {false, true}) {
            list.AddPointsForAgreement(byMajor);
            AddPointsForAgreementReference(reference, byMajor);
            ExpectSame(list, reference, where + (byMajor ? " by major" : " by text"));
        }
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace kelvra
