// Executable discovery on real folders of the development machine, with a
// reader that makes up a version per file instead of reading resources. The
// paths are written with backslashes, as the program writes them; the native
// file layer turns them into slashes.

#include "inventory/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/globals.h"
#include "common/paths.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "inventory/kv_objs.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

using Texts = std::vector<std::wstring>;

// ---- path helpers ---------------------------------------------------------------

TEST(DiscoveryPaths, SameFolderIgnoresCaseAndTheTrailingBackslash) {
    EXPECT_TRUE(SameFolder(L"C:\\Users\\Me\\Temp", L"c:\\users\\me\\temp\\"));
    EXPECT_FALSE(SameFolder(L"C:\\Users\\Me\\Temp\\Sub\\", L"C:\\Users\\Me\\Temp\\"));
    EXPECT_FALSE(SameFolder(L"", L"C:\\Temp\\"));
    // Only A to Z are folded.
    EXPECT_FALSE(SameFolder(L"C:\\\u00c9t\u00e9", L"C:\\\u00e9t\u00e9"));
}

TEST(DiscoveryPaths, RemoveEmptyEntriesKeepsTheOrder) {
    Texts list{L"", L"b", L"", L"a", L""};
    RemoveEmptyEntries(list);
    EXPECT_EQ(list, (Texts{L"b", L"a"}));
}

// ---- a scratch tree ----------------------------------------------------------------

class ScratchTree {
  public:
    ScratchTree() {
        root_ = std::filesystem::temp_directory_path() /
                ("kelvra-disc-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
    }
    ~ScratchTree() { std::filesystem::remove_all(root_); }

    // The folder as the program writes it, with a trailing backslash.
    std::wstring Folder(const std::wstring& relative = L"") const {
        std::wstring path = (root_ / relative).wstring();
        std::replace(path.begin(), path.end(), L'/', L'\\');
        while (path.size() > 1 && path.back() == L'\\') path.pop_back();
        return path + L"\\";
    }
    void File(const std::wstring& relative, std::size_t size = 2) const {
        const auto path = root_ / Native(relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    }
    void Dir(const std::wstring& relative) const {
        std::filesystem::create_directories(root_ / Native(relative));
    }

  private:
    static std::wstring Native(std::wstring path) {
        std::replace(path.begin(), path.end(), L'\\', L'/');
        return path;
    }
    std::filesystem::path root_;
};

TEST(ListFiles, OnlyNonEmptyFilesWithTheExactExtensionSorted) {
    ScratchTree tree;
    for (const wchar_t* name : {L"b.exe", L"A.EXE", L"c.Exe", L"app.exe.bak", L"app.exe1",
                                L"readme.txt", L"noext", L".hidden.exe"})
        tree.File(name);
    tree.File(L"empty.exe", 0);
    tree.Dir(L"folder.exe");

    Texts list{L"left over"};
    EXPECT_EQ(ListFiles(tree.Folder() + L"*.exe", false, list, true, L".exe"), 4);
    EXPECT_EQ(list, (Texts{L".hidden.exe", L"A.EXE", L"b.exe", L"c.Exe"}));

    ListFiles(tree.Folder() + L"*.exe", true, list, false, L".EXE");
    EXPECT_EQ(list, (Texts{tree.Folder() + L".hidden.exe", tree.Folder() + L"A.EXE",
                           tree.Folder() + L"b.exe", tree.Folder() + L"c.Exe",
                           tree.Folder() + L"empty.exe"}));

    // Without an extension the mask alone decides.
    ListFiles(tree.Folder() + L"*", false, list, true, L"");
    EXPECT_EQ(list.size(), 8u);

    EXPECT_EQ(ListFiles(tree.Folder() + L"missing\\*.exe", true, list, true, L".exe"), 0);
    EXPECT_TRUE(list.empty());
}

// ---- FindExecutables -------------------------------------------------------------------

// Hands out "1.0.0.<n>" in the order of reading and remembers what it read;
// files named "broken*" fail.
class CountingReader : public FileVersionReader {
  public:
    FileVersionResult Read(const std::wstring& path) override {
        read.push_back(path);
        const std::wstring name = FileNamePart(path, PathSeparators::Any);
        if (name.compare(0, 6, L"broken") == 0) return {false, L"9.9", L"9.9", L"9.9"};
        const std::wstring n = std::to_wstring(read.size());
        return {true, L"1.0.0." + n, L"", L""};
    }
    Texts read;
};

class FindExecutablesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reader_ = std::make_shared<CountingReader>();
        previousReader_ = SetFileVersionReader(reader_);
        savedWindows_ = WindowsDir;
        WindowsDir = L"C:\\Windows\\";
    }
    void TearDown() override {
        SetFileVersionReader(previousReader_);
        WindowsDir = savedWindows_;
    }

