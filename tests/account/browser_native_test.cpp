// The fallback of the browser launch: the HTTP open command, read from the
// in-memory registry of the portable build.

#include "account/browser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/registry.h"
#include "common/tools.h"
#include "support/message_boxes.h"

namespace kelvra {
namespace {

constexpr auto kClasses = RegistryRoot::ClassesRoot;
constexpr auto kOwn = RegistryView::Own;

// No association; every call, box included, goes into one log, so the order
// of notice and launch shows.
class LoggingShell final : public BrowserShell {
  public:
    std::vector<std::wstring>& log;
    explicit LoggingShell(std::vector<std::wstring>& log) : log(log) {}

    bool CreateProbeFile(const std::wstring&) override { return false; }
    std::wstring ExecutableForDocument(const std::wstring&) override { return {}; }
    void Open(const std::wstring& program, const std::wstring& parameters) override {
        log.push_back(L"open " + program + L" " + parameters);
    }
};

class BrowserFallbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MemoryRegistry::Machine().Clear();
        boxes_.onBox = [this](const MessageBoxRequest& box) {
            log_.push_back(L"notice " + box.text);
            return 1;
        };
    }
    void TearDown() override { MemoryRegistry::Machine().Clear(); }

    void SetCommand(std::wstring_view command) {
        MemoryRegistry::Machine().SetString(kClasses, kOwn, kHttpOpenCommandKey, L"", command);
    }
    std::vector<std::wstring> Open() {
        OpenUrlInBrowser(shell_, kAddress);
        return log_;
    }

    static constexpr wchar_t kAddress[] = L"http://service.example/whatiskelvra/";
    std::vector<std::wstring> log_;
    LoggingShell shell_{log_};
    testing::MessageBoxRecorder boxes_;
};

TEST_F(BrowserFallbackTest, QuotedProgramIsShownThenStartedWithTheAddress) {
    SetCommand(L"\"C:\\Program Files\\Browser\\browser.exe\" -osint -url \"%1\"");
    EXPECT_EQ(Open(), (std::vector<std::wstring>{L"notice C:\\Program Files\\Browser\\browser.exe",
                                                 L"open C:\\Program Files\\Browser\\browser.exe " +
                                                     std::wstring(kAddress)}));
}

TEST_F(BrowserFallbackTest, WithoutCommandOnlyUrlWayIsShown) {
    EXPECT_EQ(Open(), std::vector<std::wstring>{L"notice url way"});
    SetCommand(L"");
    log_.clear();
    EXPECT_EQ(Open(), std::vector<std::wstring>{L"notice url way"});
}

TEST_F(BrowserFallbackTest, CommandThatIsNoTextCountsAsNone) {
    MemoryRegistry::Machine().SetDWord(kClasses, kOwn, kHttpOpenCommandKey, L"", 5);
    EXPECT_EQ(Open(), std::vector<std::wstring>{L"notice url way"});
}

TEST_F(BrowserFallbackTest, UnquotedProgramGivesAnEmptyNoticeAndStartsNothing) {
    SetCommand(L"C:\\Browser\\browser.exe %1");
    EXPECT_EQ(Open(), std::vector<std::wstring>{L"notice "});
}

}  // namespace
}  // namespace kelvra
