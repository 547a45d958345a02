#include "account/forms_win32.h"

// After the header, which brings in <windows.h>.
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <tuple>

#include "account/forms_internal_win32.h"
#include "common/errors.h"
#include "common/tools.h"
#include "common/ui_win32.h"

namespace kelvra {
namespace {

// The window property that ties a form's window to its TForm.
constexpr wchar_t kFormProperty[] = L"Kelvra.Form";
constexpr wchar_t kPanelClass[] = L"KelvraFormPanel";

// Control identifiers start above the dialog manager's IDOK and IDCANCEL,
// which Enter and Escape send; no control of ours may answer to them.
constexpr int kFirstControlId = 100;
constexpr int kFirstCaptionLabelId = 1000;

HWND& ApplicationWindowSlot() {
    static HWND window = nullptr;
    return window;
}

HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

bool IsControlParentMessage(UINT message) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_SETCURSOR: return true;
        default: return false;
    }
}

std::optional<LRESULT> ForwardToForm(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsControlParentMessage(message)) return std::nullopt;
    TForm* form = FormOfWindow(window);
    return form ? form->OnControlMessage(message, wParam, lParam) : std::nullopt;
}

INT_PTR CALLBACK FormDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetPropW(window, kFormProperty, reinterpret_cast<HANDLE>(lParam));
        return FALSE;  // the form sets the focus itself when it shows
    }
    TForm* form = FormOfWindow(window);
    if (!form) return FALSE;
    const std::optional<LRESULT> result = form->OnFormMessage(message, wParam, lParam);
    if (!result) return FALSE;
    switch (message) {
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            // These answers are the brush itself, not a message result.
            return static_cast<INT_PTR>(*result);
        default: SetWindowLongPtrW(window, DWLP_MSGRESULT, *result); return TRUE;
    }
}

// Tab sheets: plain panels that pass their controls' messages to the form.
LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (const auto result = ForwardToForm(window, message, wParam, lParam)) return *result;
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterPanelClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = PanelProc;
        windowClass.hInstance = ModuleInstance();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kPanelClass;
        if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw std::runtime_error("cannot register the form panel class");
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        return true;
    }();
    (void)registered;
}

// Group boxes are the parents of the controls inside them, so that every
// control sits in the parent its layout names. The button class neither
// passes its children's messages on nor erases its inside; this does both.
LRESULT CALLBACK GroupBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) {
    if (const auto result = ForwardToForm(window, message, wParam, lParam)) return *result;
    if (message == WM_ERASEBKGND) {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        return TRUE;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// A flat button never takes the keyboard focus: it tracks the mouse itself
// instead of letting the button class focus it on the press. BM_CLICK comes
// through here as well, as a press and a release at the origin.
LRESULT CALLBACK FlatButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (IsWindowEnabled(window)) {
                SetCapture(window);
                SendMessageW(window, BM_SETSTATE, TRUE, 0);
            }
            return 0;
        case WM_MOUSEMOVE:
            if (GetCapture() == window) {
                RECT client;
                GetClientRect(window, &client);
                const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                SendMessageW(window, BM_SETSTATE, PtInRect(&client, point), 0);
            }
            return 0;
        case WM_LBUTTONUP:
            if (GetCapture() == window) {
                RECT client;
                GetClientRect(window, &client);
                const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                ReleaseCapture();
                if (PtInRect(&client, point) && IsWindowEnabled(window)) {
                    SendMessageW(GetParent(window), WM_COMMAND,
                                 MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                                 reinterpret_cast<LPARAM>(window));
                }
            }
            return 0;
        case WM_CAPTURECHANGED: SendMessageW(window, BM_SETSTATE, FALSE, 0); return 0;
        default: return DefSubclassProc(window, message, wParam, lParam);
    }
}

#pragma pack(push, 2)
struct EmptyDialogTemplate {
    DLGTEMPLATE header;
    WORD menu;         // none
    WORD windowClass;  // the dialog class
    WORD title;        // set afterwards
};
#pragma pack(pop)

BOOL CALLBACK TakeFirstIconName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR result) {
    auto& first = *reinterpret_cast<std::wstring*>(result);
    first = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name;
    return FALSE;
}

// The program's own icon in the title bar: the first icon group of the
// executable, the one the shell shows for it. Shared icons need no owner.
void SetProgramIcon(HWND window) {
    std::wstring name;
    EnumResourceNamesW(ModuleInstance(), RT_GROUP_ICON, TakeFirstIconName,
                       reinterpret_cast<LONG_PTR>(&name));
    if (name.empty()) return;
    for (const auto& [which, metricX, metricY] : {std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON},
                                                  std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}}) {
        HANDLE icon = LoadImageW(ModuleInstance(), name.c_str(), IMAGE_ICON,
                                 GetSystemMetrics(metricX), GetSystemMetrics(metricY), LR_SHARED);
        if (icon) SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
}

