#include "shell/tray_controller.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kelvra {
namespace {

struct Balloon {
    std::wstring title, text;
    BalloonIcon icon;
};

class RecordingView : public TrayView {
  public:
    void StartTimer() override { timerOn = true; }
    void StopTimer() override { timerOn = false; }
    void RequestClose() override { ++closeRequests; }
    void ShowBalloon(const std::wstring& title, const std::wstring& text,
                     BalloonIcon icon) override {
        balloons.push_back({title, text, icon});
    }
    void SetRunNowItem(const std::wstring& caption, bool enabled) override {
        runNowCaption = caption;
        runNowEnabled = enabled;
    }
    void SetSettingsItem(bool enabled) override { settingsEnabled = enabled; }

    bool timerOn = true;
    int closeRequests = 0;
    std::vector<Balloon> balloons;
    std::wstring runNowCaption = L"Run now";
    bool runNowEnabled = true;
    bool settingsEnabled = true;
};

LocalTime At(int hour, int minute, int second, int millisecond = 0) {
    return {2026, 12, 7, hour, minute, second, millisecond};
}

LocalTime Plus(LocalTime t, std::int64_t ms) {
    // Enough for tests within one day.
    std::int64_t total = ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond + ms;
    t.millisecond = static_cast<int>(total % 1000);
    total /= 1000;
    t.second = static_cast<int>(total % 60);
    total /= 60;
    t.minute = static_cast<int>(total % 60);
    t.hour = static_cast<int>(total / 60);
    return t;
}

class TrayControllerTest : public ::testing::Test {
  protected:
    TrayControllerTest() {
        SetClockSource([this] { return now_; });
        services_.checkAccount = [this](std::wstring& message) {
            message = accountMessage_;
            return accountOk_;
        };
        services_.runInventory = [this](bool userAsked) {
            ++runs_;
            userAsked_.push_back(userAsked);
            if (duringRun_) duringRun_();
            now_ = Plus(now_, runDurationMs_);
            if (runFails_) throw std::runtime_error("disk full");
            return std::wstring(L"C:\\data\\dump_P_0.txt");
        };
        services_.uploadInventory = [this](const std::wstring& path) {
            uploads_.push_back(path);
            if (duringUpload_) duringUpload_();
        };
        services_.abandonUpload = [this] { ++abandoned_; };
        services_.editSettings = [this] {
            ++settingsShown_;
            if (duringSettings_) duringSettings_();
        };
        services_.openUrl = [this](const std::wstring& url) { opened_.push_back(url); };
        services_.accountPageUrl = [this] { return accountPage_; };
        services_.showError = [this](const std::wstring& message) { errors_.push_back(message); };
        services_.aboutUrl = [] { return std::wstring(L"http://service/whatiskelvra/"); };
    }
    ~TrayControllerTest() override { SetClockSource({}); }

    TrayController& Start(LocalTime created) {
        now_ = created;
        controller_ = std::make_unique<TrayController>(view_, services_, created);
        return *controller_;
    }
    // Ticks every 800 ms until the clock reaches the given time.
    void TickUntil(LocalTime until) {
        while (LocalMillis(now_) < LocalMillis(until)) {
            now_ = Plus(now_, 800);
            if (view_.timerOn) controller_->RunTimerTimer(now_);
        }
    }

