// The data folder going wrong, for real in the test prefix: missing, a file
// standing in its place, full, read-only; before a run, in the middle of one
// and under a settings save. Whatever the fault, a run fails without a
// payload path and leaves no file that was not written whole, a save leaves
// the old settings file as it was, and once the fault is gone the next run
// and the next save work.

#include <gtest/gtest.h>

#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/textconv.h"
#include "fixtures/fixture_files_win32.h"
#include "shell/inventory_run.h"
#include "support/allowed_skip.h"
#include "support/saved_settings.h"
#include "support/small_disk_win32.h"
#include "support/uninstall_keys_win32.h"

namespace kelvra {
namespace {

using fixtures::ScratchFolder;
using testing::SmallDisk;
using testing::UninstallKeys;

const SettingsTexts kNewTexts{L"0", L"", L"0", L"", L"", L"new", L"pw", L"P"};
const std::string kOldSettings = "[Account]\r\nUsername=old\r\nPassword=pw\r\nProfile=P\r\n";
// The line of this test's own uninstall entry in a payload.
const std::string kProbeLine = "Data Folder Probe\t1.0\r\n";

class DataFolderFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = {AppDataDir, AppVersion, SettingsFile};
        AppVersion = L"2.0";
        AccountProfile = L"P";
        const std::wstring entry = UninstallKeys::UniqueName(L"datafolder");
        keys_.SetText(entry, L"DisplayName", L"Data Folder Probe 1.0");
        folder_ = root_ / L"data";
        AppDataDir = folder_ + L"\\";
        SettingsFile = AppDataDir + L"settings.ini";
    }
    void TearDown() override {
        SetPendingMessagePump({});
        AppDataDir = saved_[0];
        AppVersion = saved_[1];
        SettingsFile = saved_[2];
    }

    // The run fails, hands out no path, and what it leaves is whole.
    void ExpectFailedRun() {
        std::wstring payload = L"(none)";
        EXPECT_THROW(payload = RunInventory(), FileError);
        EXPECT_EQ(payload, L"(none)");
        ExpectOnlyWholeFiles();
    }

    // No temporary file stays, and every run file there is complete.
    void ExpectOnlyWholeFiles() {
        for (const DirEntry& entry : FindEntries(AppDataDir + L"*")) {
            const std::wstring& name = entry.name;
            SCOPED_TRACE(WideToAnsi(name));
            EXPECT_FALSE(name.ends_with(L".tmp"));
            if (!name.starts_with(L"dump_")) continue;
            const std::string text = ReadFileBytes(AppDataDir + name);
            if (name.ends_with(L".txt")) {
                EXPECT_NE(text.find(kProbeLine), std::string::npos);
            } else if (name.ends_with(L".xml")) {
                EXPECT_TRUE(text.ends_with("</apps>\r\n"));
            } else if (name.ends_with(L".html")) {
                EXPECT_TRUE(text.ends_with("</html>\r\n"));
            }
        }
    }

    // The save fails and the old file, when there was one, reads as before.
    void ExpectFailedSave(bool oldFileThere) {
        EXPECT_THROW(SaveSettings(kNewTexts), KelvraError);
        if (oldFileThere) {
            EXPECT_EQ(ReadFileBytes(SettingsFile), kOldSettings);
        }
        LoadSettings();
        EXPECT_EQ(AccountUsername, oldFileThere ? L"old" : L"");
        AccountProfile = L"P";  // without a file the loader gave the default profile
        ExpectOnlyWholeFiles();
    }

    // With the fault gone: the run writes its three files whole, the save
    // writes the settings.
    void ExpectWorkingAgain() {
        ASSERT_TRUE(ForceDirectories(folder_));
        const std::wstring payload = RunInventory();
        EXPECT_TRUE(payload.starts_with(AppDataDir + L"dump_P_")) << WideToAnsi(payload);
        EXPECT_NE(ReadFileBytes(payload).find(kProbeLine), std::string::npos);
        EXPECT_TRUE(FileExists(payload.substr(0, payload.size() - 4) + L".xml"));
        EXPECT_TRUE(FileExists(payload.substr(0, payload.size() - 4) + L".html"));
        ExpectOnlyWholeFiles();
        SaveSettings(kNewTexts);
        LoadSettings();
        EXPECT_EQ(AccountUsername, L"new");
    }

