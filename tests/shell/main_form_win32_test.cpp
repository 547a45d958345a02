// The main window in this process: the real window, menu, timer and tray icon
// with the run, the upload and the account check of the program, and test
// stand-ins only for the dialogs and the browser.

#include "common/win32.h"

#include "shell/main_form_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "account/newaccount.h"
#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/paths.h"
#include "common/tools.h"
#include "http/service_address.h"
#include "http/transport.h"
#include "shell/inventory_run.h"
#include "shell/main.h"
#include "shell/resource.h"
#include "shell/startup_win32.h"
#include "shell/upload.h"
#include "support/account_service_win32.h"
#include "support/message_boxes.h"
#include "support/process_win32.h"
#include "support/saved_settings.h"
#include "support/saved_user_state_win32.h"
#include "support/tray_windows_win32.h"

// After common/win32.h, which brings in <windows.h>.
#include <shellapi.h>

namespace kelvra {
namespace {

using testing::WaitUntil;

std::wstring MenuCaption(HMENU menu, UINT id) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, id, text, 256, MF_BYCOMMAND);
    return text;
}

bool MenuEnabled(HMENU menu, UINT id) {
    return (GetMenuState(menu, id, MF_BYCOMMAND) & (MF_DISABLED | MF_GRAYED)) == 0;
}

std::wstring HourMinute(const LocalTime& t) {
    wchar_t text[16];
    swprintf(text, 16, L"%02d%ls%02d", t.hour, LocaleTimeSeparator().c_str(), t.minute);
    return text;
}

struct MenuState {
    std::wstring caption;
    bool enabled = false;
    bool timer = false;
};

class MainFormTest : public ::testing::Test {
  protected:
    MainFormTest() {
        boxes_.onBox = [this](const MessageBoxRequest&) {
            if (form_) atBox_ = State();
            return 1;
        };
        services_.checkAccount = [](std::wstring& message) {
            return TestAccount(false, L"", L"", L"", message);
        };
        services_.runInventory = [this](bool) {
            ++runs_;
            if (form_) duringRun_ = State();
            if (beforeRun_) beforeRun_();
            return RunInventory();
        };
        services_.uploadInventory = [](const std::wstring& payload) { UploadInventory(payload); };
        services_.abandonUpload = [] { AbandonHttpPosts(); };
        services_.editSettings = [this] {
            ++settingsShown_;
            settingsDuringRun_ = form_->Controller()->RunInProgress();
            timerInSettings_ = form_->RunTimerEnabled();
        };
        services_.openUrl = [this](const std::wstring& address) { opened_.push_back(address); };
        services_.accountPageUrl = [] { return AccountPageUrl(); };
        services_.showError = [](const std::wstring& message) { ShowErrorAndLog(message); };
        services_.aboutUrl = [] { return ServiceAddress(L"/whatiskelvra/"); };
    }
    ~MainFormTest() override {
        form_.reset();
        // Nothing of this test may reach the next one's message loop.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        AppDataDir = savedDataDir_;
        AppVersion = savedVersion_;
        SettingsFile = savedSettingsFile_;
    }

    TKelvraMainForm& Create() {
        form_ = std::make_unique<TKelvraMainForm>(services_);
        return *form_;
    }
    MenuState State() const {
        return {MenuCaption(form_->PopupMenu1(), IDM_RUNNOW),
                MenuEnabled(form_->PopupMenu1(), IDM_RUNNOW), form_->RunTimerEnabled()};
    }
    void Command(UINT id) { PostMessageW(form_->Handle(), WM_COMMAND, id, 0); }
    bool RunFinished() const {
        return MenuCaption(form_->PopupMenu1(), IDM_RUNNOW).rfind(L"Run now (last run: ", 0) == 0;
    }
    void StoreAccount() {
        ASSERT_TRUE(ForceDirectories(state_.DataFolder()));
        WriteFileBytes(state_.DataFolder() + L"settings.ini",
                       "[Account]\r\nUsername=user1\r\nPassword=pw\r\nProfile=PC01\r\n");
    }

    testing::SavedUserState state_;
    testing::SavedSettings savedSettings_;
    std::wstring savedDataDir_ = AppDataDir, savedVersion_ = AppVersion,
                 savedSettingsFile_ = SettingsFile;
    TrayServices services_;
    std::unique_ptr<TKelvraMainForm> form_;
    testing::MessageBoxRecorder boxes_;
    std::vector<std::wstring> opened_;
    std::function<void()> beforeRun_;
    MenuState duringRun_, atBox_;
    int runs_ = 0, settingsShown_ = 0;
    bool settingsDuringRun_ = false, timerInSettings_ = true;
};

