#pragma once
// Driving real dialog windows from a test on the dialogs' own thread.
//
// A modal dialog runs its own message loop, so a test cannot simply call on
// after opening one. Instead it arranges beforehand what to do once the
// dialog is up: a thread timer fires inside whatever loop is running then
// (the dialog's own, or a nested one) and the action runs there, clicking
// and typing with posted window messages that the dialog's loop processes
// as it would the user's.

#include "common/win32.h"

#include <functional>
#include <string>
#include <string_view>

namespace kelvra::testing {

// Runs the action once a visible dialog with this caption exists on this
// thread. An exception or a fatal assertion inside the action is reported
// as a test failure; the dialog is then closed so the test cannot hang.
void ActWhenDialogOpens(std::wstring caption, std::function<void(HWND dialog)> action);

// While it exists: after the time, every dialog of the thread still open is
// closed (once a second) and the test fails, so a broken test ends instead
// of hanging in a modal loop.
class DialogWatchdog {
  public:
    explicit DialogWatchdog(unsigned milliseconds = 20000);
    ~DialogWatchdog();
    DialogWatchdog(const DialogWatchdog&) = delete;
    DialogWatchdog& operator=(const DialogWatchdog&) = delete;

  private:
    UINT_PTR timer_;
};

// Processes pending messages the way the dialogs' loops do.
void Pump();

// A left click in the middle of the control: press and release posted to
// it, then processed.
void Click(HWND control);

// Clicks into the field, then types the text character by character.
void TypeText(HWND edit, std::wstring_view text);

// A key pressed and released on the window that has the focus, with the
// modifiers held for that moment.
void PressKey(UINT key, bool shift = false, bool control = false);

// The control's rectangle relative to another window's client area.
RECT RectRelativeTo(HWND control, HWND reference);

// The client rectangle's size.
SIZE ClientSize(HWND window);

// The class name and the text of a window.
std::wstring ClassOf(HWND window);
std::wstring TextOf(HWND window);

// The colours a control is given for drawing: what its parent answers to the
// WM_CTLCOLOR* message the control sends, read back from a device context.
struct DrawColours {
    COLORREF text = 0;
    COLORREF background = 0;
    COLORREF brush = 0;  // the brush that fills the control's background
};
DrawColours ColoursOf(HWND control, UINT ctlColorMessage);

// The colour of one pixel of the window (which must be showing) once it
// has painted itself anew.
COLORREF PixelOf(HWND window, int x, int y);

}  // namespace kelvra::testing

namespace kelvra {
class TForm;
}

namespace kelvra::testing {

// Checks a form built from its layout, as created and not yet shown: the
// window's class and frame; for every control of the layout its parent and
// what the row of its kind in TraitsOfKind says (class, styles, tab stop,
// font, where the caption went, a tab sheet filling its page control). A
// label is at least as wide as its text and, when wider than laid out, no
// wider. Where the controls sit the caller checks against the design.
void ExpectFormMatchesItsLayout(const TForm& form);

}  // namespace kelvra::testing
