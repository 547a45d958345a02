#include "shell/tray_controller.h"

#include <cstdio>
#include <utility>

#include "common/scope.h"

namespace kelvra {
namespace {

std::wstring HourMinute(const LocalTime& time) {
    wchar_t hour[8], minute[8];
    std::swprintf(hour, 8, L"%02d", time.hour);
    std::swprintf(minute, 8, L"%02d", time.minute);
    return std::wstring(hour) + LocaleTimeSeparator() + minute;
}

constexpr wchar_t kTitle[] = L"Kelvra";
constexpr wchar_t kSettingsAction[] = L"settings";

}  // namespace

TrayController::TrayController(TrayView& view, TrayServices services, LocalTime created)
    : view_(view),
      services_(std::move(services)),
      nextRunTime_(LocalMillis(created) + kFirstRunDelayMs) {}

void TrayController::ShowBalloon(const std::wstring& text, BalloonIcon icon) {
    view_.ShowBalloon(balloonTitle_, text, icon);
}

void TrayController::RunTimerTimer(const LocalTime& now) {
    if (firstTick_) {
        view_.RequestClose();  // hides the title window
        balloonTitle_ = kTitle;
        ShowBalloon(L"Kelvra is running in your tray. Right click for options", BalloonIcon::None);
        firstTick_ = false;
    }
    if (LocalMillis(now) > nextRunTime_ && !running_) {
        view_.StopTimer();
        const ScopeExit restartTimer([this] { view_.StartTimer(); });
        ExecuteRun(true);
    }
}

void TrayController::UpdateMenu() {
    // "Run now" is ignored during a run and while the settings dialog is
    // open, "Settings" while the dialog is open; a greyed item says so before
    // the click. The settings open during a run: the run goes on meanwhile.
    view_.SetRunNowItem(runNowCaption_, !running_ && !settingsOpen_);
    view_.SetSettingsItem(!settingsOpen_);
}

void TrayController::ExecuteRun(bool scheduled) {
    running_ = true;
    runNowCaption_ = L"Run now (currently running...)";
    UpdateMenu();
    view_.StopTimer();
    const ScopeExit finish([this] {
        uploading_ = false;
        FinishRun();
    });
    std::wstring message;
    if (services_.checkAccount(message)) {
        const std::wstring payload = services_.runInventory(!scheduled);
        uploading_ = true;
        services_.uploadInventory(payload);
        uploading_ = false;
    } else if (scheduled) {
        balloonTitle_ = kTitle;
        ShowBalloon(L"No username and password are specified. Click here to change your settings",
                    BalloonIcon::Warning);
        balloonAction_ = kSettingsAction;
    } else {
        services_.showError(message);
    }
}

void TrayController::FinishRun() {
    const LocalTime end = NowLocal();
    nextRunTime_ = LocalMillis(end) + kRunIntervalMs;
    running_ = false;
    if (!settingsOpen_) view_.StartTimer();
    runNowCaption_ = L"Run now (last run: " + HourMinute(end) + L")";
    UpdateMenu();
    // An Exit chosen during the run takes effect now, from the message loop.
    if (exitRequested_ && !settingsOpen_) view_.RequestClose();
}

void TrayController::Runnow1Click() {
    // Also guards a click that reaches the menu while a run or the settings
    // dialog serves pending messages.
    if (running_ || settingsOpen_) return;
    ShowBalloon(L"Gathering version information...", BalloonIcon::None);
    ExecuteRun(false);
    balloonAction_ = services_.accountPageUrl();
    ShowBalloon(L"Version information updated... Click here to visit your profile!",
                BalloonIcon::None);
}

void TrayController::Visitaccountpage1Click() {
    const std::wstring address = services_.accountPageUrl();
    if (address.empty())
        services_.showError(L"No valid account found. Check your settings");
    else
        services_.openUrl(address);
}

void TrayController::Settings1Click() {
    if (settingsOpen_) return;  // one settings dialog at a time
    view_.StopTimer();
    settingsOpen_ = true;
    UpdateMenu();
    try {
        services_.editSettings();
    } catch (...) {
        settingsOpen_ = false;
        UpdateMenu();
        if (!running_) view_.StartTimer();
        throw;
    }
    settingsOpen_ = false;
    UpdateMenu();
    if (!running_) view_.StartTimer();
    // An Exit chosen while the dialog was open takes effect once it is gone.
    if (exitRequested_ && !running_) view_.RequestClose();
}

void TrayController::About1Click() { services_.openUrl(services_.aboutUrl()); }

void TrayController::ExitKelvra1Click() {
    exitRequested_ = true;
    exitOnlyForInstall_ = false;
    // The run's files are written; the upload in flight is given up, and the
    // next run, after the next start, takes and uploads the inventory again.
    // Nothing is lost, and a slow service cannot keep the program alive.
    if (uploading_ && services_.abandonUpload) services_.abandonUpload();
    view_.RequestClose();
}

void TrayController::EndForInstall() {
    const bool userExit = exitRequested_ && !exitOnlyForInstall_;
    ExitKelvra1Click();
    exitOnlyForInstall_ = !userExit;
}

void TrayController::InstallGaveUp() {
    if (!exitOnlyForInstall_) return;
    exitRequested_ = false;
    exitOnlyForInstall_ = false;
}

void TrayController::AnotherStart() {
    balloonTitle_ = kTitle;
    ShowBalloon(L"Kelvra is already running in your tray. Right click for options",
                BalloonIcon::None);
}

void TrayController::TrayIcon1BalloonClick() {
    if (balloonAction_.empty()) return;
    if (balloonAction_ == kSettingsAction)
        Settings1Click();
    else
        services_.openUrl(balloonAction_);
}

bool TrayController::FormCloseQuery() {
    if (exitRequested_ && !running_ && !settingsOpen_) {
        view_.StopTimer();
        return true;
    }
    return false;
}

}  // namespace kelvra