    ScratchFolder root_;
    std::wstring folder_;
    UninstallKeys keys_{KEY_WOW64_32KEY};
    testing::SavedSettings savedSettings_;
    std::vector<std::wstring> saved_;
};

TEST_F(DataFolderFaults, MissingFolder) {
    ExpectFailedRun();
    ExpectFailedSave(false);
    EXPECT_FALSE(DirectoryExists(folder_)) << "neither creates the folder by itself";
    ExpectWorkingAgain();
}

TEST_F(DataFolderFaults, FileInThePlaceOfTheFolder) {
    WriteFileBytes(folder_, "not a folder");
    ExpectFailedRun();
    ExpectFailedSave(false);
    EXPECT_EQ(ReadFileBytes(folder_), "not a folder");
    ASSERT_TRUE(DeleteFileAt(folder_));
    ExpectWorkingAgain();
}

TEST_F(DataFolderFaults, FolderGoesOrBecomesAFileDuringTheRun) {
    for (const bool becomesFile : {false, true}) {
        SCOPED_TRACE(becomesFile ? "becomes a file" : "goes");
        ASSERT_TRUE(ForceDirectories(folder_));
        WriteFileBytes(SettingsFile, kOldSettings);
        // The run serves the tray's messages before it writes: the folder
        // goes while the run is under way.
        SetPendingMessagePump([&] {
            if (!DirectoryExists(folder_)) return;
            fixtures::RemoveTree(folder_);
            if (becomesFile) WriteFileBytes(folder_, "x");
        });
        ExpectFailedRun();
        SetPendingMessagePump({});
        if (becomesFile) {
            ASSERT_TRUE(DeleteFileAt(folder_));
        }
        ExpectWorkingAgain();
        fixtures::RemoveTree(folder_);
    }
}

class FullOrReadOnlyDataFolder : public DataFolderFaults {
  protected:
    void SetUp() override {
        DataFolderFaults::SetUp();
        ASSERT_TRUE(ForceDirectories(folder_));
        disk_ = std::make_unique<SmallDisk>(testing::kSmallDiskScript, folder_, 256);
        if (!disk_->available()) {
            if (disk_->needsRoot()) KELVRA_ALLOWED_SKIP() << "mounting a file system needs root";
            FAIL() << "no file system of its own: " << disk_->whyNot();
        }
        WriteFileBytes(SettingsFile, kOldSettings);
    }
    void TearDown() override {
        disk_.reset();
        DataFolderFaults::TearDown();
    }

    std::unique_ptr<SmallDisk> disk_;
};

TEST_F(FullOrReadOnlyDataFolder, FullDisk) {
    disk_->Fill();
    ExpectFailedRun();
    EXPECT_FALSE(FileExists(AppDataDir + L"dump_P_0.txt"));
    ExpectFailedSave(true);
    disk_->Release();
    ExpectWorkingAgain();
}

TEST_F(FullOrReadOnlyDataFolder, DiskFillsUpWhileTheFilesAreWritten) {
    disk_->Fill(4096);  // one page: room for the payload, not for the reports
    ExpectFailedRun();
    // The files take their names only once all three are whole, so none
    // carries one, and the temporaries are gone again.
    EXPECT_TRUE(FindEntries(AppDataDir + L"dump_*").empty());
    disk_->Release();
    ExpectWorkingAgain();
}

TEST_F(FullOrReadOnlyDataFolder, ReadOnlyDisk) {
    disk_->Seal();
    ExpectFailedRun();
    EXPECT_FALSE(FileExists(AppDataDir + L"dump_P_0.txt"));
    ExpectFailedSave(true);
    disk_->Release();
    ExpectWorkingAgain();
}

}  // namespace
}  // namespace kelvra