UniqueHFont CreateLayoutFont(const FormLayout& layout, int dpi, bool underline) {
    const std::wstring face(layout.fontName);
    UniqueHFont font(CreateFontW(FontHeightForDpi(layout.fontPoints, dpi), 0, 0, 0, FW_NORMAL,
                                 FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 face.c_str()));
    if (!font) throw std::runtime_error("cannot create the dialog font");
    return font;
}

RECT ToRect(const PixelRect& rect) { return {rect.left, rect.top, rect.right(), rect.bottom()}; }

}  // namespace

// Shared with the other parts of the form machinery (forms_internal_win32.h).

std::vector<TForm*>& ModalForms() {
    static std::vector<TForm*> forms;
    return forms;
}

// A message for a form's window goes through the form's keyboard
// navigation first.
bool PreviewFormMessage(MSG& message) {
    if (!message.hwnd) return false;
    TForm* form = FormOfWindow(message.hwnd);
    return form && form->PreTranslateMessage(message);
}

// ---- construction --------------------------------------------------------------

TForm::TForm(const FormLayout& layout, Handlers handlers)
    : layout_(layout), handlers_(std::move(handlers)) {
    const auto requireHandler = [this](std::wstring_view name) {
        if (!name.empty() && handlers_.find(name) == handlers_.end())
            throw std::logic_error("a form handler is missing");
    };
    requireHandler(layout_.showHandler);
    for (const ControlLayout& control : layout_.controls) requireHandler(control.handler);

    RegisterPanelClass();
    dpi_ = ScreenDpi();
    font_ = CreateLayoutFont(layout_, dpi_, false);
    linkFont_ = CreateLayoutFont(layout_, dpi_, true);
    try {
        CreateWindowAndControls();
    } catch (...) {
        // The half-built window goes with the members; its last messages
        // must not reach an object that never was.
        if (Handle()) RemovePropW(Handle(), kFormProperty);
        throw;
    }
}

TForm::~TForm() {
    if (HWND window = Handle()) {
        // From here on the window's messages no longer reach this object.
        RemovePropW(window, kFormProperty);
        for (auto it = ModalForms().begin(); it != ModalForms().end();)
            it = *it == this ? ModalForms().erase(it) : it + 1;
        window_.reset();
    }
}

void TForm::CreateWindowAndControls() {
    // Fixed in size, with only the close box: no sizing frame, no minimise
    // or maximise box.
    alignas(4) EmptyDialogTemplate dialog{};
    dialog.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN |
                          (layout_.border == FormBorder::Dialog ? DS_MODALFRAME : 0);
    HWND window = CreateDialogIndirectParamW(ModuleInstance(), &dialog.header, OwnerForNewForm(),
                                             FormDialogProc, reinterpret_cast<LPARAM>(this));
    if (!window) throw std::runtime_error("cannot create the dialog window");
    window_.reset(window);
    SetWindowTextW(window, std::wstring(layout_.caption).c_str());
    SetProgramIcon(window);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);

    // Size the frame so that the client area is exactly the layout's.
    RECT frame{0, 0, ScaleToDpi(layout_.clientWidth, dpi_), ScaleToDpi(layout_.clientHeight, dpi_)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    for (const ControlLayout& control : layout_.controls) CreateControl(control);
    if (!pages_.empty()) ShowPageAt(0);
}

HWND TForm::ParentWindowOf(const ControlLayout& control) const {
    if (control.parent.empty()) return Handle();
    HWND parent = Control(control.parent);
    if (!parent) throw std::logic_error("a form control comes before its parent");
    return parent;
}

