#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "versions/vertools.h"

namespace kelvra {
namespace {

TEST(VersionsList, AddVersionCleansAndSkipsEmptyResults) {
    TVersions list;
    list.AddVersion(L"  V2,1 ", TVersionType::Registry, L"HKLM\\...\\Foo", 0);
    list.AddVersion(L"0.0", TVersionType::Registry, L"HKLM\\...\\Foo", 0);
    list.AddVersion(L"   ", TVersionType::EntryName, L"Foo", 0);
    list.AddVersion(L"1, 2, 3, 4", TVersionType::FileVersion2, L"C:\\Foo\\foo.exe", 2);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.GetVersionText(0), L"2.1");
    EXPECT_EQ(list.GetVersionText(1), L"1.2.3.4");
    EXPECT_EQ(list.GetVersion(1).Points, 2);
    EXPECT_THROW(list.GetVersion(2), std::out_of_range);
}

TEST(VersionsList, PatchNotesAreUnwrappedOnlyForDisplayNameWords) {
    TVersions list;
    list.AddVersion(L"(Patch 1.4)", TVersionType::EntryName, L"Far Cry (Patch 1.4)", 0);
    list.AddVersion(L"(Patch 1.4)", TVersionType::Registry, L"HKLM", 0);
    list.AddVersion(L"patch 1.4)", TVersionType::EntryName, L"Foo patch 1.4)", 0);
    EXPECT_EQ(list.GetVersionText(0), L"1.4");
    EXPECT_EQ(list.GetVersionText(1), L"(Patch 1.4)");
    EXPECT_EQ(list.GetVersionText(2), L"patch 1.4)");
}

TEST(VersionsList, LongTextsAreCutInTheRecord) {
    TVersions list;
    const std::wstring version = L"1." + std::wstring(300, L'2');
    const std::wstring path = L"C:\\" + std::wstring(400, L'd') + L"\\app.exe";
    list.AddVersion(version, TVersionType::FileVersion1, path, 1);
    EXPECT_EQ(list.GetVersionText(0), version.substr(0, 255));
    EXPECT_EQ(list.GetFetch(0), path.substr(0, 255));
}

TEST(VersionsList, RemovedEntriesStayCountedWithTheirFirstReason) {
    TVersions list;
    list.AddVersion(L"1.0", TVersionType::Registry, L"", 0);
    list.AddVersion(L"2.0", TVersionType::EntryName, L"", 0);
    list.DeleteVersionTypes({TVersionType::Registry}, false, L"gone");
    EXPECT_EQ(list.ActiveCount(), 1u);
    list.DeleteVersionTypes({TVersionType::Registry}, true, L"also gone");
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.ActiveCount(), 0u);
    EXPECT_TRUE(list.HasVersionType(TVersionType::Registry, true));
    EXPECT_FALSE(list.HasVersionType(TVersionType::Registry, false));
    EXPECT_EQ(list.GetVersion(0).RemoveReason.str(), L"gone");
}

TEST(VersionsList, TypeTextOfTheLastOrdinalAndOfStrayValues) {
    EXPECT_EQ(VersionTypeText(TVersionType::RemoveMo), L"removeMo");
    EXPECT_EQ(VersionTypeText(static_cast<TVersionType>(8)), L"unknown");
}

}  // namespace
}  // namespace kelvra