    std::unique_ptr<TApp> Run(const std::wstring& location, const std::wstring& uninstall = L"",
                              const std::wstring& icon = L"", const std::wstring& name = L"App") {
        auto app = std::make_unique<TApp>(L"Software\\X\\App", L"App");
        app->regInstallLocation = location;
        app->regUninstallString = uninstall;
        app->regDisplayIcon = icon;
        app->regDisplayName = name;
        app->FindExecutables();
        return app;
    }

    // (fetch, points) of each "fileversion1" candidate, in order.
    static std::vector<std::pair<std::wstring, int>> Files(const TApp& app) {
        std::vector<std::pair<std::wstring, int>> files;
        for (std::size_t i = 0; i < app.Versions.Count(); ++i)
            if (app.Versions.GetVersionType(i) == TVersionType::FileVersion1)
                files.emplace_back(app.Versions.GetFetch(i), app.Versions.GetVersion(i).Points);
        return files;
    }

    ScratchTree tree_;
    std::shared_ptr<CountingReader> reader_;
    std::shared_ptr<FileVersionReader> previousReader_;
    std::wstring savedWindows_;
};

TEST_F(FindExecutablesTest, InstallersAreStruckOutAndOddNamesNeverListed) {
    for (const wchar_t* name :
         {L"unins000.exe", L"Uninstall.exe", L"Setup.exe", L"MySetup.exe", L"setup2.exe",
          L"Install.exe", L"app.exe.bak", L"app.exe1", L"tool.exe"})
        tree_.File(name);
    tree_.File(L"app.exe", 0);
    const std::wstring dir = tree_.Folder();

    const auto app = Run(dir.substr(0, dir.size() - 1));  // without its backslash
    EXPECT_EQ(app->regInstallLocation.str(), dir);
    EXPECT_EQ(app->executablePath.str(), dir);
    EXPECT_EQ(Files(*app),
              (std::vector<std::pair<std::wstring, int>>{
                  {dir + L"Install.exe", 0}, {dir + L"setup2.exe", 0}, {dir + L"tool.exe", 0}}));
}

TEST_F(FindExecutablesTest, InstallLocationIsNormalisedEvenWhenMissing) {
    const auto app = Run(L"C:\\Program Files\\Nowhere");
    EXPECT_EQ(app->regInstallLocation.str(), L"C:\\Program Files\\Nowhere\\");
    EXPECT_EQ(app->executablePath.str(), L"");
    EXPECT_EQ(app->Versions.Count(), 0u);

    // A 255-byte location has no room for the backslash: its folder part,
    // the parent, is taken instead.
    const std::wstring parent = L"C:\\" + std::wstring(240, L'p') + L"\\";
    const auto cut = Run(parent + std::wstring(255 - parent.size(), L'c'));
    EXPECT_EQ(cut->regInstallLocation.str(), parent);
}

TEST_F(FindExecutablesTest, BinFolderReplacesTheListEvenWhenEmpty) {
    tree_.File(L"launcher.exe");
    tree_.File(L"bin\\real.exe");
    tree_.File(L"bin\\unins001.exe");
    const std::wstring dir = tree_.Folder();
    EXPECT_EQ(Files(*Run(dir)),
              (std::vector<std::pair<std::wstring, int>>{{dir + L"bin\\real.exe", 0}}));
}

TEST_F(FindExecutablesTest, EmptyBinFolderLeavesNothing) {
    tree_.File(L"launcher.exe");
    tree_.Dir(L"bin");
    const auto app = Run(tree_.Folder());
    EXPECT_EQ(app->executablePath.str(), tree_.Folder());
    EXPECT_TRUE(Files(*app).empty());
}

