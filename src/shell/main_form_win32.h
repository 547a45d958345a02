#pragma once
// TKelvraMainForm: the tray program's main window. Shown for a moment as a
// borderless title window, then hidden for good; it owns the tray icon with
// its menu and balloons and the 800 ms run timer, and hands every tick,
// command and close request to the TrayController, carrying out what the
// controller asks through TrayView.

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/handles_win32.h"
#include "common/ui_handles_win32.h"
#include "common/win32.h"
#include "shell/inventory_run.h"
#include "shell/main.h"
#include "shell/tray_controller.h"

namespace kelvra {

class TKelvraMainForm final : public TrayView {
  public:
    static constexpr wchar_t kClassName[] = L"TKelvraMainForm";
    static constexpr UINT kRunTimerInterval = 800;  // ms
    // The tray icon's callback message.
    static constexpr UINT kTrayMessage = WM_APP + 1;

    // Creates the window (hidden), its menu, tray icon and timer, and runs
    // FormCreate. An error of FormCreate shows the default error box; the
    // window lives on, as the rest of its creation does not depend on it.
    explicit TKelvraMainForm(TrayServices services, HINSTANCE instance = GetModuleHandleW(nullptr));
    ~TKelvraMainForm() override;
    TKelvraMainForm(const TKelvraMainForm&) = delete;
    TKelvraMainForm& operator=(const TKelvraMainForm&) = delete;

    HWND Handle() const { return window_; }
    // Shows the window as the start-up title window.
    void Show();

    // For tests, which look at the real menu and timer.
    HMENU PopupMenu1() const { return popupMenu_.get(); }
    bool RunTimerEnabled() const { return timerEnabled_; }
    TrayController* Controller() { return controller_.get(); }

    // TrayView
    void StartTimer() override;
    void StopTimer() override;
    void RequestClose() override;
    void ShowBalloon(const std::wstring& title, const std::wstring& text,
                     BalloonIcon icon) override;
    void SetRunNowItem(const std::wstring& caption, bool enabled) override;
    void SetSettingsItem(bool enabled) override;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void FormCreate();
    void CreatePopupMenu1();
    bool AddTrayIcon();
    void ShowPopupMenu(POINT at);
    void OnCommand(UINT id);
    void OnTrayMessage(UINT event, WPARAM wParam);
    void OnClose();
    void Paint();
    int Scaled(int pixels) const;

    TrayServices services_;
    HINSTANCE instance_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    UINT taskbarCreated_ = 0;
    UINT trayCommand_ = 0;  // another start's TrayCommand for this user
    bool timerEnabled_ = false;
    bool trayVersion4_ = false;
    // Set when the object, not the Exit command, ends the window (tests): no
    // WM_QUIT then.
    bool closingQuietly_ = false;
    UniqueHMenu popupMenu_;
    UniqueHIcon trayIcon_;
    UniqueHBitmap logo_;
    UniqueHFont labelFont_;
    std::unique_ptr<TrayController> controller_;
    PendingMessagePump previousPump_;
};

// Serves the window messages that wait in this thread's queue, as a run does
// at its fixed points. A WM_QUIT found there is posted again and ends the
// serving, so that the message loop it belongs to still sees it.
void PumpPendingMessages();

// The toolkit's default error box: a modal box with the error's message.
void ShowDefaultErrorBox(const std::exception& error);

// Calls the handler and shows any error it raises in the default error box:
// no error may leave a window procedure.
template <class Handler>
void Guarded(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowDefaultErrorBox(error);
    } catch (...) {
        ShowDefaultErrorBox(std::runtime_error("Unknown error"));
    }
}

// The services of the real program: the account check, the run, the upload,
// the settings dialog, the browser, the error box and the about page.
TrayServices ProductTrayServices();

// Writes the autostart value for the running executable (quoted) under the
// current user's Run key, which is opened but never created; the write goes
// through to disk at once. A Run key that cannot be opened is left alone; a
// write that fails raises.
void SetAutostart(bool enable);

// The full path of the running executable.
std::wstring OwnExecutablePath();

// The install steps of a start as "akelvra.exe": ask a running tray program
// of this user to end and wait for it a bounded time, copy the running
// executable into the data folder as "kelvra_run.exe", overwriting an older
// copy, and ask the shell to start the copy. A copy or a start that fails is
// shown in an error box that says why and where.
void InstallAndStartCopy(const std::wstring& ownPath);

// Posts the command to the main window of the running tray program of this
// user, waiting up to the time for the window to appear (a tray program
// that has only just started). False when none took it.
bool PostToRunningTray(TrayCommand command, unsigned long waitMs);

}  // namespace kelvra
