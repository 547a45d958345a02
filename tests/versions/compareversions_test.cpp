#include <gtest/gtest.h>

#include <string_view>

#include "versions/vertools.h"

namespace kelvra {
namespace {

constexpr auto kFirstLesser = TVersionRelation::vtEersteVersieIsMajorVanTweede;
constexpr auto kSecondLesser = TVersionRelation::vtTweedeIsMajorVanEerste;
constexpr auto kOtherMajor = TVersionRelation::vtVerschillendeMajor;

struct Comparison {
    std::wstring_view a, b;
    TVersionRelation relation;
    std::wstring_view major;
};

TEST(CompareVersions, ComparesTheFirstComponentThenTheRestAsText) {
    const Comparison cases[] = {
        {L"1.9", L"1.10", kSecondLesser, L"1"},  // text order, not numbers
        {L"1.10", L"1.9", kFirstLesser, L"1"},
        {L"1.2", L"1.2.1", kFirstLesser, L"1"},
        {L"2.0", L"2.0 beta", kFirstLesser, L"2"},
        {L"1", L"1.5", kFirstLesser, L"1"},
        {L"1.5", L"2.5", kOtherMajor, L""},
        {L"1.2", L"1.2", kSecondLesser, L"1"},    // equal texts: the first wins
        {L"1.2.3", L"1.23", kFirstLesser, L"1"},  // ties favour the second, both ways
        {L"1.23", L"1.2.3", kFirstLesser, L"1"},
        {L"1.a", L"1.B", kSecondLesser, L"1"},  // no case folding: 'a' > 'B'
        {L"1.\u00e9", L"1.z", kSecondLesser, L"1"},
        {L"1. 5", L"1.4", kSecondLesser, L"1"},  // blanks around the rest do not count
    };
    for (const Comparison& c : cases) {
        const TVersionComparison result = CompareVersions(c.a, c.b);
        EXPECT_EQ(result.relation, c.relation) << c.a.data() << " vs " << c.b.data();
        EXPECT_EQ(result.major, c.major) << c.a.data() << " vs " << c.b.data();
    }
}

// An empty text has no last character to share; its partner is compared whole.
TEST(CompareVersions, EmptyAndDotFirstTexts) {
    EXPECT_EQ(CompareVersions(L"", L"").relation, kFirstLesser);
    EXPECT_EQ(CompareVersions(L"", L".5").relation, kFirstLesser);
    EXPECT_EQ(CompareVersions(L".5", L"").relation, kSecondLesser);
    EXPECT_EQ(CompareVersions(L"", L"5").relation, kOtherMajor);
}

}  // namespace
}  // namespace kelvra
