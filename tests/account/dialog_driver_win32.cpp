#include "account/dialog_driver_win32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <map>
#include <utility>
#include <vector>

#include "account/forms_win32.h"
#include "common/ui_handles_win32.h"

namespace kelvra::testing {
namespace {

struct PendingAction {
    std::wstring caption;
    std::function<void(HWND)> action;
};

std::map<UINT_PTR, PendingAction>& PendingActions() {
    static std::map<UINT_PTR, PendingAction> actions;
    return actions;
}

BOOL CALLBACK CollectVisibleDialog(HWND window, LPARAM list) {
    if (IsWindowVisible(window) && ClassOf(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogsOfThisThread() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectVisibleDialog,
                      reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

void CALLBACK ActionTimerProc(HWND, UINT, UINT_PTR timer, DWORD) {
    auto& actions = PendingActions();
    const auto it = actions.find(timer);
    if (it == actions.end()) {
        KillTimer(nullptr, timer);
        return;
    }
    HWND dialog = nullptr;
    for (HWND candidate : VisibleDialogsOfThisThread())
        if (TextOf(candidate) == it->second.caption) dialog = candidate;
    if (!dialog) return;  // not up yet: try again on the next tick

    KillTimer(nullptr, timer);
    const PendingAction pending = std::move(it->second);
    actions.erase(it);
    try {
        pending.action(dialog);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "the dialog action raised: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "the dialog action raised";
    }
    if (::testing::Test::HasFailure() && IsWindow(dialog) && IsWindowVisible(dialog))
        PostMessageW(dialog, WM_CLOSE, 0, 0);
}

void CALLBACK WatchdogProc(HWND, UINT, UINT_PTR, DWORD) {
    const std::vector<HWND> dialogs = VisibleDialogsOfThisThread();
    if (dialogs.empty()) return;
    ADD_FAILURE() << "a dialog was still open when the watchdog fired";
    for (HWND dialog : dialogs) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

LPARAM CentreOf(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return MAKELPARAM(client.right / 2, client.bottom / 2);
}

}  // namespace

void ActWhenDialogOpens(std::wstring caption, std::function<void(HWND dialog)> action) {
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, ActionTimerProc);
    ASSERT_NE(timer, 0u);
    PendingActions()[timer] = {std::move(caption), std::move(action)};
}

DialogWatchdog::DialogWatchdog(unsigned milliseconds)
    : timer_(SetTimer(nullptr, 0, milliseconds, WatchdogProc)) {
    // Wine opens no window without an X display; say so rather than fail
    // later with a window that could not be created.
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
        ADD_FAILURE() << "no X display: run the tests under scripts/with-display.sh";
}

DialogWatchdog::~DialogWatchdog() {
    KillTimer(nullptr, timer_);
    // Actions whose dialog never came must not fire in a later test.
    for (auto& [timer, pending] : PendingActions()) {
        KillTimer(nullptr, timer);
        ADD_FAILURE() << "the dialog " << ::testing::PrintToString(pending.caption)
                      << " never opened";
    }
    PendingActions().clear();
}

void Pump() { PumpFormMessages(); }

void Click(HWND control) {
    const LPARAM point = CentreOf(control);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(control, WM_LBUTTONUP, 0, point);
    Pump();
}

void TypeText(HWND edit, std::wstring_view text) {
    Click(edit);
    PostMessageW(edit, WM_KEYDOWN, VK_END, 1);
    PostMessageW(edit, WM_KEYUP, VK_END, 1);
    for (wchar_t ch : text) PostMessageW(edit, WM_CHAR, ch, 1);
    Pump();
}

void PressKey(UINT key, bool shift, bool control) {
    BYTE saved[256];
    GetKeyboardState(saved);
    BYTE held[256];
    std::copy(std::begin(saved), std::end(saved), std::begin(held));
    held[VK_SHIFT] = shift ? 0x80 : 0;
    held[VK_CONTROL] = control ? 0x80 : 0;
    SetKeyboardState(held);
    HWND focus = GetFocus();
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    Pump();
    SetKeyboardState(saved);
}

RECT RectRelativeTo(HWND control, HWND reference) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, reference, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE ClientSize(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

DrawColours ColoursOf(HWND control, UINT ctlColorMessage) {
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    SetTextColor(dc.get(), RGB(1, 2, 3));
    SetBkColor(dc.get(), RGB(4, 5, 6));
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(control), ctlColorMessage,
                                                             reinterpret_cast<WPARAM>(dc.get()),
                                                             reinterpret_cast<LPARAM>(control)));
    DrawColours colours{GetTextColor(dc.get()), GetBkColor(dc.get()), CLR_INVALID};
    LOGBRUSH logBrush{};
    if (brush && GetObjectW(brush, sizeof(logBrush), &logBrush)) colours.brush = logBrush.lbColor;
    return colours;
}

COLORREF PixelOf(HWND window, int x, int y) {
    // A hidden window has no pixels of its own to read.
    EXPECT_TRUE(IsWindowVisible(window));
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const WindowDc dc(window);
    return GetPixel(dc.get(), x, y);
}

}  // namespace kelvra::testing

namespace kelvra::testing {
namespace {

std::string Narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

LOGFONTW FontOf(HWND window) {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    if (handle) GetObjectW(handle, sizeof(font), &font);
    return font;
}

int TextWidthOf(HWND window) {
    const std::wstring text = TextOf(window);
    const WindowDc dc(window);
    const ScopedSelection font(dc.get(),
                               reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return extent.cx;
}

std::wstring TabCaption(HWND pageControl, int index) {
    wchar_t text[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(pageControl, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item));
    return text;
}

}  // namespace

void ExpectFormMatchesItsLayout(const TForm& form) {
    const FormLayout& layout = form.Layout();
    const int dpi = form.Dpi();
    HWND window = form.Handle();
    EXPECT_EQ(ClassOf(window), L"#32770");
    const auto style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU) << "title bar, close box";
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0)
        << "fixed, close box only";
    EXPECT_EQ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0,
              layout.border == FormBorder::Dialog);