TEST_F(MainFormTest, CreationSetsUpTheProgramAndShowsTheTitleWindow) {
    StoreAccount();
    auto& form = Create();
    HWND window = form.Handle();
    EXPECT_EQ(testing::WindowText(window), L"Kelvra - v2.0");
    EXPECT_EQ(AppDataDir, state_.DataFolder());
    EXPECT_EQ(AppVersion, L"2.0");
    EXPECT_EQ(SettingsFile, state_.DataFolder() + L"settings.ini");
    EXPECT_EQ(AccountUsername, L"user1") << "the settings were loaded";
    const std::wstring self = OwnExecutablePath();
    EXPECT_EQ(testing::SavedUserState::AutostartValue(), L"\"" + self + L"\"");

    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER));
    RECT client{}, frame{};
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    EXPECT_EQ(client.right, 337);
    EXPECT_EQ(client.bottom, 154);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND),
              reinterpret_cast<ULONG_PTR>(GetStockObject(WHITE_BRUSH)));

    form.Show();
    EXPECT_TRUE(IsWindowVisible(window));
    // The first tick, 800 ms on, hides it for good; the program goes on.
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 3000));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(form.RunTimerEnabled());
    EXPECT_FALSE(form.Controller()->FirstTick());
}

TEST_F(MainFormTest, PopupMenuHoldsTheCommandsInOrder) {
    HMENU menu = Create().PopupMenu1();
    ASSERT_EQ(GetMenuItemCount(menu), 7);
    const UINT ids[] = {IDM_RUNNOW, IDM_VISITACCOUNTPAGE, 0, IDM_SETTINGS, IDM_ABOUT,
                        0,          IDM_EXITKELVRA};
    const wchar_t* captions[] = {L"Run now", L"Visit account-page", L"", L"Settings", L"About",
                                 L"",        L"Exit Kelvra"};
    for (int i = 0; i < 7; ++i) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE;
        ASSERT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &item));
        EXPECT_EQ((item.fType & MFT_SEPARATOR) != 0, ids[i] == 0) << i;
        if (ids[i] == 0) continue;
        EXPECT_EQ(item.wID, ids[i]) << i;
        EXPECT_EQ(MenuCaption(menu, ids[i]), captions[i]);
        EXPECT_TRUE(MenuEnabled(menu, ids[i])) << i;
    }
}

TEST_F(MainFormTest, RunNowUploadsAndShowsTheRunInTheMenu) {
    testing::AccountService service({testing::kAccountServiceScript, {}});
    StoreAccount();
    auto& form = Create();
    SetServiceBaseAddress(service.BaseAddress());
    const LocalTime before = NowLocal();
    Command(IDM_RUNNOW);
    ASSERT_TRUE(WaitUntil([&] { return RunFinished(); }, 60000));
    const LocalTime after = NowLocal();

    EXPECT_EQ(duringRun_.caption, L"Run now (currently running...)");
    EXPECT_FALSE(duringRun_.enabled);
    EXPECT_FALSE(duringRun_.timer);
    const std::wstring caption = MenuCaption(form.PopupMenu1(), IDM_RUNNOW);
    EXPECT_TRUE(caption == L"Run now (last run: " + HourMinute(before) + L")" ||
                caption == L"Run now (last run: " + HourMinute(after) + L")")
        << caption;
    EXPECT_TRUE(MenuEnabled(form.PopupMenu1(), IDM_RUNNOW));
    EXPECT_TRUE(form.RunTimerEnabled());
    EXPECT_EQ(form.Controller()->BalloonAction(), service.BaseAddress() + L"/account/user1/");
    EXPECT_TRUE(boxes_.empty());

    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("POST /kv2/account_post.php ", 0), 0u);
    EXPECT_NE(requests[0].find("name=\"username\"\r\n\r\nuser1\r\n"), std::string::npos);
    EXPECT_NE(requests[0].find(ReadFileBytes(state_.DataFolder() + L"dump_PC01_0.txt")),
              std::string::npos);
    EXPECT_TRUE(FileExists(state_.DataFolder() + L"dump_PC01_0.html"));
}

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EndMenu();
}