TEST_F(FindExecutablesTest, IconExecutableIsTaggedByWhereItWasFound) {
    tree_.File(L"App\\app.exe");
    tree_.File(L"App\\zz.exe");
    tree_.File(L"App\\unins000.exe");
    tree_.File(L"Other\\tool.exe");
    const std::wstring dir = tree_.Folder(L"App");

    // Listed: tag 2, in its place; the icon index goes.
    EXPECT_EQ(
        Files(*Run(dir, L"", dir + L"app.exe,0")),
        (std::vector<std::pair<std::wstring, int>>{{dir + L"app.exe", 2}, {dir + L"zz.exe", 0}}));
    // Elsewhere: appended with tag 1, outside the folder and its rules.
    const std::wstring other = tree_.Folder(L"Other") + L"tool.exe";
    EXPECT_EQ(Files(*Run(dir, L"", other)),
              (std::vector<std::pair<std::wstring, int>>{
                  {dir + L"app.exe", 0}, {dir + L"zz.exe", 0}, {other, 1}}));
    // A struck-out uninstaller comes back as the icon.
    EXPECT_EQ(Files(*Run(dir, L"", dir + L"unins000.exe")).back(),
              (std::pair<std::wstring, int>{dir + L"unins000.exe", 1}));
    // Icons that do not exist, or name no executable, add nothing.
    for (const std::wstring& icon : {dir + L"gone.exe", std::wstring(L"%SystemRoot%\\x.exe"),
                                     dir + L"app.ico", std::wstring(L".exe")})
        EXPECT_EQ(Files(*Run(dir, L"", icon)).size(), 2u) << WideToAnsi(icon);
}

// (Named so that the test's own folder does not contain the word: the whole
// entry, folder included, is searched for it.)
TEST_F(FindExecutablesTest, InstallerServiceEntriesAreSkippedWhateverTheirTag) {
    tree_.File(L"App\\app.exe");
    tree_.File(L"Sys\\MSIEXEC.exe");
    const std::wstring dir = tree_.Folder(L"App");
    const auto app = Run(dir, L"", tree_.Folder(L"Sys") + L"MSIEXEC.exe");
    EXPECT_EQ(Files(*app), (std::vector<std::pair<std::wstring, int>>{{dir + L"app.exe", 0}}));
}

TEST_F(FindExecutablesTest, FailedReadsAddNothingAndTheRestIsRead) {
    tree_.File(L"a.exe");
    tree_.File(L"broken.exe");
    tree_.File(L"c.exe");
    const std::wstring dir = tree_.Folder();
    const auto app = Run(dir);
    EXPECT_EQ(reader_->read, (Texts{dir + L"a.exe", dir + L"broken.exe", dir + L"c.exe"}));
    EXPECT_EQ(Files(*app), (std::vector<std::pair<std::wstring, int>>{{dir + L"a.exe", 0},
                                                                      {dir + L"c.exe", 0}}));
    EXPECT_EQ(app->Versions.GetVersionText(1), L"1.0.0.3");
}

TEST_F(FindExecutablesTest, UninstallCommandIsTheSecondSource) {
    tree_.File(L"App\\app.exe");
    const std::wstring dir = tree_.Folder(L"App");

    // The install location is missing: the command's folder is used.
    EXPECT_EQ(Run(L"", dir + L"uninst.exe /S")->executablePath.str(), dir);
    EXPECT_EQ(Run(L"C:\\Nowhere\\", dir + L"uninst.exe /S")->executablePath.str(), dir);
    // The temporary folder itself does not count as an install location.
    EXPECT_EQ(Run(GetTempDir(), dir + L"uninst.exe /S")->executablePath.str(), dir);
    // MsiExec: no folder and no candidates.
    const auto msi = Run(L"", L"MsiExec.exe /X{12345678-1234-1234-1234-123456789012}");
    EXPECT_EQ(msi->executablePath.str(), L"");
    EXPECT_EQ(msi->Versions.Count(), 0u);
    // A command without a folder names none.
    EXPECT_EQ(Run(L"", L"uninst.exe /S")->executablePath.str(), L"");
}

TEST_F(FindExecutablesTest, UnwiseCommandGivesItsFolderUnchecked) {
    const auto app =
        Run(L"", L"C:\\Program Files\\App\\UNWISE.EXE C:\\Program Files\\App\\INSTALL.LOG");
    EXPECT_EQ(app->executablePath.str(), L"C:\\Program Files\\App\\");
    EXPECT_EQ(app->Versions.Count(), 0u);
    // Also after a MsiExec command.
    EXPECT_EQ(Run(L"", L"X:\\Odd\\unwise.exe msiexec.exe")->executablePath.str(), L"X:\\Odd\\");
}

TEST_F(FindExecutablesTest, FoldersInTheWindowsFolderAreNotExamined) {
    tree_.File(L"Win\\system32\\app.exe");
    WindowsDir = tree_.Folder(L"Win");
    const auto app = Run(tree_.Folder(L"Win\\system32"));
    EXPECT_EQ(app->executablePath.str(), L"");
    EXPECT_EQ(app->Versions.Count(), 0u);

    // A lone backslash is in every path.
    tree_.File(L"App\\app.exe");
    WindowsDir = L"\\";
    EXPECT_EQ(Run(tree_.Folder(L"App"))->executablePath.str(), L"");
}

}  // namespace
}  // namespace kelvra
