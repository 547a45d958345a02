// The browser lookup against a stand-in shell: the probe file's life, the
// split of the answer, and the association's program started as it is.

#include "account/browser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/sysfacts.h"
#include "common/tools.h"
#include "support/message_boxes.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

std::wstring ProbePath() {
    std::wstring folder = GetTempDir();
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder + kProbeFileName;
}

class RecordingShell final : public BrowserShell {
  public:
    std::wstring executable;           // the answer to the lookup
    bool failLookup = false;           // the lookup raises instead
    bool probeExistedEmpty = false;    // what the lookup saw
    std::vector<std::wstring> opened;  // program + " | " + parameters

    bool CreateProbeFile(const std::wstring& path) override {
        WriteFileBytes(path, {});
        return true;
    }
    std::wstring ExecutableForDocument(const std::wstring& document) override {
        probeExistedEmpty =
            document == ProbePath() && FileExists(document) && ReadFileBytes(document).empty();
        if (failLookup) throw std::runtime_error("shell failure");
        return executable;
    }
    void Open(const std::wstring& program, const std::wstring& parameters) override {
        opened.push_back(program + L" | " + parameters);
    }
};

class BrowserLookupTest : public ::testing::Test {
  protected:
    void SetUp() override { DeleteFileAt(ProbePath()); }

    RecordingShell shell_;
    testing::MessageBoxRecorder notices_;
};

TEST_F(BrowserLookupTest, ProbeExistsEmptyDuringTheLookupOnlyEvenWhenTheShellFails) {
    // A stale probe with content is emptied first, then removed like any other.
    WriteFileBytes(ProbePath(), "stale");
    shell_.executable = L"C:\\Program Files\\Browser\\browser.exe";
    const HtmlHandler handler = FindHtmlHandler(shell_);
    EXPECT_TRUE(shell_.probeExistedEmpty);
    EXPECT_FALSE(FileExists(ProbePath()));
    EXPECT_EQ(handler.fileName, L"browser.exe");
    EXPECT_EQ(handler.folder, L"C:\\Program Files\\Browser\\");

    shell_.failLookup = true;
    EXPECT_THROW(FindHtmlHandler(shell_), std::runtime_error);
    EXPECT_TRUE(shell_.probeExistedEmpty);
    EXPECT_FALSE(FileExists(ProbePath())) << "the probe outlived a failed lookup";
}

TEST_F(BrowserLookupTest, NoAssociationGivesTwoEmptyTexts) {
    const HtmlHandler handler = FindHtmlHandler(shell_);
    EXPECT_EQ(handler.fileName, L"");
    EXPECT_EQ(handler.folder, L"");
}

TEST_F(BrowserLookupTest, AssociatedProgramStartsWithTheAddressAloneAndNoNotice) {
    testing::TempDir dir;
    const std::wstring program = dir / L"browser.exe";
    WriteFileBytes(program, "MZ");
    shell_.executable = program;

    const std::wstring address = L"http://service.example/account/user1/?a=1&b=%20";
    OpenUrlInBrowser(shell_, address);
    EXPECT_EQ(shell_.opened, std::vector<std::wstring>{program + L" | " + address});
    EXPECT_TRUE(notices_.empty());
    EXPECT_FALSE(FileExists(ProbePath()));
}

TEST(ProgramPathOfCommand, TakesTheTextBetweenTheFirstTwoQuotes) {
    EXPECT_EQ(
        ProgramPathOfCommand(L"\"C:\\Program Files\\Browser\\browser.exe\" -osint -url \"%1\""),
        L"C:\\Program Files\\Browser\\browser.exe");
    EXPECT_EQ(ProgramPathOfCommand(L"C:\\Browser\\browser.exe \"%1\""), L"%1");
    EXPECT_EQ(ProgramPathOfCommand(L"C:\\Browser\\browser.exe %1"), L"");
    EXPECT_EQ(ProgramPathOfCommand(L"\"unterminated"), L"");
    EXPECT_EQ(ProgramPathOfCommand(L"\"\" rest"), L"");
}

}  // namespace
}  // namespace kelvra
