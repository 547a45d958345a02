// The run schedule tick by tick on a simulated local clock: hours of 800 ms
// ticks in no time, across midnight and changes of the clock.

#include <gtest/gtest.h>

#include <vector>

#include "shell/tray_controller.h"

namespace kelvra {
namespace {

// The local time of a LocalMillis value (the inverse of the calendar count).
LocalTime FromLocalMillis(std::int64_t millis) {
    std::int64_t days = millis / 86400000;
    std::int64_t rest = millis % 86400000;
    // Civil date from days since 1970-01-01.
    days += 719468;
    const std::int64_t era = days / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const auto year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
    LocalTime t{year, static_cast<int>(month), static_cast<int>(day), 0, 0, 0, 0};
    t.millisecond = static_cast<int>(rest % 1000);
    rest /= 1000;
    t.second = static_cast<int>(rest % 60);
    rest /= 60;
    t.minute = static_cast<int>(rest % 60);
    t.hour = static_cast<int>(rest / 60);
    return t;
}

class TimerView : public TrayView {
  public:
    void StartTimer() override { timerOn = true; }
    void StopTimer() override { timerOn = false; }
    void RequestClose() override {}
    void ShowBalloon(const std::wstring&, const std::wstring&, BalloonIcon) override {}
    void SetRunNowItem(const std::wstring&, bool) override {}
    void SetSettingsItem(bool) override {}
    bool timerOn = true;
};

class TraySchedule : public ::testing::Test {
  protected:
    TraySchedule() {
        SetClockSource([this] { return FromLocalMillis(now_); });
        TrayServices services;
        services.checkAccount = [](std::wstring&) { return true; };
        services.runInventory = [this](bool) {
            starts_.push_back(now_);
            now_ += runMs_;  // the run takes its time on the clock
            return std::wstring(L"payload.txt");
        };
        services.uploadInventory = [this](const std::wstring&) { now_ += uploadMs_; };
        services.editSettings = [] {};
        services.openUrl = [](const std::wstring&) {};
        services.accountPageUrl = [] { return std::wstring(); };
        services.showError = [](const std::wstring&) {};
        services.aboutUrl = [] { return std::wstring(); };
        services_ = services;
    }
    ~TraySchedule() override { SetClockSource({}); }

    void Start(const LocalTime& created) {
        now_ = LocalMillis(created);
        tray_ = std::make_unique<TrayController>(view_, services_, created);
    }
    // The 800 ms timer, while it is on, until the clock reaches the moment.
    void TickUntil(std::int64_t until) {
        while (now_ < until) {
            now_ += 800;
            if (view_.timerOn) tray_->RunTimerTimer(FromLocalMillis(now_));
        }
    }
    static std::int64_t At(int year, int month, int day, int hour, int minute, int second = 0) {
        return LocalMillis({year, month, day, hour, minute, second, 0});
    }

    static constexpr std::int64_t kHour = 3600 * 1000;
    TimerView view_;
    TrayServices services_;
    std::unique_ptr<TrayController> tray_;
    std::int64_t now_ = 0;
    std::int64_t runMs_ = 90 * 1000, uploadMs_ = 30 * 1000;
    std::vector<std::int64_t> starts_;
};

TEST_F(TraySchedule, EveryRunStartsAnHourAfterTheEndOfTheLastAcrossMidnight) {
    Start({2026, 12, 31, 22, 10, 0, 0});
    TickUntil(At(2027, 1, 1, 4, 0));
    // Each run starts at the first tick strictly after its due moment: 100 s
    // after creation, then an hour after the end of the two-minute run before.
    ASSERT_EQ(starts_.size(), 6u);
    std::int64_t due = At(2026, 12, 31, 22, 10, 0) + 100 * 1000;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        EXPECT_EQ(starts_[i], due + 800) << "run " << i;
        due = starts_[i] + runMs_ + uploadMs_ + kHour;
    }
    const LocalTime last = FromLocalMillis(starts_.back());
    EXPECT_EQ(last.year, 2027);
    EXPECT_EQ(last.day, 1);
    EXPECT_EQ(last.hour, 3);
    EXPECT_EQ(last.minute, 21);  // 22:11:40.8 + 5 x (1 h 2 min 0.8 s)
}

TEST_F(TraySchedule, RunNowPostponesTheNextScheduledRun) {
    Start({2026, 12, 7, 13, 43, 0, 0});
    TickUntil(At(2026, 12, 7, 13, 45));  // the first run: 13:44:41 to 13:46:41
    ASSERT_EQ(starts_.size(), 1u);
    TickUntil(At(2026, 12, 7, 14, 30));
    tray_->Runnow1Click();  // 14:30 to 14:32, while 14:46:41 was due
    TickUntil(At(2026, 12, 7, 15, 32));
    EXPECT_EQ(starts_.size(), 2u) << "nothing at 14:46";
    TickUntil(At(2026, 12, 7, 15, 33));
    ASSERT_EQ(starts_.size(), 3u);
    EXPECT_GT(starts_[2], At(2026, 12, 7, 15, 32));
}

TEST_F(TraySchedule, TheScheduleMovesWithTheLocalClock) {
    Start({2026, 3, 29, 1, 0, 0, 0});
    TickUntil(At(2026, 3, 29, 1, 3));
    ASSERT_EQ(starts_.size(), 1u);  // 01:01:41, ends 01:03:41; next due 02:03:41
    // The clock jumps an hour ahead (summer time): the run is due at once.
    now_ += kHour;
    TickUntil(now_ + 1600);
    ASSERT_EQ(starts_.size(), 2u);
    // The clock goes back an hour after that run: the next waits two hours of
    // real time.
    const std::int64_t end = now_;
    now_ -= kHour;
    TickUntil(end + kHour - 1000);
    EXPECT_EQ(starts_.size(), 2u);
    TickUntil(end + kHour + 1000);
    EXPECT_EQ(starts_.size(), 3u);
}

}  // namespace
}  // namespace kelvra
