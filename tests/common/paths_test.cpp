#include "common/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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
    // Registry key names may hold ":" and "/".
    EXPECT_EQ(FileNamePart(L"Software\\Uninstall\\A:B/C", PathSeparators::Backslash), L"A:B/C");
}

// The extension is looked for in the file name alone: a "." in a folder
// name, or after the last separator of the rule only, counts.
TEST(Paths, ExtensionIsTheFileNamesFromItsLastFullStop) {
    struct Case {
        const wchar_t* path;
        PathSeparators rule;
        const wchar_t* extension;
        const wchar_t* baseName;
    };
    const Case cases[] = {
        {L"C:\\App\\app.tar.gz", PathSeparators::Any, L".gz", L"app.tar"},
        {L"C:\\App.d\\app", PathSeparators::Any, L"", L"app"},
        {L"C:\\App\\app.", PathSeparators::Any, L".", L"app"},
        {L"C:\\App\\.hidden", PathSeparators::Any, L".hidden", L""},
        {L"C:/d.x/app", PathSeparators::Any, L"", L"app"},
        {L"C:/d.x/app", PathSeparators::BackslashOrColon, L".x/app", L"/d"},
        {L"C:app.exe", PathSeparators::BackslashOrColon, L".exe", L"app"},
    };
    for (const Case& c : cases) {
        const std::wstring_view path = c.path;
        EXPECT_EQ(ExtensionPart(path, c.rule), c.extension) << c.path;
        EXPECT_EQ(FileNameWithoutExtension(path, c.rule), c.baseName) << c.path;
        EXPECT_EQ(std::wstring(WithoutExtension(path, c.rule)) +
                      std::wstring(ExtensionPart(path, c.rule)),
                  path)
            << c.path;
    }
}

TEST(Paths, TrailingBackslashIsAddedOnlyWhenMissing) {
    EXPECT_EQ(IncludeTrailingBackslash(L""), L"\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"C:"), L"C:\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"C:\\App\\"), L"C:\\App\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"C:\\App/"), L"C:\\App/\\");
    EXPECT_EQ(IncludeTrailingSeparator(L"C:\\App/"), L"C:\\App/");
    EXPECT_EQ(IncludeTrailingSeparator(L"C:"), L"C:\\");
}

}  // namespace
}  // namespace kelvra
