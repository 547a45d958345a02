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

std::wstring_view ClassOfKind(ControlKind kind) {
    switch (kind) {
        case ControlKind::PageControl: return L"SysTabControl32";
        case ControlKind::TabSheet: return L"KelvraFormPanel";
        case ControlKind::Label:
        case ControlKind::LinkLabel: return L"Static";
        case ControlKind::LabelledEdit: return L"Edit";
        case ControlKind::GroupBox:
        case ControlKind::CheckBox:
        case ControlKind::PushButton:
        case ControlKind::FlatButton: return L"Button";
    }
    return L"";
}

LOGFONTW FontOf(HWND window) {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    if (handle) GetObjectW(handle, sizeof(font), &font);
    return font;
}

int TextWidthOf(HWND window) {
    const std::wstring text = TextOf(window);
    const WindowDc dc(window);
    HGDIOBJ previous =
        SelectObject(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc.get(), previous);
    return extent.cx;
}

void ExpectNear(const RECT& actual, const PixelRect& expected) {
    EXPECT_NEAR(actual.left, expected.left, 1);
    EXPECT_NEAR(actual.top, expected.top, 1);
    EXPECT_NEAR(actual.right - actual.left, expected.width, 1);
    EXPECT_NEAR(actual.bottom - actual.top, expected.height, 1);
}

}  // namespace

void ExpectFormMatchesItsLayout(const TForm& form) {
    const FormLayout& layout = form.Layout();
    const int dpi = form.Dpi();
    HWND window = form.Handle();
    EXPECT_EQ(ClassOf(window), L"#32770");
    EXPECT_EQ(TextOf(window), layout.caption);
    const SIZE client = ClientSize(window);
    EXPECT_EQ(client.cx, ScaleToDpi(layout.clientWidth, dpi));
    EXPECT_EQ(client.cy, ScaleToDpi(layout.clientHeight, dpi));
    const auto style = GetWindowLongPtrW(window, GWL_STYLE);
    const auto exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU) << "title bar, close box";
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0)
        << "fixed, close box only";
    EXPECT_EQ((exStyle & WS_EX_DLGMODALFRAME) != 0, layout.border == FormBorder::Dialog);

    for (const ControlLayout& control : layout.controls) {
        SCOPED_TRACE(Narrow(control.name));
        HWND child = form.Control(control.name);
        ASSERT_NE(child, nullptr);
        HWND parent = GetParent(child);
        EXPECT_EQ(parent, control.parent.empty() ? window : form.Control(control.parent));
        EXPECT_EQ(ClassOf(child), ClassOfKind(control.kind));
        const auto childStyle = GetWindowLongPtrW(child, GWL_STYLE);
        const PixelRect expected = ScaleRect(control.rect, dpi);
        const RECT actual = RectRelativeTo(child, parent);

        const LOGFONTW font = FontOf(child);
        if (control.kind != ControlKind::TabSheet) {
            EXPECT_STREQ(font.lfFaceName, layout.fontName.data());
            EXPECT_EQ(font.lfHeight, FontHeightForDpi(layout.fontPoints, dpi));
            EXPECT_EQ(font.lfUnderline != 0, control.kind == ControlKind::LinkLabel);
        }
        const bool tabStop = (childStyle & WS_TABSTOP) != 0;

        switch (control.kind) {
            case ControlKind::TabSheet: {
                // The page control's display area, with the tab of the caption.
                RECT display;
                GetClientRect(parent, &display);
                SendMessageW(parent, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
                EXPECT_EQ(actual.left, display.left);
                EXPECT_EQ(actual.top, display.top);
                EXPECT_EQ(actual.right, display.right);
                EXPECT_EQ(actual.bottom, display.bottom);
                const auto pages = ChildrenOf(layout, control.parent);
                const auto index = std::find(pages.begin(), pages.end(), &control) - pages.begin();
                wchar_t text[64] = {};
                TCITEMW item{};
                item.mask = TCIF_TEXT;
                item.pszText = text;
                item.cchTextMax = 64;
                ASSERT_TRUE(
                    SendMessageW(parent, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item)));
                EXPECT_EQ(std::wstring_view(text), control.caption) << "the stored caption";
                break;
            }
            case ControlKind::Label:
            case ControlKind::LinkLabel: {
                EXPECT_EQ(TextOf(child), ShownCaption(control.caption));
                EXPECT_EQ((childStyle & SS_TYPEMASK) == SS_RIGHT,
                          control.align == TextAlign::Right);
                EXPECT_EQ(actual.top, expected.top);
                EXPECT_EQ(actual.bottom - actual.top, expected.height);
                // Grown for a wider font, from the aligned edge, never clipped.
                if (control.align == TextAlign::Right) {
                    EXPECT_EQ(actual.right, expected.right());
                } else {
                    EXPECT_EQ(actual.left, expected.left);
                }
                const int width = actual.right - actual.left;
                EXPECT_GE(width, expected.width);
                EXPECT_GE(width, TextWidthOf(child));
                if (width > expected.width) {
                    EXPECT_LE(width, TextWidthOf(child) + 1);
                }
                EXPECT_EQ((childStyle & SS_NOTIFY) != 0, control.kind == ControlKind::LinkLabel);
                // A service's answer shown here keeps its "&".
                EXPECT_NE(childStyle & SS_NOPREFIX, 0);
                break;
            }
            case ControlKind::LabelledEdit: {
                ExpectNear(actual, expected);
                EXPECT_EQ(TextOf(child), L"");
                EXPECT_EQ(childStyle & ES_PASSWORD, 0) << "typed characters are shown in clear";
                EXPECT_TRUE(tabStop);
                HWND caption = form.CaptionLabel(control.name);
                ASSERT_NE(caption, nullptr);
                EXPECT_EQ(GetParent(caption), parent);
                EXPECT_EQ(ClassOf(caption), L"Static");
                EXPECT_EQ(TextOf(caption), ShownCaption(control.caption));
                EXPECT_EQ(GetWindow(caption, GW_HWNDNEXT), child) << "the label names the field";
                ExpectNear(RectRelativeTo(caption, parent),
                           ScaleRect(CaptionRectOfLabelledEdit(control.rect), dpi));
                break;
            }
            case ControlKind::GroupBox:
                ExpectNear(actual, expected);
                EXPECT_EQ(TextOf(child), control.caption);
                EXPECT_EQ(childStyle & BS_TYPEMASK, BS_GROUPBOX);
                break;
            case ControlKind::CheckBox:
                ExpectNear(actual, expected);
                EXPECT_EQ(TextOf(child), control.caption);
                EXPECT_EQ(childStyle & BS_TYPEMASK, BS_AUTOCHECKBOX);
                EXPECT_TRUE(tabStop);
                break;
            case ControlKind::PushButton:
                ExpectNear(actual, expected);
                EXPECT_EQ(TextOf(child), control.caption);
                EXPECT_EQ(childStyle & BS_TYPEMASK, BS_PUSHBUTTON) << "no default button";
                EXPECT_TRUE(tabStop);
                break;
            case ControlKind::FlatButton:
                ExpectNear(actual, expected);
                EXPECT_EQ(TextOf(child), control.caption);
                EXPECT_NE(childStyle & BS_FLAT, 0);
                EXPECT_FALSE(tabStop);
                break;
            case ControlKind::PageControl:
                ExpectNear(actual, expected);
                EXPECT_TRUE(tabStop);
                break;
        }
        EXPECT_TRUE(IsWindowEnabled(child));
    }
}

}  // namespace kelvra::testing