TEST_F(MainFormTest, ARunServesTheTrayMenuButStartsNoSecondRun) {
    StoreAccount();
    SetServiceBaseAddress(L"http://127.0.0.1:" + std::to_wstring(testing::UnusedLoopbackPort()));
    auto& form = Create();
    beforeRun_ = [&] {
        // What the user does while the run serves messages: open the tray
        // menu (closed again by the timer), choose "Run now" again, open the
        // settings.
        PostMessageW(form.Handle(), TKelvraMainForm::kTrayMessage, MAKEWPARAM(200, 200),
                     MAKELPARAM(WM_CONTEXTMENU, IDC_TRAYICON));
        Command(IDM_RUNNOW);
        Command(IDM_SETTINGS);
        SetTimer(nullptr, 0, 500, &CloseMenu);
    };
    // The menu runs a loop of its own inside the run; another thread sees it.
    std::atomic<bool> menuShown{false}, stop{false};
    std::thread watcher([&] {
        while (!stop && !menuShown) {
            HWND popup = FindWindowW(L"#32768", nullptr);
            if (popup && IsWindowVisible(popup)) menuShown = true;
            Sleep(10);
        }
    });
    Command(IDM_RUNNOW);
    const bool finished = WaitUntil([&] { return RunFinished(); }, 60000);
    stop = true;
    watcher.join();
    ASSERT_TRUE(finished);
    WaitUntil([] { return false; }, 300);

    EXPECT_TRUE(menuShown);
    EXPECT_EQ(runs_, 1);
    EXPECT_EQ(settingsShown_, 1);
    EXPECT_TRUE(settingsDuringRun_) << "the settings opened while the run served messages";
    EXPECT_FALSE(timerInSettings_);
    EXPECT_TRUE(form.RunTimerEnabled()) << "the run's end starts the timer again";
}

TEST_F(MainFormTest, ErrorOfARunReachesTheErrorBoxOnceMenuAndTimerAreBack) {
    StoreAccount();
    auto& form = Create();
    beforeRun_ = [] { throw KelvraError(L"Cannot create file \"C:\\x\\dump_PC01_0.txt\""); };
    Command(IDM_RUNNOW);
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.empty(); }, 10000));
    EXPECT_EQ(boxes_[0].text, L"Cannot create file \"C:\\x\\dump_PC01_0.txt\"");
    EXPECT_EQ(boxes_[0].style & kMbIconError, kMbIconError);
    EXPECT_EQ(atBox_.caption.rfind(L"Run now (last run: ", 0), 0u);
    EXPECT_TRUE(atBox_.enabled);
    EXPECT_TRUE(atBox_.timer);
    EXPECT_EQ(form.Controller()->BalloonAction(), L"") << "the command ended at the error";
}

TEST_F(MainFormTest, CloseRequestsHideAndExitEndsTheMessageLoop) {
    auto& form = Create();
    HWND window = form.Handle();
    form.Show();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window));
    ShowWindow(window, SW_SHOW);
    SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4, the window menu
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window));

    Command(IDM_EXITKELVRA);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(MainFormTest, ExitDuringARunWaitsForTheRunAndTheUpload) {
    testing::AccountService service({testing::kAccountServiceScript, {}});
    StoreAccount();
    auto& form = Create();
    SetServiceBaseAddress(service.BaseAddress());
    HWND window = form.Handle();
    beforeRun_ = [&] { Command(IDM_EXITKELVRA); };
    Command(IDM_RUNNOW);
    MSG message{};
    bool windowDuringRun = false;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
        if (runs_ == 1 && !windowDuringRun) windowDuringRun = IsWindow(window);
    }
    EXPECT_TRUE(windowDuringRun);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(service.Requests().size(), 1u) << "the upload went out before the end";
}