void TForm::CreateControl(const ControlLayout& control) {
    HWND parent = ParentWindowOf(control);
    const int id = kFirstControlId + static_cast<int>(controls_.size());
    const RECT rect = ToRect(ScaleRect(control.rect, dpi_));
    const DWORD tabStop = control.tabOrder != kNoTabStop ? WS_TABSTOP : 0;
    const DWORD child = WS_CHILD | WS_VISIBLE;

    const wchar_t* windowClass = WC_STATICW;
    std::wstring text(control.caption);
    DWORD style = child;
    DWORD exStyle = 0;
    HWND captionLabel = nullptr;
    HFONT font = font_.get();

    switch (control.kind) {
        case ControlKind::PageControl:
            windowClass = WC_TABCONTROLW;
            style |= tabStop | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
            text.clear();
            break;
        case ControlKind::TabSheet: {
            // A page is a panel inside the page control's display area; the
            // page control's tab carries the caption.
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = text.data();
            SendMessageW(parent, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
            SendMessageW(parent, TCM_INSERTITEMW, pages_.size(), reinterpret_cast<LPARAM>(&item));
            windowClass = kPanelClass;
            style = WS_CHILD | WS_CLIPCHILDREN;
            exStyle = WS_EX_CONTROLPARENT;
            text.clear();
            break;
        }
        case ControlKind::Label:
        case ControlKind::LinkLabel:
            // Run-time texts (a service's answer) are shown as they are, so
            // no "&" is ever taken for a mnemonic.
            text = ShownCaption(control.caption);
            style |= SS_NOPREFIX | (control.align == TextAlign::Right ? SS_RIGHT : SS_LEFT);
            if (control.kind == ControlKind::LinkLabel) {
                style |= SS_NOTIFY;
                font = linkFont_.get();
            } else {
                style |= SS_ENDELLIPSIS;
            }
            break;
        case ControlKind::GroupBox:
            windowClass = WC_BUTTONW;
            style |= BS_GROUPBOX | WS_CLIPCHILDREN;
            exStyle = WS_EX_CONTROLPARENT;
            break;
        case ControlKind::LabelledEdit: {
            const RECT labelRect = ToRect(ScaleRect(CaptionRectOfLabelledEdit(control.rect), dpi_));
            captionLabel = CreateWindowExW(
                0, WC_STATICW, ShownCaption(control.caption).c_str(),
                child | SS_NOPREFIX | SS_LEFT | SS_ENDELLIPSIS, labelRect.left, labelRect.top,
                labelRect.right - labelRect.left, labelRect.bottom - labelRect.top, parent,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstCaptionLabelId + id)),
                ModuleInstance(), nullptr);
            if (!captionLabel) throw std::runtime_error("cannot create a dialog control");
            SendMessageW(captionLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
            windowClass = WC_EDITW;
            style |= tabStop | ES_AUTOHSCROLL | ES_LEFT;  // no ES_PASSWORD: shown in clear
            exStyle = WS_EX_CLIENTEDGE;
            text.clear();
            break;
        }
        case ControlKind::CheckBox:
            windowClass = WC_BUTTONW;
            style |= tabStop | BS_AUTOCHECKBOX;
            break;
        case ControlKind::PushButton:
            windowClass = WC_BUTTONW;
            style |= tabStop | BS_PUSHBUTTON;
            break;
        case ControlKind::FlatButton:
            windowClass = WC_BUTTONW;
            style |= BS_PUSHBUTTON | BS_FLAT;
            break;
    }

    RECT placed = rect;
    if (control.kind == ControlKind::TabSheet) placed = RECT{};
    HWND window = CreateWindowExW(
        exStyle, windowClass, text.c_str(), style, placed.left, placed.top,
        placed.right - placed.left, placed.bottom - placed.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
    if (!window) throw std::runtime_error("cannot create a dialog control");
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    if (control.kind == ControlKind::GroupBox) SetWindowSubclass(window, GroupBoxProc, 0, 0);
    if (control.kind == ControlKind::FlatButton) SetWindowSubclass(window, FlatButtonProc, 0, 0);
    if (control.kind == ControlKind::LinkLabel) SetControlLook(window, {kLinkBlue, std::nullopt});

    controls_.push_back({&control, window, captionLabel});
    if (control.kind == ControlKind::Label || control.kind == ControlKind::LinkLabel)
        FitLabel(window, control);
    if (control.kind == ControlKind::TabSheet) {
        pages_.push_back(window);
        PlaceTabSheets(parent);
    }
}

void TForm::PlaceTabSheets(HWND pageControl) {
    RECT display;
    GetClientRect(pageControl, &display);
    SendMessageW(pageControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (HWND page : pages_) {
        if (GetParent(page) != pageControl) continue;
        SetWindowPos(page, nullptr, display.left, display.top, display.right - display.left,
                     display.bottom - display.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// ---- access from outside -------------------------------------------------------

TForm* FormOfWindow(HWND window) {
    if (!window) return nullptr;
    HWND root = GetAncestor(window, GA_ROOT);
    return root ? static_cast<TForm*>(GetPropW(root, kFormProperty)) : nullptr;
}

void PumpFormMessages() { PumpPendingMessages(&PreviewFormMessage); }

void SetApplicationWindow(HWND window) { ApplicationWindowSlot() = window; }
HWND ApplicationWindow() { return ApplicationWindowSlot(); }

HWND OwnerForNewForm() {
    const auto& forms = ModalForms();
    return forms.empty() ? ApplicationWindow() : forms.back()->Handle();
}

}  // namespace kelvra
