#include "account/settings.h"

#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/sysfacts.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = SettingsFile;
        SettingsFile = dir_ / L"settings.ini";
    }
    void TearDown() override { SettingsFile = saved_; }

    std::string FileText() const { return ReadFileBytes(SettingsFile); }

    testing::TempDir dir_;
    std::wstring saved_;
};

const SettingsTexts kTexts{L"1", L"proxy.local", L"0x1F90", L"pu", L"pp", L"ann", L" pw ", L"Desk"};

TEST_F(SettingsFileTest, MissingFileGivesTheDefaults) {
    LoadSettings();
    EXPECT_FALSE(UseProxy);
    EXPECT_EQ(ProxyServer, L"");
    EXPECT_EQ(ProxyPort, 0);
    EXPECT_EQ(AccountUsername, L"");
    EXPECT_EQ(AccountPassword, L"");
    EXPECT_EQ(AccountProfile, GetComputerNameText() + L"." + GetUserNameText());
    EXPECT_FALSE(FileExists(SettingsFile)) << "the default profile is not written back";
}

TEST_F(SettingsFileTest, SavedValuesLoadBackByTheReadingRules) {
    SaveSettings(kTexts);
    LoadSettings();
    EXPECT_TRUE(UseProxy);
    EXPECT_EQ(ProxyServer, L"proxy.local");
    EXPECT_EQ(ProxyPort, 8080);
    EXPECT_EQ(ProxyUsername, L"pu");
    EXPECT_EQ(ProxyPassword, L"pp");
    EXPECT_EQ(AccountUsername, L"ann");
    EXPECT_EQ(AccountPassword, L"pw") << "blanks around a value are dropped on reading";
    EXPECT_EQ(AccountProfile, L"Desk");
}

TEST_F(SettingsFileTest, FreshSaveWritesAllEightKeysInOrder) {
    SaveSettings({L"0", L"", L"0", L"", L"", L"", L"", L"PC01.user1"});
    EXPECT_EQ(FileText(),
              "[Proxy]\r\nUse proxy=0\r\nServer=\r\nPort=0\r\nUsername=\r\nPassword=\r\n\r\n"
              "[Account]\r\nUsername=\r\nPassword=\r\nProfile=PC01.user1\r\n");
}

TEST_F(SettingsFileTest, UnreadablePortReadsAsZero) {
    SaveSettings({L"0", L"", L"abc", L"", L"", L"", L"", L"P"});
    LoadSettings();
    EXPECT_EQ(ProxyPort, 0);
}

TEST_F(SettingsFileTest, SaveKeepsForeignContent) {
    WriteFileBytes(SettingsFile, "[Mine]\r\nnote=keep me\r\n[Account]\r\nProfile=Old\r\n");
    SaveSettings(kTexts);
    const std::string text = FileText();
    EXPECT_NE(text.find("[Mine]\r\nnote=keep me\r\n"), std::string::npos);
    EXPECT_NE(text.find("Profile=Desk"), std::string::npos);
    EXPECT_EQ(text.find("Profile=Old"), std::string::npos);
}

TEST_F(SettingsFileTest, FailedSaveRaisesAndLeavesTheOldFileWhole) {
    const std::string old = "[Account]\r\nUsername=old\r\n";
    WriteFileBytes(SettingsFile, old);
    // A folder where the new file would be written makes the write fail.
    ASSERT_TRUE(ForceDirectories(SettingsFile + L".tmp"));
    try {
        SaveSettings(kTexts);
        FAIL() << "the save should have failed";
    } catch (const KelvraError& error) {
        EXPECT_EQ(error.message(), L"Unable to write to " + SettingsFile);
    }
    EXPECT_EQ(FileText(), old);
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderRaises) {
    SettingsFile = dir_ / L"gone" + L"/settings.ini";
    EXPECT_THROW(SaveSettings(kTexts), KelvraError);
}

}  // namespace
}  // namespace kelvra
