#pragma once
// The form machinery of the account dialogs: a dialog window built at run
// time from its FormLayout table (every control at its scaled rectangle, in
// the layout's font), the modal loop, and the routines that create, show and
// free forms through their form variables.
//
// Windows are created at run time rather than from resource templates
// because templates measure in dialog units, which follow the font's average
// character width; the layouts are in pixels and must land on them exactly.

#include "common/win32.h"

// After <windows.h>: SUBCLASSPROC.
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "account/form_layouts.h"
#include "common/scope.h"
#include "common/ui_handles_win32.h"

namespace kelvra {

inline constexpr COLORREF kDisabledTextGrey = RGB(128, 128, 128);
inline constexpr COLORREF kSuccessGreen = RGB(0, 128, 0);
inline constexpr COLORREF kFailureRed = RGB(255, 0, 0);
inline constexpr COLORREF kLinkBlue = RGB(0, 0, 255);

// Where a control's stored caption goes.
enum class CaptionPlace {
    None,        // nowhere (a page control)
    Window,      // the window's text as stored; the button shows "&&" as "&"
    ShownText,   // the window's text as shown (ShownCaption): a static never
                 // takes "&" for a mnemonic
    Tab,         // the page control's tab for this sheet
    LabelAbove,  // a label of its own above the field (CaptionRectOfLabelledEdit)
};

// How the form builds a control of each kind.
struct ControlKindTraits {
    ControlKind kind;
    const wchar_t* windowClass;
    DWORD style;  // besides WS_TABSTOP and the alignment below
    DWORD exStyle;
    bool tabStop;  // a stop of the Tab key when the layout gives it a tab order
    bool label;    // static text: aligned as laid out, grown to fit its text
    bool link;     // drawn as a link: underlined, blue, the hand cursor over it
    CaptionPlace caption;
    SUBCLASSPROC subclass;  // null: the class's own behaviour
};
const ControlKindTraits& TraitsOfKind(ControlKind kind);

// One form: a top-level dialog window ("#32770") with the controls of its
// layout. The window exists from construction to destruction and is hidden
// whenever the form is not showing.
class TForm {
  public:
    // The handlers the layout names, by name. Construction fails when the
    // layout names a handler that is not given here.
    using Handlers = std::map<std::wstring, std::function<void()>, std::less<>>;

    TForm(const FormLayout& layout, Handlers handlers);
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    HWND Handle() const { return window_.get(); }
    const FormLayout& Layout() const { return layout_; }
    int Dpi() const { return dpi_; }

    // The window of a control of the layout; null for an unknown name. For a
    // labelled edit this is the edit field; CaptionLabel gives its label.
    HWND Control(std::wstring_view name) const;
    HWND CaptionLabel(std::wstring_view name) const;
    // The layout row behind a window of this form; null when it has none.
    const ControlLayout* LayoutOf(HWND control) const;

    // The named control's text and check mark. A name the layout does not
    // hold is a fault of the program and raises std::logic_error.
    std::wstring Text(std::wstring_view name) const;
    void SetText(std::wstring_view name, std::wstring_view text);
    bool Checked(std::wstring_view name) const;
    void SetChecked(std::wstring_view name, bool checked);

    // Brings a tab sheet of the page control to the front.
    void ShowPage(std::wstring_view page);
    std::wstring_view ShownPage() const;

    // Colours a control draws with instead of the system's: text always, the
    // background when given. Kept until changed; applied through the
    // WM_CTLCOLOR* messages the control sends.
    struct ControlLook {
        COLORREF text = 0;
        std::optional<COLORREF> background;
    };
    void SetControlLook(HWND control, const ControlLook& look);
    std::optional<ControlLook> LookOf(HWND control) const;

    // Runs the show handler, shows the form centred on the screen with the
    // focus in its first field, and returns once the form has been closed.
    // The owner window is disabled meanwhile.
    ModalResult ShowModal();
    // The same without the loop and without disabling the owner.
    void Show();
    // Ends the modal loop with the result and hides the form.
    void Close(ModalResult result);
    bool IsShowingModally() const { return inModalLoop_; }

