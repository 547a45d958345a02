// GetWindowsDir over the process's in-memory registry, and the development
// machine's stand-ins for the other facts.

#include "common/sysfacts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "common/globals.h"
#include "common/registry.h"

namespace kelvra {
namespace {

constexpr auto kMachine = RegistryRoot::LocalMachine;
constexpr auto kOwn = RegistryView::Own;
constexpr wchar_t kOlderPlace[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kCurrentPlace[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// WindowsDir caches the answer for the life of the process: every test starts
// with an empty cache and an empty machine registry.
class WindowsDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = WindowsDir;
        WindowsDir.clear();
        Machine().Clear();
    }
    void TearDown() override {
        Machine().Clear();
        WindowsDir = saved_;
    }
    static MemoryRegistry& Machine() { return MemoryRegistry::Machine(); }

    std::wstring saved_;
};

TEST_F(WindowsDirTest, CurrentPlaceIsReadAndCached) {
    Machine().SetString(kMachine, kOwn, kCurrentPlace, L"SystemRoot", L"C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDir(), L"C:\\WINDOWS\\");
    EXPECT_EQ(WindowsDir, L"C:\\WINDOWS\\");
    Machine().Clear();
    EXPECT_EQ(GetWindowsDir(), L"C:\\WINDOWS\\") << "the second call does not read again";
}

TEST_F(WindowsDirTest, OlderPlaceWinsWhenItHoldsText) {
    Machine().SetString(kMachine, kOwn, kOlderPlace, L"SystemRoot", L"D:\\WINNT\\");
    Machine().SetString(kMachine, kOwn, kCurrentPlace, L"SystemRoot", L"C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDir(), L"D:\\WINNT\\") << "no second backslash";
}

TEST_F(WindowsDirTest, EmptyOlderValueFallsThroughToTheCurrentPlace) {
    Machine().SetString(kMachine, kOwn, kOlderPlace, L"SystemRoot", L"");
    Machine().SetString(kMachine, kOwn, kCurrentPlace, L"SystemRoot", L"C:\\Windows");
    EXPECT_EQ(GetWindowsDir(), L"C:\\Windows\\");
}

TEST_F(WindowsDirTest, OnlyTheProcesssOwnViewIsRead) {
    Machine().SetString(kMachine, RegistryView::Wow64_64, kCurrentPlace, L"SystemRoot",
                        L"C:\\Other");
    EXPECT_EQ(GetWindowsDir(), L"\\");
}

TEST_F(WindowsDirTest, NoValueGivesALoneBackslashThatIsCachedToo) {
    Machine().AddKey(kMachine, kOwn, kCurrentPlace);
    EXPECT_EQ(GetWindowsDir(), L"\\");
    Machine().SetString(kMachine, kOwn, kCurrentPlace, L"SystemRoot", L"C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDir(), L"\\");
}

TEST_F(WindowsDirTest, NonTextValueReachesTheCallerAndCachesNothing) {
    Machine().SetDWord(kMachine, kOwn, kCurrentPlace, L"SystemRoot", 1);
    try {
        GetWindowsDir();
        ADD_FAILURE() << "no error for a number";
    } catch (const RegistryError& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'SystemRoot'");
    }
    EXPECT_EQ(WindowsDir, L"");
}

// Sets an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (saved_)
            setenv(name_, saved_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(SysFactsNative, StandInsComeFromTheEnvironment) {
    {
        ScopedEnv local("LOCALAPPDATA", "/data/local/");
        EXPECT_EQ(GetSpecialFolder(kCsidlLocalAppData), L"/data/local");
        EXPECT_EQ(GetLocalAppDataDir(), L"/data/local\\");
    }
    {
        ScopedEnv local("LOCALAPPDATA", nullptr);
        ScopedEnv home("HOME", nullptr);
        EXPECT_EQ(GetLocalAppDataDir(), L"\\") << "no folder known: a lone backslash";
    }
    {
        ScopedEnv temp("TMPDIR", "/scratch");
        EXPECT_EQ(GetTempDir(), L"/scratch/");
    }
    {
        ScopedEnv temp("TMPDIR", nullptr);
        EXPECT_EQ(GetTempDir(), L"/tmp/");
    }
    {
        ScopedEnv computer("COMPUTERNAME", "A-VERY-LONG-COMPUTER-NAME");
        ScopedEnv user("USER", "  user1\t");
        EXPECT_EQ(GetComputerNameText(), L"A-VERY-LONG-COM");
        EXPECT_EQ(GetUserNameText(), L"user1");
    }
}

}  // namespace
}  // namespace kelvra
