#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "versions/vertools.h"

namespace kelvra {
namespace {

using VT = TVersionType;

struct Candidate {
    VT type;
    std::wstring text;
    std::int32_t points = 0;
    std::wstring fetch = L"C:\\Program Files\\Foo\\foo.exe";
};

TVersions ListOf(const std::vector<Candidate>& candidates) {
    TVersions list;
    for (const Candidate& c : candidates) list.AddVersion(c.text, c.type, c.fetch, c.points);
    return list;
}

std::vector<bool> ActiveFlags(const TVersions& list) {
    std::vector<bool> flags;
    for (std::size_t i = 0; i < list.Count(); ++i) flags.push_back(list.IsActive(i));
    return flags;
}

std::vector<std::int32_t> PointsOf(const TVersions& list) {
    std::vector<std::int32_t> points;
    for (std::size_t i = 0; i < list.Count(); ++i) points.push_back(list.GetVersion(i).Points);
    return points;
}

std::wstring ReasonOf(const TVersions& list, std::size_t i) {
    return list.GetVersion(i).RemoveReason.str();
}

TEST(Pruning, DeleteDoubleKeepsOneOfEqualTextsWithTheLargerPoints) {
    TVersions three = ListOf(
        {{VT::FileVersion1, L"1.2", 1}, {VT::FileVersion2, L"1.2", 2}, {VT::FileVersion3, L"1.2"}});
    three.DeleteDouble();
    EXPECT_EQ(ActiveFlags(three), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(ReasonOf(three, 1), L"DeleteDouble: 1.2");
    EXPECT_EQ(three.GetVersion(2).Points, 2);

    TVersions registry =
        ListOf({{VT::Registry, L"1.2"}, {VT::FileVersion1, L"1.2", 2}, {VT::Registry, L"1.2"}});
    registry.DeleteDouble();
    EXPECT_EQ(ActiveFlags(registry), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(registry.GetVersion(0).Points, 2);

    // Equal as stored: the characters the code page lacks are gone.
    TVersions collapsed = ListOf({{VT::FileVersion2, L"1.0\u4e2d"},
                                  {VT::FileVersion3, L"1.0\u6587"},
                                  {VT::Registry, L"1.0 b"}});
    collapsed.DeleteDouble();
    EXPECT_EQ(collapsed.ActiveCount(), 2u);
}

TEST(Pruning, DeleteMajorVersionsKeepsTheGreatestOfEachFirstComponent) {
    TVersions list = ListOf({{VT::Registry, L"1.2"}, {VT::FileVersion1, L"1.2.0.0", 2}});
    list.DeleteMajorVersions();
    EXPECT_EQ(ReasonOf(list, 0),
              L"DeleteMajorVersions: vtEersteVersieIsMajorVanTweede (1.2-1.2.0.0)");
    EXPECT_EQ(list.GetVersion(1).Points, 3);
    EXPECT_EQ(list.GetVersion(1).Major.str(), L"1");
    list.DeleteAllButRegistry();
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{false, true}));

    // Many candidates of a few first components: one of each is left.
    TVersions many;
    for (int i = 0; i < 60; ++i)
        many.AddVersion(std::to_wstring(i % 3 + 1) + L"." + std::to_wstring((i * 37) % 11),
                        VT::FileVersion1, L"", 0);
    many.DeleteMajorVersions();
    EXPECT_EQ(many.ActiveCount(), 3u);
    for (std::size_t i = 0; i < many.Count(); ++i) {
        if (many.IsActive(i)) {
            EXPECT_EQ(many.GetVersionText(i).substr(2), L"9") << many.GetVersionText(i);
        }
    }
}

TEST(Pruning, DeleteAllButRegistryKeepsOnlyRegistryCandidates) {
    TVersions list =
        ListOf({{VT::FileVersion1, L"3.1", 2}, {VT::Registry, L"2.0"}, {VT::EntryName, L"4"}});
    list.DeleteAllButRegistry();
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(ReasonOf(list, 0), L"DeleteAllButRegistry");
}

TEST(Pruning, DeleteAllButImportantKeepsTheHighestPoints) {
    TVersions list = ListOf(
        {{VT::FileVersion1, L"1", 3}, {VT::FileVersion1, L"2", 3}, {VT::FileVersion1, L"3", 1}});
    list.DeleteAllButImportant(L"run1");
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(ReasonOf(list, 2), L"DeleteAllButImportant2: run1");

    list = ListOf(
        {{VT::FileVersion1, L"1", 1}, {VT::FileVersion1, L"2", 1}, {VT::FileVersion1, L"3", 0}});
    list.DeleteAllButImportant(L"x");
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(ReasonOf(list, 2), L"DeleteAllButImportant1: x");

    list = ListOf({{VT::FileVersion1, L"1", 0}, {VT::FileVersion1, L"2", -5}});
    list.DeleteAllButImportant(L"x");
    EXPECT_EQ(list.ActiveCount(), 2u);
}

TEST(Pruning, PointStagesActOnlyWhileThereIsAChoice) {
    TVersions list =
        ListOf({{VT::EntryName, L"2"}, {VT::FileVersion1, L"3.0"}, {VT::FileVersion2, L"3.0"}});
    list.DeleteDouble();  // the second file version goes
    list.AddPointsForEntryName();
    list.AddPointsForAgreement(false);
    EXPECT_EQ(PointsOf(list), (std::vector<std::int32_t>{1, 1, 0}));
    list.AddPointsForAgreement(true);  // three empty Major fields agree
    EXPECT_EQ(PointsOf(list), (std::vector<std::int32_t>{3, 3, 0}));

    TVersions single = ListOf({{VT::EntryName, L"2"}, {VT::FileVersion1, L"2"}});
    single.DeleteDouble();
    single.AddPointsForEntryName();
    single.AddPointsForAgreement(true);
    single.AddPointsForExeName(L"Foo");
    EXPECT_EQ(PointsOf(single), (std::vector<std::int32_t>{0, 0}));
}

TEST(Pruning, ExecutableNamedLikeTheApplicationGainsAPoint) {
    TVersions list = ListOf({
        {VT::FileVersion1, L"1", 0, L"C:\\Program Files\\Foo Bar\\FooBar.exe"},
        {VT::FileVersion3, L"2", 0, L"C:\\Foo.Bar\\foo bar"},
        {VT::FileVersion2, L"3", 0, L"D:foobar.EXE"},
        {VT::FileVersion1, L"4", 0, L"C:\\Foo\\FooBar2.exe"},
        {VT::Registry, L"5", 0, L"FooBar.exe"},
    });
    list.AddPointsForExeName(L"Foo  Bar");
    EXPECT_EQ(PointsOf(list), (std::vector<std::int32_t>{1, 1, 1, 0, 0}));
}

TEST(Pruning, DeleteTroepVersiesDropsThePlaceholderVersion) {
    TVersions list = ListOf({{VT::FileVersion1, L"1.0.0.0"}, {VT::Registry, L"1.0"}});
    list.DeleteTroepVersies();
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{false, true}));
    EXPECT_EQ(ReasonOf(list, 0), L"DeleteTroepVersies");

