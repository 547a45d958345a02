// Display names: the three forms of MakeNiceName, the candidate each hands to
// the version list, the trace lines, and the order in which Process puts the
// candidates before the pruning chain picks one.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/globals.h"
#include "common/textconv.h"
#include "inventory/kv_objs.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

struct Named {
    std::wstring niceName;
    std::vector<std::wstring> candidates;  // "entryName" texts as stored
};

Named NiceNameOf(const std::wstring& displayName) {
    TApp app(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Test", L"Test");
    app.regDisplayName = displayName;
    app.MakeNiceName();
    Named named{app.niceName.str(), {}};
    for (std::size_t i = 0; i < app.Versions.Count(); ++i) {
        EXPECT_EQ(app.Versions.GetVersionType(i), TVersionType::EntryName);
        EXPECT_EQ(app.Versions.GetFetch(i), displayName.substr(0, 255));
        named.candidates.push_back(app.Versions.GetVersionText(i));
    }
    return named;
}

using Texts = std::vector<std::wstring>;

TEST(MakeNiceName, TheExampleTable) {
    const struct {
        std::wstring displayName, niceName;
        Texts candidates;
    } cases[] = {
        {L"Foo 2.0 (build 1234)", L"Foo", {L"2.0 (build 1234)"}},
        {L"Foo Version 1.2", L"Foo ", {L"1.2"}},
        {L"Foo Version 1.2 beta", L"Foo Version 1.2 beta", {}},
        {L"Bar 3.1", L"Bar", {L"3.1"}},
        {L"Far Cry (Patch 1.3)", L"Far Cry", {L"1.3"}},
        {L"Some Tool", L"Some Tool", {}},
    };
    for (const auto& c : cases) {
        const Named named = NiceNameOf(c.displayName);
        EXPECT_EQ(named.niceName, c.niceName) << WideToAnsi(c.displayName);
        EXPECT_EQ(named.candidates, c.candidates) << WideToAnsi(c.displayName);
    }
}

TEST(MakeNiceName, BuildFormStopsAtTheFirstVersionWord) {
    // The empty word between two blanks is a version word.
    EXPECT_EQ(NiceNameOf(L"Foo  (build 12)").niceName, L"Foo");
    EXPECT_EQ(NiceNameOf(L"Foo  (build 12)").candidates, Texts{L"(build 12)"});
    // A first word that is a version word leaves no name; the leading V of
    // the version text goes in the cleaning.
    const Named v2 = NiceNameOf(L"V2 Tool (build 5)");
    EXPECT_EQ(v2.niceName, L"");
    EXPECT_EQ(v2.candidates, Texts{L"2 Tool (build 5)"});
    // No version word at all: the name stays, nothing is added.
    const Named none = NiceNameOf(L"Tool (build x)");
    EXPECT_EQ(none.niceName, L"Tool (build x)");
    EXPECT_TRUE(none.candidates.empty());
}

TEST(MakeNiceName, VersionFormNeedsTheBlankAndSkipsOneCharacter) {
    EXPECT_EQ(NiceNameOf(L"Foo version 2").niceName, L"Foo ");
    EXPECT_EQ(NiceNameOf(L"Foo version 2").candidates, Texts{L"2.0"});
    EXPECT_EQ(NiceNameOf(L"Foo Version:1.2").candidates, Texts{L"1.2"});
    // The empty tail passes: the name loses the word, nothing is added.
    EXPECT_EQ(NiceNameOf(L"Foo Version").niceName, L"Foo ");
    EXPECT_TRUE(NiceNameOf(L"Foo Version").candidates.empty());
    EXPECT_EQ(NiceNameOf(L"Foo VersionX").niceName, L"Foo ");
    // Without the blank it is the last word that counts.
    EXPECT_EQ(NiceNameOf(L"FooVersion 2").niceName, L"FooVersion");
    EXPECT_EQ(NiceNameOf(L"FooVersion 2").candidates, Texts{L"2.0"});
}

TEST(MakeNiceName, LastWordIsCutOutEverywhere) {
    EXPECT_EQ(NiceNameOf(L"7.0").niceName, L"");
    EXPECT_EQ(NiceNameOf(L"7.0").candidates, Texts{L"7.0"});
    EXPECT_EQ(NiceNameOf(L"App 2 Tools 2").niceName, L"App  Tools");
    EXPECT_EQ(NiceNameOf(L"Photo2Go 2").niceName, L"PhotoGo");
    // A year is no version; the key-name fallback is a name like any other.
    EXPECT_EQ(NiceNameOf(L"Office 2010").niceName, L"Office 2010");
    EXPECT_TRUE(NiceNameOf(L"(SomeKey)").candidates.empty());
    // A trailing blank leaves an empty last word: nothing to cut.
    EXPECT_EQ(NiceNameOf(L"Bar 3.1 ").niceName, L"Bar 3.1 ");
}

TEST(MakeNiceName, OnlyTheFirstThirtyWordsCount) {
    std::wstring name;
    for (int i = 0; i < 29; ++i) name += L"Word ";
    name += L"4.5 Trailing";  // the 30th word is 4.5, the 31st is dropped
    const Named named = NiceNameOf(name);
    EXPECT_EQ(named.candidates, Texts{L"4.5"});
    EXPECT_EQ(named.niceName.substr(named.niceName.size() - 8), L"Trailing");
}

// ---- trace lines -------------------------------------------------------------

class NiceNameTrace : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("kelvra-nn-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        saved_ = {LogEnabled, AppDataDir};
        LogEnabled = true;
        AppDataDir = folder_.wstring() + L"/";
    }
    void TearDown() override {
        LogEnabled = saved_.first;
        AppDataDir = saved_.second;
        std::filesystem::remove_all(folder_);
    }
    std::vector<std::string> TakeMessages() {
        std::vector<std::string> messages;
        {
            std::ifstream in(folder_ / "logreg.txt", std::ios::binary);
            std::string line;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                messages.push_back(line.substr(line.find("> ") + 2));
            }
        }
        std::filesystem::remove(folder_ / "logreg.txt");
        return messages;
    }
    std::filesystem::path folder_;
    std::pair<bool, std::wstring> saved_;
};

