#include "shell/main_form_win32.h"

// After the header, which brings in <windows.h>.
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/sysfacts.h"
#include "common/tools.h"
#include "common/ui_win32.h"
#include "shell/main.h"
#include "shell/resource.h"
#include "shell/startup_win32.h"
#include "shell/version.h"

namespace kelvra {
namespace {

constexpr UINT_PTR kRunTimerId = 1;
constexpr int kClientWidth = 337;  // at 96 dots per inch
constexpr int kClientHeight = 154;
constexpr wchar_t kLabelCaption[] = L"KelVra 2.0";
constexpr wchar_t kTrayTip[] = L"Kelvra";

template <std::size_t N>
void CopyTruncated(wchar_t (&target)[N], const std::wstring& text) {
    const std::size_t count = std::min(text.size(), N - 1);
    text.copy(target, count);
    target[count] = L'\0';
}

// The program's one tray icon, as every call about it names it; the caller
// fills what its call needs and says which fields those are.
NOTIFYICONDATAW TrayIconData(HWND window, UINT flags) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = IDC_TRAYICON;
    data.uFlags = flags;
    return data;
}

void RegisterMainFormClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, TKelvraMainForm::kClassName, &existing)) return;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    // Icons of LoadIconW are shared and need no owner. A module without the
    // program's icon (a test program) gets the system's.
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KELVRA));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = TKelvraMainForm::kClassName;
    if (!RegisterClassExW(&windowClass))
        throw KelvraError(L"Cannot register the main window class");
}

}  // namespace

TKelvraMainForm::TKelvraMainForm(TrayServices services, HINSTANCE instance)
    : services_(std::move(services)), instance_(instance), dpi_(ScreenDpi()) {
    RegisterMainFormClass(instance_, &TKelvraMainForm::WindowProc);
    // Explorer broadcasts this message when it (re)starts; the icon must then
    // be added again or it is gone for good.
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    trayCommand_ = RegisterWindowMessageW(TrayCommandMessageName(GetUserNameText()).c_str());

    const int width = Scaled(kClientWidth);
    const int height = Scaled(kClientHeight);
    const POINT origin = ScreenCentredOrigin(width, height);
    // WS_POPUP: no border and no title bar. WS_SYSMENU keeps the window menu
    // (Alt+Space) and Alt+F4, whose close requests only hide the window.
    window_ = CreateWindowExW(0, kClassName, L"", WS_POPUP | WS_SYSMENU, origin.x, origin.y, width,
                              height, nullptr, nullptr, instance_, this);
    if (!window_) throw KelvraError(L"Cannot create the main window");

    logo_.reset(static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP,
                                                0, 0, LR_CREATEDIBSECTION)));
    // A negative height asks for the character height rather than the cell's.
    // Arial Black is black by design; asking for that weight keeps a
    // substitute face (a system without Arial Black) heavy as well.
    labelFont_.reset(CreateFontW(-Scaled(27), 0, 0, 0, FW_BLACK, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial Black"));
    trayIcon_.reset(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_KELVRA),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0)));
    CreatePopupMenu1();
    AddTrayIcon();
    StartTimer();
    Guarded([this] { FormCreate(); });
    windowPump_.emplace([] { PumpWindowMessages(); });
}

TKelvraMainForm::~TKelvraMainForm() {
    windowPump_.reset();
    if (window_) {
        closingQuietly_ = true;
        DestroyWindow(window_);
    }
}

int TKelvraMainForm::Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }

void TKelvraMainForm::FormCreate() {
    OpenDataFolder(DataFolderOf(GetLocalAppDataDir()));
    SetWindowTextW(window_, (L"Kelvra - v" + AppVersion).c_str());
    controller_ = std::make_unique<TrayController>(*this, std::move(services_), NowLocal());
    SetAutostart(true);
}

void TKelvraMainForm::Show() {
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

void TKelvraMainForm::CreatePopupMenu1() {
    popupMenu_.reset(::CreatePopupMenu());
    HMENU menu = popupMenu_.get();
    AppendMenuW(menu, MF_STRING, IDM_RUNNOW, L"Run now");
    AppendMenuW(menu, MF_STRING, IDM_VISITACCOUNTPAGE, L"Visit account-page");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_SETTINGS, L"Settings");
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, L"About");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_EXITKELVRA, L"Exit Kelvra");
}

