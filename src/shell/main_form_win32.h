#pragma once
// TKelvraMainForm: the tray program's main window. Shown for a moment as a
// borderless title window, then hidden for good; it owns the tray icon with
// its menu and balloons and the 800 ms run timer, and hands every tick,
// command and close request to the TrayController, carrying out what the
// controller asks through TrayView.

#include "common/win32.h"

#include <memory>
#include <optional>
#include <string>

#include "common/handles_win32.h"
#include "common/pending_messages.h"
#include "common/scope.h"
#include "common/ui_handles_win32.h"
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
    // The pending messages' pump is the window's while it exists.
    std::optional<ScopedHook<&SetPendingMessagePump>> windowPump_;
};

// The services of the real program: the account check, the run, the upload,
// the settings dialog, the browser, the error box and the about page.
TrayServices ProductTrayServices();

}  // namespace kelvra
