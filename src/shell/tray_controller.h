#pragma once
// The decisions of the tray program, free of any window: when a scheduled run
// starts, what a run does before and after it, what the menu commands and the
// balloon click do, and when the program may end. The main window forwards
// its timer ticks, menu commands and close requests here and carries out what
// it is told through TrayView.

#include <cstdint>
#include <functional>
#include <string>

#include "common/clock.h"

namespace kelvra {

enum class BalloonIcon { None, Warning };

// What the controller asks of the main window.
class TrayView {
  public:
    virtual ~TrayView() = default;
    virtual void StartTimer() = 0;
    virtual void StopTimer() = 0;
    // Asks the window to close, as a message it handles from its loop; the
    // window then asks FormCloseQuery whether to close or to hide.
    virtual void RequestClose() = 0;
    virtual void ShowBalloon(const std::wstring& title, const std::wstring& text,
                             BalloonIcon icon) = 0;
    virtual void SetRunNowItem(const std::wstring& caption, bool enabled) = 0;
    // The "Settings" item: greyed while a click on it would be ignored.
    virtual void SetSettingsItem(bool enabled) = 0;
};

// What the controller asks of the rest of the program.
struct TrayServices {
    // The stored account values, checked locally: acceptable, or why not.
    std::function<bool(std::wstring& message)> checkAccount;
    // One inventory run; returns the payload file's path. userAsked: the
    // user chose "Run now", and is given every file read afresh.
    std::function<std::wstring(bool userAsked)> runInventory;
    std::function<void(const std::wstring& payload)> uploadInventory;
    std::function<void()> editSettings;
    std::function<void(const std::wstring& address)> openUrl;
    std::function<std::wstring()> accountPageUrl;
    std::function<void(const std::wstring& message)> showError;
    // The about page's address.
    std::function<std::wstring()> aboutUrl;
    // Gives up the upload in flight at once (may be empty: nothing to do).
    std::function<void()> abandonUpload;
};

class TrayController {
  public:
    static constexpr std::int64_t kFirstRunDelayMs = 100 * 1000;
    static constexpr std::int64_t kRunIntervalMs = 60 * 60 * 1000;

    // created: the moment of the main window's creation.
    TrayController(TrayView& view, TrayServices services, LocalTime created);

    // Every tick of the 800 ms run timer.
    void RunTimerTimer(const LocalTime& now);
    void Runnow1Click();
    void Visitaccountpage1Click();
    void Settings1Click();
    void About1Click();
    void ExitKelvra1Click();
    // The installer of a new version asks the program to end, as on "Exit
    // Kelvra"; an open settings dialog or a run puts the end off as for the
    // user's Exit. When the installer stops waiting, it withdraws the request
    // and the program goes on, unless the user chose Exit as well.
    void EndForInstall();
    void InstallGaveUp();
    void TrayIcon1BalloonClick();
    // Another start of the program by the same user, which has ended: the
    // user is told where the running one is.
    void AnotherStart();
    // A close request of the window: true lets it close and the program end,
    // false means the window hides itself and the program goes on.
    bool FormCloseQuery();

    std::int64_t NextRunTime() const { return nextRunTime_; }
    const std::wstring& BalloonAction() const { return balloonAction_; }
    bool FirstTick() const { return firstTick_; }
    bool RunInProgress() const { return running_; }

  private:
    void ExecuteRun(bool scheduled);
    void FinishRun();
    // Greys the items whose click would be ignored now.
    void UpdateMenu();
    void ShowBalloon(const std::wstring& text, BalloonIcon icon);

    TrayView& view_;
    TrayServices services_;
    std::int64_t nextRunTime_;
    bool firstTick_ = true;
    bool exitRequested_ = false;
    bool exitOnlyForInstall_ = false;  // no Exit of the user's is pending
    bool running_ = false;
    bool uploading_ = false;
    bool settingsOpen_ = false;
    std::wstring runNowCaption_ = L"Run now";
    std::wstring balloonTitle_;
    std::wstring balloonAction_;
};

}  // namespace kelvra
