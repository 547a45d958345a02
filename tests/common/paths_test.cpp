#include "common/paths.h"

#include <gtest/gtest.h>

namespace kelvra {
namespace {

TEST(Paths, FolderAndFileNameSplitAtTheLastSeparatorOfTheRule) {
    for (const PathSeparators rule : {PathSeparators::BackslashOrColon, PathSeparators::Any}) {
        EXPECT_EQ(FolderPart(L"C:\\App\\app.exe", rule), L"C:\\App\\");
        EXPECT_EQ(FileNamePart(L"C:\\App\\app.exe", rule), L"app.exe");
        EXPECT_EQ(FolderPart(L"C:app.exe", rule), L"C:");
        EXPECT_EQ(FileNamePart(L"C:app.exe", rule), L"app.exe");
        EXPECT_EQ(FolderPart(L"app.exe", rule), L"");
        EXPECT_EQ(FileNamePart(L"app.exe", rule), L"app.exe");
        EXPECT_EQ(FileNamePart(L"C:\\App\\", rule), L"");
    }
    // The rules differ in "/" alone: an entry's "C:/Tools/x.exe" keeps its
    // slashes in the folder the reports show.
    EXPECT_EQ(FolderPart(L"C:/Tools/x.exe", PathSeparators::BackslashOrColon), L"C:");
    EXPECT_EQ(FolderPart(L"C:/Tools/x.exe", PathSeparators::Any), L"C:/Tools/");
    EXPECT_EQ(FileNameStart(L"Z:/tmp\\a/b.exe", PathSeparators::Any), 9u);
}

TEST(Paths, TrailingBackslashIsAddedOnlyWhenMissing) {
    EXPECT_EQ(IncludeTrailingBackslash(L""), L"\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"C:"), L"C:\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"C:\\App\\"), L"C:\\App\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"C:\\App/"), L"C:\\App/\\");
}

}  // namespace
}  // namespace kelvra