TEST_F(MainFormTest, UploadToAServiceThatDripsItsAnswerEndsWithinTheLimitsAndTheTrayGoesOn) {
    testing::AccountService service({testing::kAccountServiceScript, {}});
    StoreAccount();
    HttpTimeouts quick;
    quick.resolveMs = quick.connectMs = quick.sendMs = 2000;
    quick.receiveMs = 1500;
    quick.totalReadMs = 3000;
    const auto previous = SetHttpTransport(MakePlatformTransport(quick));
    auto& form = Create();
    SetServiceBaseAddress(service.BaseAddress());
    // A head that never ends, one byte every 20 ms.
    service.AnswerDripping("HTTP/1.1 200 OK\r\nX-Filler: " + std::string(100000, 'a'), 0.02);
    const auto start = std::chrono::steady_clock::now();
    Command(IDM_RUNNOW);
    const bool finished = WaitUntil([&] { return RunFinished(); }, 30000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(finished);
    EXPECT_LT(seconds, 20.0) << "the limits add up to 10.5 s";
    EXPECT_TRUE(MenuEnabled(form.PopupMenu1(), IDM_RUNNOW));
    EXPECT_TRUE(form.RunTimerEnabled());
    EXPECT_TRUE(boxes_.empty()) << "a failed upload is silent";

    // The next run uploads as usual.
    service.Answer(200, "OK");
    Command(IDM_RUNNOW);
    ASSERT_TRUE(WaitUntil([&] { return runs_ == 2 && RunFinished(); }, 30000));
    EXPECT_EQ(service.Requests().size(), 2u);
    SetHttpTransport(previous);
}

// A thread timer whose callback runs whenever the thread serves its
// messages: the probe of a slow upload.
std::function<void()>* probeTick = nullptr;
void CALLBACK ProbeTick(HWND, UINT, UINT_PTR, DWORD) {
    if (probeTick && *probeTick) (*probeTick)();
}

// While the service drips its answer, the tray serves its messages (the menu
// opens and shows the run), and Exit ends the program without waiting for
// the answer. The longest gap between served messages during the upload is
// printed for docs/performance.md; it is a reading, not a condition.
TEST_F(MainFormTest, ASlowUploadServesTheTrayAndExitEndsTheProgramAtOnce) {
    using Clock = std::chrono::steady_clock;
    testing::AccountService service({testing::kAccountServiceScript, {}});
    StoreAccount();
    auto& form = Create();
    HWND window = form.Handle();
    SetServiceBaseAddress(service.BaseAddress());
    // A head that never ends, one byte every 50 ms: only the limits of the
    // whole exchange, minutes away, would end it.
    service.AnswerDripping("HTTP/1.1 200 OK\r\nX-Filler: " + std::string(100000, 'a'), 0.05);

    bool uploading = false, menuShown = false;
    MenuState inMenu;
    std::vector<Clock::time_point> served;
    Clock::time_point exitAt{};
    std::function<void()> tick = [&] {
        if (exitAt != Clock::time_point{}) return;
        if (!uploading) uploading = !service.Requests().empty();
        if (!uploading) return;
        served.push_back(Clock::now());
        if (served.size() == 1) {
            PostMessageW(window, TKelvraMainForm::kTrayMessage, MAKEWPARAM(200, 200),
                         MAKELPARAM(WM_CONTEXTMENU, IDC_TRAYICON));
            SetTimer(nullptr, 0, 500, &CloseMenu);
        }
        HWND popup = FindWindowW(L"#32768", nullptr);
        if (!menuShown && popup && IsWindowVisible(popup)) {
            menuShown = true;
            inMenu = State();
        }
        if (Clock::now() - served.front() > std::chrono::seconds(3)) {
            exitAt = Clock::now();
            Command(IDM_EXITKELVRA);
        }
    };
    probeTick = &tick;
    const UINT_PTR probe = SetTimer(nullptr, 0, 10, &ProbeTick);

    // Far beyond what Exit needs, far below what the service's drip takes.
    std::atomic<bool> ended{false}, gaveUp{false};
    const DWORD thread = GetCurrentThreadId();
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !ended; ++i) Sleep(100);
        if (!ended) {
            gaveUp = true;
            PostThreadMessageW(thread, WM_QUIT, 0, 0);
        }
    });
    Command(IDM_RUNNOW);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    const Clock::time_point end = Clock::now();
    ended = true;
    watchdog.join();
    KillTimer(nullptr, probe);
    probeTick = nullptr;

    EXPECT_FALSE(gaveUp) << "the program waited for the service";
    ASSERT_NE(exitAt, Clock::time_point{}) << "the upload was never seen in flight";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(menuShown);
    EXPECT_EQ(inMenu.caption, L"Run now (currently running...)");
    EXPECT_FALSE(inMenu.enabled);
    EXPECT_GT(served.size(), 10u);

    double longestGapMs = 0;
    for (std::size_t i = 1; i < served.size(); ++i)
        longestGapMs =
            std::max(longestGapMs,
                     std::chrono::duration<double, std::milli>(served[i] - served[i - 1]).count());
    const double exitMs = std::chrono::duration<double, std::milli>(end - exitAt).count();
    RecordProperty("served", static_cast<int>(served.size()));
    RecordProperty("longest_gap_ms", static_cast<int>(longestGapMs));
    RecordProperty("exit_ms", static_cast<int>(exitMs));
    std::printf(
        "upload served %zu timer messages in %.0f ms; longest gap %.1f ms; "
        "Exit to end of the message loop %.1f ms\n",
        served.size(),
        std::chrono::duration<double, std::milli>(served.back() - served.front()).count(),
        longestGapMs, exitMs);
}

TEST_F(MainFormTest, TaskbarCreatedBringsTheIconBack) {
    auto& form = Create();
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = form.Handle();
    icon.uID = IDC_TRAYICON;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon)) << "the icon is there";
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));  // as when Explorer dies
    ASSERT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    SendMessageW(form.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon));
}

}  // namespace
}  // namespace kelvra