TEST_F(NiceNameTrace, MarkerLinesForTheWatchedNames) {
    NiceNameOf(L"Super Far Cry (Patch 1.3)");
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"a", "b"}));
    NiceNameOf(L"Plain 1.0");
    EXPECT_TRUE(TakeMessages().empty());

    TApp putty(L"Software\\X\\PuTTY", L"PuTTY");
    putty.regDisplayName = L"PuTTY release 0.76";
    putty.Process();  // no folder: discovery writes nothing
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"a"}));
}

// ---- Process ---------------------------------------------------------------------

class VersionsByPath : public FileVersionReader {
  public:
    FileVersionResult Read(const std::wstring&) override {
        return {true, L"2.5.1.0", L"2, 5, 1, 0", L"2.5.1"};
    }
};

TEST(Process, FileCandidatesComeBeforeTheNameAndTheChainPicksOne) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "kelvra-process-order";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "abc.exe") << "MZ";
    std::wstring native = folder.wstring() + L"/";
    std::replace(native.begin(), native.end(), L'/', L'\\');

    const auto previous = SetFileVersionReader(std::make_shared<VersionsByPath>());
    const std::wstring savedWindows = WindowsDir;
    WindowsDir = L"C:\\Windows\\";

    TApp app(L"Software\\X\\Abc", L"Abc");
    app.regDisplayName = L"Abc 2.5";
    app.regInstallLocation = native;
    app.Versions.AddVersion(L"2.5.1", TVersionType::Registry, L"Software\\X\\Abc", 0);
    app.Process();

    WindowsDir = savedWindows;
    SetFileVersionReader(previous);
    std::filesystem::remove_all(folder);

    ASSERT_EQ(app.Versions.Count(), 5u);
    const TVersionType order[] = {TVersionType::Registry, TVersionType::FileVersion1,
                                  TVersionType::FileVersion2, TVersionType::FileVersion3,
                                  TVersionType::EntryName};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(app.Versions.GetVersionType(i), order[i]) << i;
    EXPECT_EQ(app.niceName.str(), L"Abc");
    EXPECT_EQ(app.executablePath.str(), native);
    // The fixed file version of the one executable survives: it outlives
    // its own duplicate and beats the registry text and the name's version.
    ASSERT_EQ(app.Versions.ActiveCount(), 1u);
    EXPECT_TRUE(app.Versions.IsActive(1));
    EXPECT_EQ(app.Versions.GetVersionText(1), L"2.5.1.0");
    EXPECT_EQ(app.Versions.GetVersion(2).RemoveReason.str(), L"DeleteDouble: 2.5.1.0");
}

}  // namespace
}  // namespace kelvra