    // Nothing better to keep: the placeholder stays rather than leave none.
    TVersions only = ListOf({{VT::FileVersion1, L"1.0.0.0"}, {VT::FileVersion3, L"1.0.0.0"}});
    only.DeleteTroepVersies();
    EXPECT_EQ(only.ActiveCount(), 2u);
}

TEST(Pruning, PointsStopAtTheLargestValue) {
    const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    TVersions list = ListOf(
        {{VT::EntryName, L"7", kMax}, {VT::FileVersion1, L"7", kMax}, {VT::Registry, L"8.1"}});
    list.AddPointsForEntryName();
    list.AddPointsForAgreement(false);
    EXPECT_EQ(PointsOf(list), (std::vector<std::int32_t>{kMax, kMax, 0}));
}

TEST(PruningChain, TypicalRecordKeepsTheFixedFileVersion) {
    TVersions list = ListOf({{VT::Registry, L"2.5.1", 0, L"HKLM\\Uninstall\\Foo"},
                             {VT::FileVersion1, L"2.5.1.0", 2},
                             {VT::FileVersion2, L"2.5.1.0", 2},
                             {VT::FileVersion3, L"2.5.1", 2},
                             {VT::EntryName, L"2.5", 0, L"Foo 2.5"}});
    list.RunPruningChain(L"Foo");
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{false, true, false, false, false}));
    EXPECT_EQ(PointsOf(list), (std::vector<std::int32_t>{2, 4, 2, 2, 0}));
    EXPECT_EQ(list.GetVersion(1).Major.str(), L"2");
    EXPECT_EQ(ReasonOf(list, 0),
              L"DeleteMajorVersions: vtEersteVersieIsMajorVanTweede (2.5.1-2.5.1.0)");
    EXPECT_EQ(ReasonOf(list, 2), L"DeleteDouble: 2.5.1.0");
    EXPECT_EQ(ReasonOf(list, 3), L"DeleteDouble: 2.5.1");
    EXPECT_EQ(ReasonOf(list, 4), L"DeleteMajorVersions: vtTweedeIsMajorVanEerste (2.5.1.0-2.5)");
}

TEST(PruningChain, EmptyMajorFieldsOutvoteTheRest) {
    TVersions list = ListOf({{VT::FileVersion1, L"3.1"},
                             {VT::FileVersion2, L"3.1.0.0"},
                             {VT::FileVersion3, L"2.0"},
                             {VT::EntryName, L"3.1", 0, L"Foo 3.1"}});
    list.RunPruningChain(L"Something Else");
    EXPECT_EQ(ActiveFlags(list), (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(ReasonOf(list, 1), L"DeleteAllButImportant1: run5");
    EXPECT_EQ(PointsOf(list), (std::vector<std::int32_t>{0, 0, 2, 1}));
}

TEST(PruningChain, OneOrNoCandidatePassesUnchanged) {
    TVersions none;
    none.RunPruningChain(L"Foo");
    EXPECT_EQ(none.Count(), 0u);

    TVersions one = ListOf({{VT::FileVersion1, L"1.0.0.0", 2}});
    one.RunPruningChain(L"Foo");
    EXPECT_TRUE(one.IsActive(0));
    EXPECT_EQ(one.GetVersion(0).Points, 2);
}

TEST(Pruning, LongReasonsAreCutTo255Bytes) {
    const std::wstring longA = L"9." + std::wstring(200, L'1');
    TVersions list = ListOf({{VT::FileVersion1, longA}, {VT::FileVersion2, L"9.2"}});
    list.DeleteMajorVersions();
    EXPECT_EQ(ReasonOf(list, 0),
              (L"DeleteMajorVersions: vtEersteVersieIsMajorVanTweede (" + longA).substr(0, 255));
}

}  // namespace
}  // namespace kelvra