    // Every control as its kind's row of the table says; where each one sits
    // the callers check against the design itself.
    for (const ControlLayout& control : layout.controls) {
        SCOPED_TRACE(Narrow(control.name));
        const ControlKindTraits& kind = TraitsOfKind(control.kind);
        HWND child = form.Control(control.name);
        ASSERT_NE(child, nullptr);
        HWND parent = GetParent(child);
        EXPECT_EQ(parent, control.parent.empty() ? window : form.Control(control.parent));
        EXPECT_EQ(ClassOf(child), kind.windowClass);
        const auto childStyle = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
        EXPECT_EQ(childStyle & kind.style & ~WS_VISIBLE, kind.style & ~WS_VISIBLE);
        EXPECT_EQ(GetWindowLongPtrW(child, GWL_EXSTYLE) & kind.exStyle, kind.exStyle);
        EXPECT_EQ((childStyle & WS_TABSTOP) != 0, kind.tabStop && control.tabOrder != kNoTabStop);
        if (kind.label) {
            EXPECT_EQ((childStyle & SS_TYPEMASK) == SS_RIGHT, control.align == TextAlign::Right);
            const RECT box = RectRelativeTo(child, parent);
            const int width = box.right - box.left;
            EXPECT_GE(width, TextWidthOf(child)) << "never clipped";
            if (width > ScaleRect(control.rect, dpi).width) {
                EXPECT_LE(width, TextWidthOf(child) + 1) << "grown only as far as its text";
            }
        }
        // A tab sheet is a panel without text; its tab is the page control's.
        if (kind.caption != CaptionPlace::Tab) {
            const LOGFONTW font = FontOf(child);
            EXPECT_STREQ(font.lfFaceName, layout.fontName.data());
            EXPECT_EQ(font.lfHeight, FontHeightForDpi(layout.fontPoints, dpi));
            EXPECT_EQ(font.lfUnderline != 0, kind.link);
        }
        EXPECT_TRUE(IsWindowEnabled(child));

        HWND label = form.CaptionLabel(control.name);
        EXPECT_EQ(label != nullptr, kind.caption == CaptionPlace::LabelAbove);
        switch (kind.caption) {
            case CaptionPlace::None: EXPECT_EQ(TextOf(child), L""); break;
            case CaptionPlace::Window: EXPECT_EQ(TextOf(child), control.caption); break;
            case CaptionPlace::ShownText:
                EXPECT_EQ(TextOf(child), ShownCaption(control.caption));
                break;
            case CaptionPlace::Tab: {
                // The page control's display area, under the stored caption.
                const auto pages = ChildrenOf(layout, control.parent);
                const int index = static_cast<int>(std::find(pages.begin(), pages.end(), &control) -
                                                   pages.begin());
                EXPECT_EQ(TabCaption(parent, index), control.caption);
                RECT display;
                GetClientRect(parent, &display);
                SendMessageW(parent, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
                const RECT actual = RectRelativeTo(child, parent);
                EXPECT_TRUE(EqualRect(&actual, &display));
                break;
            }
            case CaptionPlace::LabelAbove: {
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(TextOf(child), L"");
                EXPECT_EQ(GetParent(label), parent);
                EXPECT_EQ(TextOf(label), ShownCaption(control.caption));
                EXPECT_EQ(GetWindow(label, GW_HWNDNEXT), child) << "the label names the field";
                const RECT got = RectRelativeTo(label, parent);
                const PixelRect want = ScaleRect(CaptionRectOfLabelledEdit(control.rect), dpi);
                EXPECT_NEAR(got.left, want.left, 1);
                EXPECT_NEAR(got.top, want.top, 1);
                EXPECT_NEAR(got.right - got.left, want.width, 1);
                EXPECT_NEAR(got.bottom - got.top, want.height, 1);
                break;
            }
        }
    }
}

}  // namespace kelvra::testing