    RecordingView view_;
    TrayServices services_;
    std::unique_ptr<TrayController> controller_;
    LocalTime now_;
    bool accountOk_ = true;
    std::wstring accountMessage_;
    std::wstring accountPage_ = L"http://service/account/user1/";
    bool runFails_ = false;
    std::int64_t runDurationMs_ = 30000;
    std::function<void()> duringRun_, duringSettings_, duringUpload_;
    int runs_ = 0, settingsShown_ = 0, abandoned_ = 0;
    std::vector<bool> userAsked_;  // per run: Run now rather than the schedule
    std::vector<std::wstring> uploads_, opened_, errors_;
};

TEST_F(TrayControllerTest, FirstTickHidesTheWindowAndGreets) {
    auto& tray = Start(At(9, 0, 0));
    EXPECT_TRUE(tray.FirstTick());
    TickUntil(At(9, 0, 1));
    EXPECT_EQ(view_.closeRequests, 1);
    EXPECT_FALSE(tray.FormCloseQuery()) << "the close request only hides the window";
    ASSERT_EQ(view_.balloons.size(), 1u);
    EXPECT_EQ(view_.balloons[0].title, L"Kelvra");
    EXPECT_EQ(view_.balloons[0].text, L"Kelvra is running in your tray. Right click for options");
    EXPECT_EQ(view_.balloons[0].icon, BalloonIcon::None);
    TickUntil(At(9, 0, 5));
    EXPECT_EQ(view_.closeRequests, 1);
}

TEST_F(TrayControllerTest, FirstRunAtTheFirstTickAfterHundredSecondsThenHourly) {
    Start(At(9, 0, 0));
    TickUntil(At(9, 1, 40));
    EXPECT_EQ(runs_, 0);
    TickUntil(At(9, 1, 41));
    EXPECT_EQ(runs_, 1);
    EXPECT_EQ(uploads_, std::vector<std::wstring>{L"C:\\data\\dump_P_0.txt"});
    // The run took 30 s and ended at about 09:02:10; the next is due an hour later.
    const LocalTime end = now_;
    EXPECT_EQ(controller_->NextRunTime(), LocalMillis(end) + TrayController::kRunIntervalMs);
    TickUntil(Plus(end, TrayController::kRunIntervalMs));
    EXPECT_EQ(runs_, 1);
    TickUntil(Plus(end, TrayController::kRunIntervalMs + 800));
    EXPECT_EQ(runs_, 2);
    EXPECT_EQ(userAsked_, (std::vector<bool>{false, false}))
        << "scheduled runs take remembered reads";
    EXPECT_TRUE(view_.timerOn);
}

TEST_F(TrayControllerTest, RunNowCaptionsAndPostponedSchedule) {
    auto& tray = Start(At(13, 0, 0));
    runDurationMs_ = 0;
    std::wstring captionDuringRun;
    bool enabledDuringRun = true, timerDuringRun = true;
    duringRun_ = [&] {
        captionDuringRun = view_.runNowCaption;
        enabledDuringRun = view_.runNowEnabled;
        timerDuringRun = view_.timerOn;
    };
    now_ = At(14, 5, 30);
    tray.Runnow1Click();
    EXPECT_EQ(captionDuringRun, L"Run now (currently running...)");
    EXPECT_FALSE(enabledDuringRun);
    EXPECT_FALSE(timerDuringRun);
    EXPECT_EQ(view_.runNowCaption, L"Run now (last run: 14:05)");
    EXPECT_TRUE(view_.runNowEnabled);
    EXPECT_EQ(tray.NextRunTime(), LocalMillis(At(15, 5, 30)));
    EXPECT_EQ(userAsked_, std::vector<bool>{true}) << "the user who asks is given a fresh read";
    EXPECT_EQ(tray.BalloonAction(), accountPage_);
    ASSERT_EQ(view_.balloons.size(), 2u);
    EXPECT_EQ(view_.balloons[0].text, L"Gathering version information...");
    EXPECT_EQ(view_.balloons[1].text,
              L"Version information updated... Click here to visit your profile!");

    tray.TrayIcon1BalloonClick();
    EXPECT_EQ(opened_, std::vector<std::wstring>{accountPage_});
}

TEST_F(TrayControllerTest, MissingAccountWarnsOnScheduleAndComplainsOnRunNow) {
    accountOk_ = false;
    accountMessage_ = L"No valid username";
    accountPage_ = L"";
    auto& tray = Start(At(9, 0, 0));
    TickUntil(At(9, 1, 41));
    EXPECT_EQ(runs_, 0);
    EXPECT_EQ(tray.BalloonAction(), L"settings");
    EXPECT_EQ(view_.balloons.back().icon, BalloonIcon::Warning);
    EXPECT_EQ(view_.balloons.back().text,
              L"No username and password are specified. Click here to change your settings");
    tray.TrayIcon1BalloonClick();
    EXPECT_EQ(settingsShown_, 1);

    tray.Runnow1Click();
    EXPECT_EQ(errors_, std::vector<std::wstring>{L"No valid username"});
    EXPECT_EQ(view_.balloons.back().text,
              L"Version information updated... Click here to visit your profile!");
    EXPECT_EQ(tray.BalloonAction(), L"");
    tray.TrayIcon1BalloonClick();
    EXPECT_TRUE(opened_.empty());

    tray.Visitaccountpage1Click();
    EXPECT_EQ(errors_.back(), L"No valid account found. Check your settings");
}

TEST_F(TrayControllerTest, FailedRunRestoresMenuAndTimerAndPassesTheError) {
    auto& tray = Start(At(9, 0, 0));
    runFails_ = true;
    EXPECT_THROW(TickUntil(At(9, 1, 41)), std::runtime_error);
    EXPECT_TRUE(view_.timerOn);
    EXPECT_TRUE(view_.runNowEnabled);
    EXPECT_EQ(view_.runNowCaption.rfind(L"Run now (last run: ", 0), 0u);
    EXPECT_FALSE(tray.RunInProgress());
    EXPECT_GT(tray.NextRunTime(), LocalMillis(At(10, 1, 0)));
    EXPECT_TRUE(uploads_.empty());
}

TEST_F(TrayControllerTest, NoSecondRunWhileOneServesMessages) {
    auto& tray = Start(At(9, 0, 0));
    duringRun_ = [&] {
        tray.Runnow1Click();
        tray.Settings1Click();  // the dialog closes while the run is still on
    };
    TickUntil(At(9, 1, 41));
    EXPECT_EQ(runs_, 1);
    EXPECT_EQ(settingsShown_, 1);
    EXPECT_TRUE(view_.timerOn);
}

TEST_F(TrayControllerTest, SettingsStopTheTimerAndRestartItEvenAfterAnError) {
    auto& tray = Start(At(9, 0, 0));
    bool timerWhileOpen = true;
    duringSettings_ = [&] {
        timerWhileOpen = view_.timerOn;
        tray.Runnow1Click();  // ignored while the dialog is open
        throw std::runtime_error("Unable to write to settings.ini");
    };
    EXPECT_THROW(tray.Settings1Click(), std::runtime_error);
    EXPECT_FALSE(timerWhileOpen);
    EXPECT_EQ(runs_, 0);
    EXPECT_TRUE(view_.timerOn);
}

TEST_F(TrayControllerTest, ExitDuringARunTakesEffectAfterIt) {
    auto& tray = Start(At(9, 0, 0));
    TickUntil(At(9, 0, 1));
    const int before = view_.closeRequests;
    duringRun_ = [&] {
        tray.ExitKelvra1Click();
        EXPECT_FALSE(tray.FormCloseQuery());
    };
    tray.Runnow1Click();
    EXPECT_EQ(view_.closeRequests, before + 2) << "once from the command, once after the run";
    EXPECT_TRUE(tray.FormCloseQuery());
    EXPECT_FALSE(view_.timerOn);
}

// A click on an item that would be ignored is never silently lost: the item
// is greyed first. The settings open during a run, and the run goes on.
TEST_F(TrayControllerTest, ItemsAreGreyedWhileTheirClickWouldBeIgnored) {
    auto& tray = Start(At(9, 0, 0));
    struct Seen {
        bool runNow, settings;
    };
    std::vector<Seen> seen;
    auto look = [&] { seen.push_back({view_.runNowEnabled, view_.settingsEnabled}); };
    duringSettings_ = look;
    tray.Settings1Click();
    look();
    duringRun_ = [&] {
        look();
        tray.Settings1Click();  // the run ends while the dialog is still open
    };
    duringSettings_ = [&] {
        look();
        runDurationMs_ = 0;
    };
    tray.Runnow1Click();
    look();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_FALSE(seen[0].runNow) << "the dialog is open";
    EXPECT_FALSE(seen[0].settings);
    EXPECT_TRUE(seen[1].runNow) << "the dialog closed";
    EXPECT_TRUE(seen[1].settings);
    EXPECT_FALSE(seen[2].runNow) << "a run";
    EXPECT_TRUE(seen[2].settings);
    EXPECT_FALSE(seen[3].runNow) << "the dialog opened during the run";
    EXPECT_FALSE(seen[3].settings);
    EXPECT_TRUE(seen[4].runNow) << "all over";
    EXPECT_TRUE(seen[4].settings);
    EXPECT_EQ(settingsShown_, 2);
    EXPECT_EQ(runs_, 1);
}

// Exit during the upload gives it up at once; during the inventory it does
// not, and the upload goes out before the program ends.
TEST_F(TrayControllerTest, ExitDuringTheUploadAbandonsItExitBeforeItDoesNot) {
    auto& tray = Start(At(9, 0, 0));
    duringUpload_ = [&] { tray.ExitKelvra1Click(); };
    tray.Runnow1Click();
    EXPECT_EQ(abandoned_, 1);
    EXPECT_TRUE(tray.FormCloseQuery());

    auto& second = Start(At(9, 0, 0));
    duringUpload_ = {};
    duringRun_ = [&] { second.ExitKelvra1Click(); };
    second.Runnow1Click();
    EXPECT_EQ(abandoned_, 1);
    EXPECT_EQ(uploads_.size(), 2u);
    EXPECT_TRUE(second.FormCloseQuery());
}

// The installer's request to end waits for the settings dialog as the
// user's Exit does; withdrawn when the installer gives up, it is forgotten,
// but an Exit of the user's stands.
TEST_F(TrayControllerTest, InstallersEndIsForgottenWhenItGivesUpButTheUsersExitStands) {
    enum Step { InstallEnd, GaveUp, UserExit };
    const struct {
        const char* what;
        std::vector<Step> whileOpen;
        bool ends;
    } cases[] = {
        {"the installer waits", {InstallEnd}, true},
        {"the installer gave up", {InstallEnd, GaveUp}, false},
        {"the user chose Exit too", {InstallEnd, UserExit, GaveUp}, true},
        {"the user chose Exit first", {UserExit, InstallEnd, GaveUp}, true},
        {"a late give-up alone", {GaveUp}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& tray = Start(At(9, 0, 0));
        duringSettings_ = [&] {
            for (const Step step : c.whileOpen) {
                if (step == InstallEnd) tray.EndForInstall();
                if (step == GaveUp) tray.InstallGaveUp();
                if (step == UserExit) tray.ExitKelvra1Click();
            }
            EXPECT_FALSE(tray.FormCloseQuery()) << "not while the dialog is open";
        };
        tray.Settings1Click();
        EXPECT_EQ(tray.FormCloseQuery(), c.ends);
    }
}

TEST_F(TrayControllerTest, AnotherStartIsToldWhereTheRunningOneIs) {
    auto& tray = Start(At(9, 0, 0));
    tray.AnotherStart();
    ASSERT_EQ(view_.balloons.size(), 1u);
    EXPECT_EQ(view_.balloons[0].title, L"Kelvra");
    EXPECT_EQ(view_.balloons[0].text,
              L"Kelvra is already running in your tray. Right click for options");
    EXPECT_EQ(view_.balloons[0].icon, BalloonIcon::None);
}

TEST_F(TrayControllerTest, AboutAndAccountPageOpenTheBrowser) {
    auto& tray = Start(At(9, 0, 0));
    tray.About1Click();
    tray.Visitaccountpage1Click();
    EXPECT_EQ(opened_, (std::vector<std::wstring>{L"http://service/whatiskelvra/", accountPage_}));
}

TEST(LocalMillisTest, FollowsTheCalendarAcrossMonthsAndLeapDays) {
    EXPECT_EQ(LocalMillis({1970, 1, 1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(LocalMillis({2024, 3, 1, 0, 0, 0, 0}) - LocalMillis({2024, 2, 28, 0, 0, 0, 0}),
              2 * 86400000LL);
    EXPECT_EQ(LocalMillis({2027, 1, 1, 0, 0, 0, 0}) - LocalMillis({2026, 12, 31, 23, 59, 59, 999}),
              1);
}

}  // namespace
}  // namespace kelvra
