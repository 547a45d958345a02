// Discovery and naming end to end under Windows: program folders laid out on
// drive C: with the fixture executables, real uninstall entries in the
// machine's registry, read back through the registry accessor into a TApp,
// and Process run on it with the real version reader.

#include "inventory/discovery.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/globals.h"
#include "common/handles_win32.h"
#include "common/registry.h"
#include "common/sysfacts.h"
#include "fixtures/fixture_files_win32.h"
#include "inventory/kv_objs.h"
#include "support/version_blocks.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

using fixtures::CopyFixture;
using fixtures::ScratchFolder;

// One uninstall entry of the process's own registry view, removed again when
// the object goes.
class UninstallEntry {
  public:
    UninstallEntry() {
        static int counter = 0;
        name_ = L"KelvraTest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(counter++);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        key_.reset(key);
    }
    ~UninstallEntry() {
        key_.reset();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path().c_str());
    }
    UninstallEntry(const UninstallEntry&) = delete;
    UninstallEntry& operator=(const UninstallEntry&) = delete;

    void Set(const std::wstring& name, const std::wstring& text) {
        ASSERT_EQ(RegSetValueExW(key_.get(), name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    std::wstring Path() const { return std::wstring(kUninstallKey) + L"\\" + name_; }

    // The entry read as the inventory reads it, then processed.
    std::unique_ptr<TApp> Process() const {
        auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
        auto app = std::make_unique<TApp>(Path(), name_);
        EXPECT_TRUE(app->ReadFromRegistry(*registry));
        app->Process();
        return app;
    }

  private:
    std::wstring name_;
    UniqueHKey key_;
};

struct Candidate {
    std::wstring type, text, fetch;
    int points;
    bool active;
    std::wstring reason;
    friend bool operator==(const Candidate&, const Candidate&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Candidate& c) {
        return out << WideToAnsi(c.type) << " " << WideToAnsi(c.text) << " [" << WideToAnsi(c.fetch)
                   << "] " << c.points << (c.active ? " active" : " removed: ")
                   << WideToAnsi(c.reason);
    }
};

std::vector<Candidate> CandidatesOf(const TApp& app) {
    std::vector<Candidate> list;
    for (std::size_t i = 0; i < app.Versions.Count(); ++i) {
        const TVersion& v = app.Versions.GetVersion(i);
        list.push_back({std::wstring(v.TypeText()), v.Version.str(), v.Fetch.str(), v.Points,
                        !v.Removed, v.RemoveReason.str()});
    }
    return list;
}

std::wstring ChosenVersion(const TApp& app) {
    if (app.Versions.ActiveCount() != 1) return L"";
    for (std::size_t i = 0; i < app.Versions.Count(); ++i)
        if (app.Versions.IsActive(i)) return app.Versions.GetVersionText(i);
    return L"";
}

// Program folders below C:\kvtest, as installed programs lie on a real drive.
class InstalledPrograms : public ::testing::Test {
  protected:
    void TearDown() override {
        fixtures::RemoveTree(root_.path().substr(0, root_.path().size() - 1));
        RemoveDirectoryW(L"C:\\kvtest");  // only when no other run uses it
    }

    // The new folder, with its trailing backslash.
    std::wstring MakeFolder(const std::wstring& relative) {
        const std::wstring path = root_ / (relative + L"\\");
        EXPECT_TRUE(ForceDirectories(path));
        return path;
    }
    void Empty(const std::wstring& path) { WriteFileBytes(path, ""); }

    ScratchFolder root_{L"C:\\kvtest"};
};

TEST_F(InstalledPrograms, TypicalApplicationEndsWithItsFixedFileVersion) {
    const std::wstring dir = MakeFolder(L"Foo Bar");
    CopyFixture(L"fv_1234", dir + L"FooBar.exe");
    CopyFixture(L"fv_max", dir + L"helper.exe");
    CopyFixture(L"fv_otherlang", dir + L"hidden.exe");
    SetFileAttributesW((dir + L"hidden.exe").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    for (const wchar_t* installer :
         {L"unins000.exe", L"Setup.exe", L"MySetup.exe", L"app.exe.bak", L"app.exe1"})
        CopyFixture(L"fv_multi", dir + installer);
    CopyFixture(L"fv_none", dir + L"setup2.exe");
    CopyFixture(L"fv_none", dir + L"Install.exe");
    Empty(dir + L"app.exe");

    UninstallEntry entry;
    entry.Set(L"DisplayName", L"Foo Bar 1.2");
    entry.Set(L"DisplayVersion", L"1.2.3");
    entry.Set(L"InstallLocation", dir.substr(0, dir.size() - 1));
    entry.Set(L"DisplayIcon", L"\"" + dir + L"FOOBAR.EXE\",0");
    entry.Set(L"UninstallString", L"\"" + dir + L"unins000.exe\"");
    const auto app = entry.Process();

    EXPECT_EQ(app->regInstallLocation.str(), dir);
    EXPECT_EQ(app->executablePath.str(), dir);
    EXPECT_EQ(app->niceName.str(), L"Foo Bar");
    const std::wstring key = entry.Path(), foo = dir + L"FooBar.exe", helper = dir + L"helper.exe";
    const std::vector<Candidate> expected = {
        {L"registry", L"1.2.3", key, 0, false,
         L"DeleteMajorVersions: vtEersteVersieIsMajorVanTweede (1.2.3-1.2.3.4)"},
        // The icon names the listed FooBar.exe: 2 points, taken over from its
        // duplicate, and one more for beating the registry text.
        {L"fileversion1", L"1.2.3.4", foo, 3, true, L""},
        {L"fileversion2", L"1.2.3.4", foo, 2, false, L"DeleteDouble: 1.2.3.4"},
        {L"fileversion3", L"1.2", foo, 2, false,
         L"DeleteMajorVersions: vtTweedeIsMajorVanEerste (1.2.3.4-1.2)"},
        {L"fileversion1", L"65535.0.65535.1", helper, 0, false, L"DeleteAllButImportant1: run1"},
        {L"fileversion2", L"65535.0.65535.1", helper, 0, false, L"DeleteDouble: 65535.0.65535.1"},
        {L"fileversion3", L"2.0", helper, 0, false, L"DeleteAllButImportant1: run1"},
        // The hidden system file is listed; its strings are under another
        // code page than its translation says, so only the fixed version.
        {L"fileversion1", L"4.0.0.0", dir + L"hidden.exe", 0, false,
         L"DeleteAllButImportant1: run1"},
        {L"entryName", L"1.2", L"Foo Bar 1.2", 0, false, L"DeleteDouble: 1.2"},
    };
    EXPECT_EQ(CandidatesOf(*app), expected);
    EXPECT_EQ(ChosenVersion(*app), L"1.2.3.4");
}

TEST_F(InstalledPrograms, BinFolderReplacesTheFolderItself) {
    const std::wstring dir = MakeFolder(L"Two");
    CopyFixture(L"fv_max", dir + L"launcher.exe");
    MakeFolder(L"Two\\bin");
    CopyFixture(L"fv_1234", dir + L"bin\\real.exe");

    UninstallEntry entry;
    entry.Set(L"DisplayName", L"Real Thing");
    entry.Set(L"InstallLocation", dir);
    const auto app = entry.Process();

    EXPECT_EQ(app->executablePath.str(), dir);
    for (const Candidate& c : CandidatesOf(*app)) EXPECT_EQ(c.fetch, dir + L"bin\\real.exe") << c;
    EXPECT_EQ(ChosenVersion(*app), L"1.2.3.4");
}

TEST_F(InstalledPrograms, TemporaryFolderAsInstallLocationFallsToTheUninstallFolder) {
    const std::wstring dir = MakeFolder(L"Three");
    CopyFixture(L"fv_max", dir + L"three.exe");
    std::wstring temp = GetTempDir();
    ASSERT_FALSE(temp.empty());
    CharUpperW(temp.data());
    temp.pop_back();

    UninstallEntry entry;
    entry.Set(L"DisplayName", L"Three");
    entry.Set(L"InstallLocation", temp);
    entry.Set(L"UninstallString", dir + L"uninst.exe /S");
    const auto app = entry.Process();

    EXPECT_EQ(app->executablePath.str(), dir);
    // The file's name matches the display name, and its fixed version is
    // backed by its own "FileVersion" string: it beats the product's 2.0.
    EXPECT_EQ(ChosenVersion(*app), L"65535.0.65535.1");
}

TEST_F(InstalledPrograms, InstallerServiceAndWindowsFoldersGiveNoFiles) {
    UninstallEntry msi;
    msi.Set(L"DisplayName", L"Packaged 2.0");
    msi.Set(L"DisplayVersion", L"2.0.1");
    msi.Set(L"UninstallString", L"MsiExec.exe /X{12345678-1234-1234-1234-123456789012}");
    const auto packaged = msi.Process();
    EXPECT_EQ(packaged->executablePath.str(), L"");
    for (const Candidate& c : CandidatesOf(*packaged))
        EXPECT_TRUE(c.type == L"registry" || c.type == L"entryName") << c;

    UninstallEntry system;
    system.Set(L"DisplayName", L"System Part");
    system.Set(L"InstallLocation", GetWindowsDir() + L"system32");
    const auto part = system.Process();
    EXPECT_EQ(part->regInstallLocation.str(), GetWindowsDir() + L"system32\\");
    EXPECT_EQ(part->executablePath.str(), L"");
    EXPECT_EQ(part->Versions.Count(), 0u);
}

TEST_F(InstalledPrograms, DamagedExecutablesAddNothingButDoNotStopTheOthers) {
    const std::wstring dir = MakeFolder(L"Broken");
    const std::string good = ReadFileBytes(fixtures::FixturePath(L"fv_max"));
    WriteFileBytes(dir + L"a_truncated.exe", good.substr(0, good.size() / 2));
    std::string corrupt = good;
    fixtures::PatchWord(corrupt, fixtures::ResourceDirectoryOffset(good) + 14, 0xFFFF);
    WriteFileBytes(dir + L"b_corrupt.exe", corrupt);
    std::string lying = good;
    fixtures::PatchWord(lying, fixtures::VersionBlockOffset(good), 0xFFF0);
    WriteFileBytes(dir + L"c_lying.exe", lying);
    WriteFileBytes(dir + L"d_text.exe", "this is no program");
    // A 16-bit executable whose resource table never ends: the system's own
    // read of it ends the process.
    version_blocks::Bytes endless =
        version_blocks::NeExecutable(version_blocks::Typical16BitBlock());
    version_blocks::PutWord(endless, version_blocks::kNeTypeAt, 0x8003);
    version_blocks::PutWord(endless, version_blocks::kNeNameAt + 12, 0x8004);
    WriteFileBytes(dir + L"e_endless_table.exe",
                   std::string(reinterpret_cast<const char*>(endless.data()), endless.size()));
    CopyFixture(L"fv_1234", dir + L"z_good.exe");

    UninstallEntry entry;
    entry.Set(L"DisplayName", L"Broken Things");
    entry.Set(L"InstallLocation", dir);
    const auto app = entry.Process();

    EXPECT_EQ(app->executablePath.str(), dir);
    for (const Candidate& c : CandidatesOf(*app)) EXPECT_EQ(c.fetch, dir + L"z_good.exe") << c;
    EXPECT_EQ(ChosenVersion(*app), L"1.2.3.4");
}

TEST_F(InstalledPrograms, FilesThatVanishOrAreLockedAfterTheListingAddNothing) {
    const std::wstring dir = MakeFolder(L"Shifting");
    CopyFixture(L"fv_max", dir + L"a_vanishing.exe");
    CopyFixture(L"fv_max", dir + L"b_locked.exe");
    CopyFixture(L"fv_1234", dir + L"c_good.exe");
    UniqueHandle lock = MakeUniqueFileHandle(CreateFileW((dir + L"b_locked.exe").c_str(),
                                                         GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                         OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);

    // The folder has been listed when the versions are read: the first file
    // goes in between.
    struct VanishingFirst : FileVersionReader {
        std::wstring vanishing;
        FileVersionResult Read(const std::wstring& path) override {
            if (path == vanishing) DeleteFileW(path.c_str());
            return ReadFileVersions(path);
        }
    };
    auto reader = std::make_shared<VanishingFirst>();
    reader->vanishing = dir + L"a_vanishing.exe";
    const auto previous = SetFileVersionReader(reader);

    UninstallEntry entry;
    entry.Set(L"DisplayName", L"Shifting Sands");
    entry.Set(L"InstallLocation", dir);
    const auto app = entry.Process();
    SetFileVersionReader(previous);

    EXPECT_FALSE(FileExists(dir + L"a_vanishing.exe"));
    for (const Candidate& c : CandidatesOf(*app)) EXPECT_EQ(c.fetch, dir + L"c_good.exe") << c;
    EXPECT_EQ(ChosenVersion(*app), L"1.2.3.4");
}

TEST_F(InstalledPrograms, OverlongPathsAndUnlistableFoldersAreHarmless) {
    // A folder just short of the limit for folders, holding a file whose
    // full path is longer than 260 characters.
    std::wstring deep = root_.path();
    while (deep.size() < 230) deep += L"deep_folder\\";
    ASSERT_TRUE(ForceDirectories(deep));
    const std::wstring longFile = deep + std::wstring(60, L'x') + L".exe";
    ASSERT_GT(longFile.size(), 260u);
    ASSERT_TRUE(CopyFileW(fixtures::FixturePath(L"fv_1234").c_str(),
                          (L"\\\\?\\" + longFile).c_str(), FALSE));

    UninstallEntry entry;
    entry.Set(L"DisplayName", L"Deep Down");
    entry.Set(L"InstallLocation", deep);
    const auto app = entry.Process();
    EXPECT_EQ(app->executablePath.str(), deep);
    // Whatever the system makes of the long path, a candidate names the file
    // cut to 255 bytes.
    for (const Candidate& c : CandidatesOf(*app)) {
        if (c.type != L"entryName") {
            EXPECT_EQ(c.fetch, longFile.substr(0, 255)) << c;
        }
    }
    DeleteFileW((L"\\\\?\\" + longFile).c_str());

    // A location of more than 255 characters is cut, loses its added
    // backslash to the cut, and so leaves the folder above it.
    UninstallEntry overlong;
    overlong.Set(L"DisplayName", L"Overlong");
    overlong.Set(L"InstallLocation", root_.path() + std::wstring(300, L'o'));
    EXPECT_EQ(overlong.Process()->executablePath.str(), root_.path());

    // A folder named only through "unwise.exe" is taken unchecked; one that
    // cannot be listed gives no files but stays the folder.
    UninstallEntry unwise;
    unwise.Set(L"DisplayName", L"Unwise");
    unwise.Set(L"UninstallString",
               root_.path() + L"bad<|>\\UNWISE.EXE " + root_.path() + L"bad<|>\\INSTALL.LOG");
    const auto unlisted = unwise.Process();
    EXPECT_EQ(unlisted->executablePath.str(), root_.path() + L"bad<|>\\");
    EXPECT_EQ(unlisted->Versions.Count(), 0u);
}

TEST(DiscoveryListing, SystemWildcardsAreNarrowedToTheExtension) {
    ScratchFolder folder;
    const std::string exe = ReadFileBytes(fixtures::FixturePath(L"fv_none"));
    for (const wchar_t* name : {L"b.EXE", L"a.exe", L"c.exe1", L"d.exe.bak", L"e.exee"})
        WriteFileBytes(folder / name, exe);
    WriteFileBytes(folder / L"empty.exe", "");
    std::vector<std::wstring> list;
    EXPECT_EQ(ListFiles(folder / L"*.exe", false, list, true, L".exe"), 2);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"a.exe", L"b.EXE"}));
}

}  // namespace
}  // namespace kelvra
