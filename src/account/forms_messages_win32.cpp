// What a form does with the messages of its window and its controls.

#include <algorithm>

#include "account/forms_win32.h"
#include "common/ui_win32.h"

namespace kelvra {

void TForm::RunHandler(std::wstring_view name) {
    if (name.empty()) return;
    const auto it = handlers_.find(name);
    if (it != handlers_.end()) it->second();
}

void TForm::DispatchControlEvent(HWND window, unsigned code) {
    const ControlLayout* control = LayoutOf(window);
    if (!control) return;
    // BN_CLICKED and STN_CLICKED are both 0.
    const bool clicked = code == BN_CLICKED;
    if (control->event == ControlEvent::Click && clicked) RunHandler(control->handler);
    if (control->event == ControlEvent::Change && code == EN_CHANGE) RunHandler(control->handler);
    if (control->modalResult != ModalResult::None && clicked) Close(control->modalResult);
}

std::optional<LRESULT> TForm::OnControlMessage(UINT message, WPARAM wParam,
                                               LPARAM lParam) noexcept {
    return GuardedOr(std::optional<LRESULT>(0), [&]() -> std::optional<LRESULT> {
        switch (message) {
            case WM_COMMAND:
                // Without a control this is Enter or Escape through the
                // dialog manager (IDOK, IDCANCEL): neither closes a form.
                if (lParam) DispatchControlEvent(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
                return 0;
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                const ControlLayout* control = header ? LayoutOf(header->hwndFrom) : nullptr;
                if (control && control->kind == ControlKind::PageControl &&
                    header->code == static_cast<UINT>(TCN_SELCHANGE)) {
                    ShowPageAt(
                        static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
                    return 0;
                }
                return std::nullopt;
            }
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORBTN: {
                const auto look = LookOf(reinterpret_cast<HWND>(lParam));
                if (!look) return std::nullopt;
                HDC dc = reinterpret_cast<HDC>(wParam);
                const COLORREF background = look->background.value_or(GetSysColor(COLOR_BTNFACE));
                SetTextColor(dc, look->text);
                SetBkColor(dc, background);
                return reinterpret_cast<LRESULT>(BrushFor(background));
            }
            case WM_SETCURSOR: {
                HWND over = reinterpret_cast<HWND>(wParam);
                const ControlLayout* control = LayoutOf(over);
                if (control && TraitsOfKind(control->kind).link && IsWindowEnabled(over) &&
                    LOWORD(lParam) == HTCLIENT) {
                    SetCursor(LoadCursorW(nullptr, IDC_HAND));
                    return TRUE;
                }
                return std::nullopt;
            }
            default: return std::nullopt;
        }
    });
}

std::optional<LRESULT> TForm::OnFormMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_CLOSE) {
        // The close box, Alt+F4 and the system menu all end as Cancel.
        Close(ModalResult::Cancel);
        return 0;
    }
    return OnControlMessage(message, wParam, lParam);
}

bool TForm::PreTranslateMessage(MSG& message) {
    if (message.message == WM_KEYDOWN &&
        (message.wParam == VK_TAB || message.wParam == VK_NEXT || message.wParam == VK_PRIOR)) {
        const bool control = GetKeyState(VK_CONTROL) < 0;
        const bool shift = GetKeyState(VK_SHIFT) < 0;
        const bool alt = GetKeyState(VK_MENU) < 0;
        const LRESULT wants = SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam,
                                           reinterpret_cast<LPARAM>(&message));
        if (message.wParam == VK_TAB && !control && !alt &&
            !(wants & (DLGC_WANTTAB | DLGC_WANTALLKEYS))) {
            MoveFocusInTabOrder(shift);
            return true;
        }
        if (control && !alt) {
            const bool backwards =
                message.wParam == VK_PRIOR || (message.wParam == VK_TAB && shift);
            if (SwitchPage(backwards)) return true;
        }
    }
    return IsDialogMessageW(Handle(), &message) != FALSE;
}

void TForm::MoveFocusInTabOrder(bool backwards) {
    std::vector<HWND> stops;
    for (const ControlLayout* control : TabSequence(layout_, ShownPage())) {
        HWND window = Control(control->name);
        if (window && IsWindowVisible(window) && IsWindowEnabled(window)) stops.push_back(window);
    }
    if (stops.empty()) return;
    // The focus is on a stop itself or on a part of one (the edit of a combo
    // box, say). Not merely inside one: the page control contains the
    // controls of its pages.
    HWND focus = GetFocus();
    auto current = std::find(stops.begin(), stops.end(), focus);
    if (current == stops.end() && focus)
        current = std::find(stops.begin(), stops.end(), GetParent(focus));
    std::size_t next = 0;
    if (current == stops.end()) {
        next = backwards ? stops.size() - 1 : 0;
    } else {
        const std::size_t index = static_cast<std::size_t>(current - stops.begin());
        next = backwards ? (index + stops.size() - 1) % stops.size() : (index + 1) % stops.size();
    }
    SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(stops[next]), TRUE);
}

bool TForm::SwitchPage(bool backwards) {
    if (pages_.size() < 2) return false;
    HWND pageControl = GetParent(pages_.front());
    const int count = static_cast<int>(pages_.size());
    const int current = static_cast<int>(SendMessageW(pageControl, TCM_GETCURSEL, 0, 0));
    const int next = backwards ? (current + count - 1) % count : (current + 1) % count;
    // TCM_SETCURFOCUS sends the page control's selection notifications, as
    // a click on the tab would.
    SendMessageW(pageControl, TCM_SETCURFOCUS, static_cast<WPARAM>(next), 0);
    ShowPageAt(next);
    return true;
}

}  // namespace kelvra
