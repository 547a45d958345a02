#include <gtest/gtest.h>

#include "common/paths.h"
#include "shell/main.h"

namespace kelvra {
namespace {

TEST(InstallTriggerTest, OnlyTheWholeNameInAnyLetterCase) {
    EXPECT_TRUE(IsInstallTrigger(L"akelvra.exe"));
    EXPECT_TRUE(IsInstallTrigger(L"AKelvra.EXE"));
    EXPECT_TRUE(IsInstallTrigger(L"AKELVRA.EXE"));
    for (const wchar_t* name : {L"akelvra (1).exe", L"akelvra", L"kelvra_run.exe", L"xakelvra.exe",
                                L"akelvra.exe.exe", L"akelvra.ex", L"akelvra.exe ", L""})
        EXPECT_FALSE(IsInstallTrigger(name)) << name;
}

// The program's own name, as the entry takes it from its path.
std::wstring OwnName(std::wstring_view path) { return FileNamePart(path, PathSeparators::Any); }

TEST(InstallTriggerTest, FileNameIsWhatFollowsTheLastDelimiter) {
    EXPECT_EQ(OwnName(L"C:\\Users\\Ann Lee\\Downloads\\AKelvra.EXE"), L"AKelvra.EXE");
    EXPECT_EQ(OwnName(L"Z:/tmp/akelvra.exe"), L"akelvra.exe");
    EXPECT_EQ(OwnName(L"C:akelvra.exe"), L"akelvra.exe");
    EXPECT_EQ(OwnName(L"akelvra.exe"), L"akelvra.exe");
    EXPECT_EQ(OwnName(L"C:\\folder\\"), L"");
    // A folder named like the trigger does not make its programs installers.
    EXPECT_FALSE(IsInstallTrigger(OwnName(L"C:\\akelvra.exe\\kelvra_run.exe")));
}

TEST(AutostartCommandTest, PathIsQuotedSoBlanksCannotSplitIt) {
    EXPECT_EQ(AutostartCommand(L"C:\\Users\\Ann Lee\\AppData\\Local\\Kelvra\\kelvra_run.exe"),
              L"\"C:\\Users\\Ann Lee\\AppData\\Local\\Kelvra\\kelvra_run.exe\"");
    EXPECT_EQ(AutostartCommand(L"C:\\k.exe"), L"\"C:\\k.exe\"");
}

TEST(TrayMutexNameTest, OnePerUserOfTheSessionAndAValidObjectName) {
    EXPECT_EQ(TrayMutexName(L"ann").rfind(L"Local\\", 0), 0u);
    EXPECT_NE(TrayMutexName(L"ann"), TrayMutexName(L"bob"));
    const std::wstring odd = TrayMutexName(L"DOMAIN\\ann");
    EXPECT_EQ(odd.find(L'\\', 6), std::wstring::npos) << "only the namespace may hold a backslash";
    // The command message of another user's tray is another message.
    EXPECT_NE(TrayCommandMessageName(L"ann"), TrayCommandMessageName(L"bob"));
}

}  // namespace
}  // namespace kelvra