    // The form's own keyboard handling for a message about to be dispatched:
    // Tab and Shift+Tab in the layout's tab order, Ctrl+Tab between pages,
    // then the dialog manager's keys. True when the message was used up.
    bool PreTranslateMessage(MSG& message);

    // Where every message a control sends to its parent ends up, whichever
    // window of the form the control sits in. Never raises.
    std::optional<LRESULT> OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    // The form window's own messages. Never raises.
    std::optional<LRESULT> OnFormMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  private:
    struct ControlWindows {
        const ControlLayout* layout = nullptr;
        HWND window = nullptr;
        HWND captionLabel = nullptr;
    };

    void CreateWindowAndControls();
    void CreateControl(const ControlLayout& control);
    HWND CreateCaptionLabel(const ControlLayout& control, HWND parent, int id);
    void AddTabSheet(HWND pageControl, HWND sheet, std::wstring_view caption);
    HWND ParentWindowOf(const ControlLayout& control) const;
    void PlaceTabSheets(HWND pageControl);
    void FitLabel(HWND window, const ControlLayout& layout);
    void ShowPageAt(int index);
    void RunHandler(std::wstring_view name);
    void DispatchControlEvent(HWND control, unsigned code);
    void CentreOnScreen();
    void FocusFirstField();
    void MoveFocusInTabOrder(bool backwards);
    bool SwitchPage(bool backwards);
    HBRUSH BrushFor(COLORREF colour);

    const FormLayout& layout_;
    Handlers handlers_;
    int dpi_ = kDesignDpi;
    UniqueHFont font_;
    UniqueHFont linkFont_;
    std::vector<ControlWindows> controls_;
    std::vector<HWND> pages_;  // tab sheets in tab order
    std::map<HWND, ControlLook> looks_;
    std::map<COLORREF, UniqueHBrush> brushes_;
    ModalResult modalResult_ = ModalResult::None;
    bool inModalLoop_ = false;
    UniqueHwnd window_;  // last: destroyed first, while the rest still stands
};

// The form whose window (or one of whose controls) this is; null otherwise.
TForm* FormOfWindow(HWND window);

// Lets the window system process the pending messages once, with the same
// keyboard handling as the modal loops.
void PumpFormMessages();

// The window that owns forms opened while no other form is showing (the
// program's main window). Without one such forms have no owner. Returns the
// window set before.
HWND SetApplicationWindow(HWND window);
HWND ApplicationWindow();

// The owner a form created now gets: the innermost form showing modally,
// otherwise the application window.
HWND OwnerForNewForm();

// Sets the control's background to the window colour when enabled is on and
// the control is not a radio button (exactly the "Button" class with a radio
// style), otherwise to the button-face colour; its text to the window-text
// colour when enabled, otherwise to the given colour; then enables or
// disables the control.
void SetControlEnabledLook(HWND control, bool enabled, COLORREF disabledTextColour);

// ---- form variables ------------------------------------------------------------

// Creates an instance of the form class, owned as OwnerForNewForm says, into
// the variable (a form it held before is freed).
template <class Form>
void CreateForm(std::unique_ptr<Form>& variable) {
    variable = std::make_unique<Form>();
}

// Clears the variable first, then destroys the instance it held, so that
// nothing reaches the form through its variable while it is going away.
template <class Form>
void FreeForm(std::unique_ptr<Form>& variable) {
    std::unique_ptr<Form> held = std::move(variable);
    held.reset();
}

// Shows the form modally; with freeAfter on it is freed through FreeForm
// before the result is returned, also when showing raised an error.
template <class Form>
ModalResult ShowFormModal(std::unique_ptr<Form>& variable, bool freeAfter) {
    const ScopeExit freeOnExit([&variable, freeAfter] {
        if (freeAfter) FreeForm(variable);
    });
    if (!variable) throw std::logic_error("ShowFormModal without a form");
    return variable->ShowModal();
}

// CreateForm, ShowFormModal without freeing, and FreeForm afterwards, also
// when showing raised an error.
template <class Form>
ModalResult RunModalForm(std::unique_ptr<Form>& variable) {
    CreateForm(variable);
    const ScopeExit freeOnExit([&variable] { FreeForm(variable); });
    return ShowFormModal(variable, false);
}

}  // namespace kelvra
