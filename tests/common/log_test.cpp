// The trace log, the safe formatter, the message boxes and the safe copy.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/tools.h"
#include "support/fixed_clock.h"
#include "support/message_boxes.h"
#include "support/saved_log.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

using testing::kSaintNicholas;

// Puts the process-wide values the log depends on in a known state (logging
// on, a fixed clock, boxes captured) and restores them afterwards.
class LogTest : public ::testing::Test {
  protected:
    std::wstring LogPath() const { return dir_ / L"logreg.txt"; }
    std::string LogText() const { return FileExists(LogPath()) ? ReadFileBytes(LogPath()) : ""; }

    testing::TempDir dir_;
    testing::LogSwitch log_{dir_.path()};
    testing::FixedClock clock_;
    testing::MessageBoxRecorder boxes_;
};

constexpr char kStamp[] = "<06.12.26 14:05:09:042|2.0> ";

TEST_F(LogTest, LineCarriesTheTimeStampVersionAndMessage) {
    EXPECT_EQ(FormatLogLine(kSaintNicholas, L"PostData START"),
              L"<06.12.26 14:05:09:042|2.0> PostData START");
    // Every part keeps its leading zeros, and the year is its last two digits.
    EXPECT_EQ(FormatLogLine({2000, 1, 2, 3, 4, 5, 6}, L"x"), L"<02.01.00 03:04:05:006|2.0> x");
    EXPECT_EQ(FormatLogLine({2009, 11, 30, 23, 59, 59, 999}, L""), L"<30.11.09 23:59:59:999|2.0> ");
}

TEST_F(LogTest, TwoCallsAppendTwoLinesAfterWhatIsThere) {
    WriteFileBytes(LogPath(), "earlier\r\n");
    WriteLog(L"first");
    WriteLog(L"");
    EXPECT_EQ(LogText(), std::string("earlier\r\n") + kStamp + "first\r\n" + kStamp + "\r\n");
}

TEST_F(LogTest, MessageIsWrittenInTheAnsiCodePage) {
    WriteLog(L"caf\u00e9");
    EXPECT_EQ(LogText(), std::string(kStamp) + "caf\xe9\r\n");
}

TEST_F(LogTest, NothingIsWrittenWhileTheSwitchIsOff) {
    LogEnabled = false;
    WriteLog(L"quiet");
    WriteLogFmt(L"%d", {L"not a number"});
    ShowErrorAndLog(L"still shown");
    EXPECT_FALSE(FileExists(LogPath()));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"still shown");
}

TEST_F(LogTest, WithoutDataFolderTheLogGoesToTheWorkingFolder) {
    namespace fs = std::filesystem;
    const fs::path saved = fs::current_path();
    fs::current_path(fs::path(dir_.path()));
    AppDataDir.clear();
    WriteLog(L"early");
    fs::current_path(saved);
    EXPECT_EQ(LogText(), std::string(kStamp) + "early\r\n");
}

TEST_F(LogTest, UnwritableLogReachesTheCaller) {
    AppDataDir = dir_ / L"missing\\";
    EXPECT_THROW(WriteLog(L"lost"), FileError);
    // The box of ShowErrorAndLog is not shown when its log line fails.
    EXPECT_THROW(ShowErrorAndLog(L"lost"), FileError);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(DirectoryExists(AppDataDir)) << "the writer never creates folders";
}

TEST_F(LogTest, SafeFormatFillsTextAndNumberPlaceholders) {
    EXPECT_EQ(SafeFormat(L"GetVersion2 [%s] A", {L"x"}), L"GetVersion2 [x] A");
    EXPECT_EQ(SafeFormat(L"%s has %d%% of %d", {L"App", 50LL, -7LL}), L"App has 50% of -7");
    EXPECT_EQ(SafeFormat(L"no placeholders", {}), L"no placeholders");
    EXPECT_EQ(LogText(), "") << "a fitting format logs nothing";
}

TEST_F(LogTest, SafeFormatGivesTheFormatBackWhenItDoesNotFit) {
    for (const std::wstring_view format : {L"%s and %s", L"%d", L"%q", L"ends in %"}) {
        SCOPED_TRACE(::testing::Message() << std::wstring(format));
        EXPECT_EQ(SafeFormat(format, {L"one"}), format);
    }
    EXPECT_EQ(SafeFormat(L"%d", {L"text for a number"}), L"%d");
}

TEST_F(LogTest, WriteLogFmtLogsTheFormattedLine) {
    WriteLogFmt(L"GetVersion2 [%s] A", {L"x"});
    EXPECT_EQ(LogText(), std::string(kStamp) + "GetVersion2 [x] A\r\n");
}

TEST_F(LogTest, FailedWriteLogFmtLogsTheExceptionThenTheRawFormat) {
    WriteLogFmt(L"GetVersion2 [%s] %s", {L"x"});
    EXPECT_EQ(LogText(), std::string(kStamp) +
                             "exception formatting string [GetVersion2 [%s] %s]\r\n" + kStamp +
                             "GetVersion2 [%s] %s\r\n");
}

TEST_F(LogTest, ErrorBoxIsLoggedAndShownWithErrorCaptionAndIcon) {
    ShowErrorAndLog(L"Software\\X - VersionMajor");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Software\\X - VersionMajor");
    EXPECT_EQ(boxes_[0].caption, L"Error");
    EXPECT_EQ(boxes_[0].style, kMbOk | kMbIconError);
    EXPECT_EQ(LogText(), std::string(kStamp) + "Software\\X - VersionMajor\r\n");
}

TEST_F(LogTest, NoticeIsPlainAndNotLogged) {
    ShowNotice(L"Done");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Done");
    EXPECT_EQ(boxes_[0].caption, ApplicationTitle());
    EXPECT_FALSE(boxes_[0].caption.empty());
    EXPECT_EQ(boxes_[0].caption.find(L'.'), std::wstring::npos) << "no extension in the title";
    EXPECT_EQ(boxes_[0].style, kMbOk);
    EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(LogTest, CopyFileSaveOverwritesOnlyWhenAllowed) {
    const std::wstring source = dir_ / L"source.txt";
    const std::wstring target = dir_ / L"target.txt";
    WriteFileBytes(source, "new");
    WriteFileBytes(target, "old");

    EXPECT_FALSE(CopyFileSave(source, target, true));
    EXPECT_EQ(ReadFileBytes(target), "old");

    EXPECT_TRUE(CopyFileSave(source, target, false));
    EXPECT_EQ(ReadFileBytes(target), "new");

    EXPECT_TRUE(CopyFileSave(source, dir_ / L"fresh.txt", true));
    EXPECT_EQ(ReadFileBytes(dir_ / L"fresh.txt"), "new");

    // A plain failure of the copy yields false and logs nothing.
    EXPECT_FALSE(CopyFileSave(dir_ / L"absent.txt", target, false));
    EXPECT_FALSE(CopyFileSave(source, dir_ / L"no\\such\\folder.txt", false));
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_FALSE(FileExists(LogPath()));
}

}  // namespace
}  // namespace kelvra
