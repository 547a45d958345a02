// The controls of a form: their texts, check marks, pages and colours.

#include <algorithm>

#include "account/forms_win32.h"

namespace kelvra {
namespace {

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

HWND TForm::Control(std::wstring_view name) const {
    for (const ControlWindows& control : controls_)
        if (control.layout->name == name) return control.window;
    return nullptr;
}

HWND TForm::CaptionLabel(std::wstring_view name) const {
    for (const ControlWindows& control : controls_)
        if (control.layout->name == name) return control.captionLabel;
    return nullptr;
}

const ControlLayout* TForm::LayoutOf(HWND window) const {
    for (const ControlWindows& control : controls_)
        if (control.window == window) return control.layout;
    return nullptr;
}

std::wstring TForm::Text(std::wstring_view name) const {
    HWND window = Control(name);
    if (!window) throw std::logic_error("no such form control");
    return WindowText(window);
}

void TForm::SetText(std::wstring_view name, std::wstring_view text) {
    HWND window = Control(name);
    if (!window) throw std::logic_error("no such form control");
    SetWindowTextW(window, std::wstring(text).c_str());

    const ControlLayout* layout = LayoutOf(window);
    if (TraitsOfKind(layout->kind).label) FitLabel(window, *layout);
}

// A label grows to show its whole text, like a label that sizes itself: from
// its aligned edge, never narrower than laid out and never beyond its
// parent; what still does not fit ends in an ellipsis. (The laid-out widths
// were measured with the font of the designer's system; another system's
// Tahoma may be wider.)
void TForm::FitLabel(HWND window, const ControlLayout& layout) {
    const std::wstring text = WindowText(window);
    SIZE extent{};
    {
        const WindowDc dc(window);
        const ScopedSelection font(
            dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    const PixelRect design = ScaleRect(layout.rect, dpi_);
    RECT parent;
    GetClientRect(GetParent(window), &parent);
    const int margin = ScaleToDpi(8, dpi_);
    const int width = std::max<int>(design.width, extent.cx);
    int left = design.left;
    int right = design.right();
    if (layout.align == TextAlign::Right)
        left = std::min<int>(design.left, std::max<int>(margin, right - width));
    else
        right = std::max<int>(design.right(), std::min<int>(parent.right - margin, left + width));
    SetWindowPos(window, nullptr, left, design.top, right - left, design.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, TRUE);
}

bool TForm::Checked(std::wstring_view name) const {
    HWND window = Control(name);
    if (!window) throw std::logic_error("no such form control");
    return SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm::SetChecked(std::wstring_view name, bool checked) {
    HWND window = Control(name);
    if (!window) throw std::logic_error("no such form control");
    SendMessageW(window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TForm::ShowPage(std::wstring_view page) {
    HWND window = Control(page);
    const auto it = std::find(pages_.begin(), pages_.end(), window);
    if (!window || it == pages_.end()) throw std::logic_error("no such tab sheet");
    ShowPageAt(static_cast<int>(it - pages_.begin()));
}

std::wstring_view TForm::ShownPage() const {
    for (HWND page : pages_)
        if (GetWindowLongPtrW(page, GWL_STYLE) & WS_VISIBLE) return LayoutOf(page)->name;
    return {};
}

void TForm::ShowPageAt(int index) {
    if (index < 0 || index >= static_cast<int>(pages_.size())) return;
    HWND shown = pages_[static_cast<std::size_t>(index)];
    HWND pageControl = GetParent(shown);
    if (SendMessageW(pageControl, TCM_GETCURSEL, 0, 0) != index)
        SendMessageW(pageControl, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    ShowWindow(shown, SW_SHOW);
    HWND focus = GetFocus();
    for (HWND page : pages_) {
        if (page == shown) continue;
        // The focus never stays behind on a page that goes away.
        if (focus && IsChild(page, focus))
            SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pageControl), TRUE);
        ShowWindow(page, SW_HIDE);
    }
}

void TForm::SetControlLook(HWND control, const ControlLook& look) {
    looks_[control] = look;
    InvalidateRect(control, nullptr, TRUE);
}

std::optional<TForm::ControlLook> TForm::LookOf(HWND control) const {
    const auto it = looks_.find(control);
    if (it == looks_.end()) return std::nullopt;
    return it->second;
}

HBRUSH TForm::BrushFor(COLORREF colour) {
    auto it = brushes_.find(colour);
    if (it == brushes_.end()) {
        UniqueHBrush brush(CreateSolidBrush(colour));
        if (!brush) return GetSysColorBrush(COLOR_BTNFACE);
        it = brushes_.emplace(colour, std::move(brush)).first;
    }
    return it->second.get();
}

void SetControlEnabledLook(HWND control, bool enabled, COLORREF disabledTextColour) {
    TForm* form = FormOfWindow(control);
    if (!form) throw std::logic_error("SetControlEnabledLook outside a form");

    // Only the radio button proper keeps the dialog colour; the test names
    // the exact class and style, not anything built on them.
    wchar_t className[16] = {};
    GetClassNameW(control, className, 16);
    const LONG_PTR buttonType = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    const bool radio = lstrcmpiW(className, L"Button") == 0 &&
                       (buttonType == BS_RADIOBUTTON || buttonType == BS_AUTORADIOBUTTON);

    TForm::ControlLook look;
    look.background = GetSysColor(enabled && !radio ? COLOR_WINDOW : COLOR_BTNFACE);
    look.text = enabled ? GetSysColor(COLOR_WINDOWTEXT) : disabledTextColour;
    form->SetControlLook(control, look);
    EnableWindow(control, enabled);
}

}  // namespace kelvra
