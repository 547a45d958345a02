#include "account/forms_win32.h"

// After the header, which brings in <windows.h>.
#include <windowsx.h>

#include <iterator>
#include <tuple>
#include <utility>

#include "account/forms_internal_win32.h"
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

// The panel class, and the common controls that forms use: the tab control
// and, under the common controls 6 of the manifest, the standard controls.
void RegisterFormClasses() {
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
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
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

// clang-format off
// kind, class, styles, extended styles, tab stop, label, link, caption, subclass
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr ControlKindTraits kKindTraits[] = {
    {ControlKind::PageControl, WC_TABCONTROLW, kShown | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0,
     true, false, false, CaptionPlace::None, nullptr},
    // Hidden until its page is brought to the front.
    {ControlKind::TabSheet, kPanelClass, WS_CHILD | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT,
     false, false, false, CaptionPlace::Tab, nullptr},
    {ControlKind::Label, WC_STATICW, kShown | SS_NOPREFIX | SS_ENDELLIPSIS, 0,
     false, true, false, CaptionPlace::ShownText, nullptr},
    {ControlKind::LinkLabel, WC_STATICW, kShown | SS_NOPREFIX | SS_NOTIFY, 0,
     false, true, true, CaptionPlace::ShownText, nullptr},
    {ControlKind::GroupBox, WC_BUTTONW, kShown | BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT,
     false, false, false, CaptionPlace::Window, GroupBoxProc},
    // No ES_PASSWORD: the design shows passwords in clear.
    {ControlKind::LabelledEdit, WC_EDITW, kShown | ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE,
     true, false, false, CaptionPlace::LabelAbove, nullptr},
    {ControlKind::CheckBox, WC_BUTTONW, kShown | BS_AUTOCHECKBOX, 0,
     true, false, false, CaptionPlace::Window, nullptr},
    // Never BS_DEFPUSHBUTTON: Enter closes no form.
    {ControlKind::PushButton, WC_BUTTONW, kShown | BS_PUSHBUTTON, 0,
     true, false, false, CaptionPlace::Window, nullptr},
    {ControlKind::FlatButton, WC_BUTTONW, kShown | BS_PUSHBUTTON | BS_FLAT, 0,
     false, false, false, CaptionPlace::Window, FlatButtonProc},
};
// clang-format on
constexpr bool EveryKindInItsPlace() {
    for (std::size_t i = 0; i < std::size(kKindTraits); ++i)
        if (kKindTraits[i].kind != static_cast<ControlKind>(i)) return false;
    return std::size(kKindTraits) == static_cast<std::size_t>(ControlKind::FlatButton) + 1;
}
static_assert(EveryKindInItsPlace(), "one row per kind, in the order of ControlKind");

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

const ControlKindTraits& TraitsOfKind(ControlKind kind) {
    return kKindTraits[static_cast<std::size_t>(kind)];
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

    RegisterFormClasses();
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
    const ControlKindTraits& kind = TraitsOfKind(control.kind);
    HWND parent = ParentWindowOf(control);
    const int id = kFirstControlId + static_cast<int>(controls_.size());

    DWORD style = kind.style;
    if (kind.tabStop && control.tabOrder != kNoTabStop) style |= WS_TABSTOP;
    if (kind.label) style |= control.align == TextAlign::Right ? SS_RIGHT : SS_LEFT;
    std::wstring text;
    if (kind.caption == CaptionPlace::Window) text = control.caption;
    if (kind.caption == CaptionPlace::ShownText) text = ShownCaption(control.caption);
    // Created first, so that it comes just before its field: the label names
    // the field for the dialog manager and for screen readers.
    HWND captionLabel = kind.caption == CaptionPlace::LabelAbove
                            ? CreateCaptionLabel(control, parent, id)
                            : nullptr;
    // A tab sheet takes its place from its page control.
    const RECT rect =
        control.kind == ControlKind::TabSheet ? RECT{} : ToRect(ScaleRect(control.rect, dpi_));
    HWND window = CreateWindowExW(kind.exStyle, kind.windowClass, text.c_str(), style, rect.left,
                                  rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ModuleInstance(), nullptr);
    if (!window) throw std::runtime_error("cannot create a dialog control");
    SendMessageW(window, WM_SETFONT,
                 reinterpret_cast<WPARAM>(kind.link ? linkFont_.get() : font_.get()), FALSE);
    if (kind.subclass) SetWindowSubclass(window, kind.subclass, 0, 0);
    if (kind.link) SetControlLook(window, {kLinkBlue, std::nullopt});

    controls_.push_back({&control, window, captionLabel});
    if (kind.label) FitLabel(window, control);
    if (kind.caption == CaptionPlace::Tab) AddTabSheet(parent, window, control.caption);
}

HWND TForm::CreateCaptionLabel(const ControlLayout& control, HWND parent, int id) {
    const RECT rect = ToRect(ScaleRect(CaptionRectOfLabelledEdit(control.rect), dpi_));
    HWND label =
        CreateWindowExW(0, WC_STATICW, ShownCaption(control.caption).c_str(),
                        WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_LEFT | SS_ENDELLIPSIS, rect.left,
                        rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstCaptionLabelId + id)),
                        ModuleInstance(), nullptr);
    if (!label) throw std::runtime_error("cannot create a dialog control");
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return label;
}

// A page is a panel inside the page control's display area; the page
// control's tab carries the caption as stored.
void TForm::AddTabSheet(HWND pageControl, HWND sheet, std::wstring_view caption) {
    std::wstring text(caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(pageControl, TCM_INSERTITEMW, pages_.size(), reinterpret_cast<LPARAM>(&item));
    pages_.push_back(sheet);
    PlaceTabSheets(pageControl);
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

void PumpFormMessages() { PumpWindowMessages(&PreviewFormMessage); }

HWND SetApplicationWindow(HWND window) { return std::exchange(ApplicationWindowSlot(), window); }
HWND ApplicationWindow() { return ApplicationWindowSlot(); }

HWND OwnerForNewForm() {
    const auto& forms = ModalForms();
    return forms.empty() ? ApplicationWindow() : forms.back()->Handle();
}

}  // namespace kelvra