bool TKelvraMainForm::AddTrayIcon() {
    NOTIFYICONDATAW data = TrayIconData(window_, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = trayIcon_ ? trayIcon_.get() : LoadIconW(nullptr, IDI_APPLICATION);
    CopyTruncated(data.szTip, kTrayTip);
    // Fails while no tray exists yet (an early autostart); TaskbarCreated
    // brings the icon later.
    if (!Shell_NotifyIconW(NIM_ADD, &data)) return false;
    // Version 4 reports the menu request as WM_CONTEXTMENU with the anchor
    // point; older shells send bare mouse messages.
    data.uVersion = NOTIFYICON_VERSION_4;
    trayVersion4_ = Shell_NotifyIconW(NIM_SETVERSION, &data) != FALSE;
    return true;
}

void TKelvraMainForm::StartTimer() {
    if (window_ && SetTimer(window_, kRunTimerId, kRunTimerInterval, nullptr)) timerEnabled_ = true;
}

void TKelvraMainForm::StopTimer() {
    if (window_) KillTimer(window_, kRunTimerId);
    // A tick already waiting in the queue is ignored by this flag: KillTimer
    // does not take back what was posted.
    timerEnabled_ = false;
}

void TKelvraMainForm::RequestClose() {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
}

void TKelvraMainForm::ShowBalloon(const std::wstring& title, const std::wstring& text,
                                  BalloonIcon icon) {
    NOTIFYICONDATAW data = TrayIconData(window_, NIF_INFO);
    CopyTruncated(data.szInfoTitle, title);
    CopyTruncated(data.szInfo, text);
    data.dwInfoFlags = icon == BalloonIcon::Warning ? NIIF_WARNING : NIIF_NONE;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TKelvraMainForm::SetRunNowItem(const std::wstring& caption, bool enabled) {
    std::wstring text = caption;
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING | MIIM_STATE;
    item.dwTypeData = text.data();
    item.fState = enabled ? MFS_ENABLED : MFS_DISABLED;
    SetMenuItemInfoW(popupMenu_.get(), IDM_RUNNOW, FALSE, &item);
}

void TKelvraMainForm::SetSettingsItem(bool enabled) {
    EnableMenuItem(popupMenu_.get(), IDM_SETTINGS,
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void TKelvraMainForm::ShowPopupMenu(POINT at) {
    // The menu only closes on a click elsewhere when its owner is the
    // foreground window; the WM_NULL afterwards lets the menu's own loop end
    // properly (the shell's documented tray menu pattern).
    SetForegroundWindow(window_);
    const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    TrackPopupMenuEx(popupMenu_.get(), align | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, at.x, at.y,
                     window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
}

void TKelvraMainForm::OnCommand(UINT id) {
    if (!controller_) {
        if (id == IDM_EXITKELVRA) DestroyWindow(window_);
        return;
    }
    switch (id) {
        case IDM_RUNNOW: controller_->Runnow1Click(); break;
        case IDM_VISITACCOUNTPAGE: controller_->Visitaccountpage1Click(); break;
        case IDM_SETTINGS: controller_->Settings1Click(); break;
        case IDM_ABOUT: controller_->About1Click(); break;
        case IDM_EXITKELVRA: controller_->ExitKelvra1Click(); break;
        default: break;
    }
}

void TKelvraMainForm::OnTrayMessage(UINT event, WPARAM wParam) {
    switch (event) {
        case WM_CONTEXTMENU:
            if (trayVersion4_) ShowPopupMenu({GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)});
            break;
        case WM_RBUTTONUP:
            if (!trayVersion4_) {
                POINT at{};
                GetCursorPos(&at);
                ShowPopupMenu(at);
            }
            break;
        case NIN_BALLOONUSERCLICK:
            if (controller_) controller_->TrayIcon1BalloonClick();
            break;
        default: break;
    }
}

void TKelvraMainForm::OnClose() {
    if (controller_ && controller_->FormCloseQuery()) {
        DestroyWindow(window_);
        return;
    }
    ShowWindow(window_, SW_HIDE);
}

void TKelvraMainForm::Paint() {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window_, &paint);
    if (logo_) {
        UniqueMemoryDc memory(CreateCompatibleDC(dc));
        BITMAP size{};
        GetObjectW(logo_.get(), sizeof(size), &size);
        const ScopedSelection logo(memory.get(), logo_.get());
        SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, Scaled(8), Scaled(8), Scaled(89), Scaled(89), memory.get(), 0, 0,
                   size.bmWidth, size.bmHeight, SRCCOPY);
    }
    {
        const ScopedSelection font(dc, labelFont_.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        TextOutW(dc, Scaled(136), Scaled(8), kLabelCaption,
                 static_cast<int>(wcslen(kLabelCaption)));
    }
    EndPaint(window_, &paint);
}

LRESULT CALLBACK TKelvraMainForm::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form =
            static_cast<TKelvraMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TKelvraMainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(window, message, wParam, lParam);
    return form->HandleMessage(message, wParam, lParam);
}

LRESULT TKelvraMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        AddTrayIcon();
        return 0;
    }
    if (message == trayCommand_ && trayCommand_ != 0) {
        Guarded([this, wParam] {
            if (!controller_) return;
            if (wParam == static_cast<WPARAM>(TrayCommand::AnotherStart))
                controller_->AnotherStart();
            else if (wParam == static_cast<WPARAM>(TrayCommand::EndForInstall))
                controller_->EndForInstall();
            else if (wParam == static_cast<WPARAM>(TrayCommand::InstallGaveUp))
                controller_->InstallGaveUp();
        });
        return 0;
    }
    switch (message) {
        case WM_TIMER:
            if (wParam == kRunTimerId && timerEnabled_ && controller_)
                Guarded([this] { controller_->RunTimerTimer(NowLocal()); });
            return 0;
        case WM_COMMAND: Guarded([this, wParam] { OnCommand(LOWORD(wParam)); }); return 0;
        case kTrayMessage: {
            const UINT event = trayVersion4_ ? LOWORD(lParam) : static_cast<UINT>(lParam);
            Guarded([this, event, wParam] { OnTrayMessage(event, wParam); });
            return 0;
        }
        case WM_CLOSE: Guarded([this] { OnClose(); }); return 0;
        case WM_PAINT: Paint(); return 0;
        case WM_DESTROY: {
            NOTIFYICONDATAW data = TrayIconData(window_, 0);
            Shell_NotifyIconW(NIM_DELETE, &data);
            KillTimer(window_, kRunTimerId);
            timerEnabled_ = false;
            if (!closingQuietly_) PostQuitMessage(0);
            return 0;
        }
        case WM_NCDESTROY: {
            HWND window = std::exchange(window_, nullptr);
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return DefWindowProcW(window, message, wParam, lParam);
        }
        default: return DefWindowProcW(window_, message, wParam, lParam);
    }
}

}  // namespace kelvra
