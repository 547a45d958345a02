#pragma once
// The two dialogs of the account area described as data: one table of
// controls per form, with kind, parent, caption, rectangle, tab order and
// handler, exactly as the dialogs are laid out at 96 dots per inch. The
// Windows code builds the windows from these tables; the geometry rules that
// go with them (scaling, the label of a labelled edit, the tab sequence) live
// here too, free of any platform call, so they can be checked anywhere.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

enum class ControlKind {
    PageControl,   // tab strip with pages
    TabSheet,      // one page; fills its page control's display area
    Label,         // static text
    LinkLabel,     // static text drawn as a link: blue, underlined, hand cursor
    GroupBox,      // framed box with a caption; parent of the controls inside
    LabelledEdit,  // one-line edit field with its caption in a label above it
    CheckBox,
    PushButton,
    FlatButton,  // flat button that never takes the keyboard focus
};

// What a push button does to its form besides any handler.
enum class ModalResult { None, Ok, Cancel };

// The event a control's handler answers.
enum class ControlEvent { None, Click, Change };

enum class TextAlign { Left, Right };

// The frame of a form; both are fixed in size with only the close box.
enum class FormBorder {
    Single,  // thin border, the window's icon in the title bar
    Dialog,  // dialog frame, no icon
};

// Left, top, width and height in pixels, relative to the parent's client area.
struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int right() const { return left + width; }
    int bottom() const { return top + height; }
    bool operator==(const PixelRect&) const = default;
};

inline constexpr int kNoTabStop = -1;

struct ControlLayout {
    constexpr ControlLayout(std::wstring_view name, ControlKind kind, std::wstring_view parent,
                            std::wstring_view caption, PixelRect rect, int tabOrder,
                            ControlEvent event = ControlEvent::None, std::wstring_view handler = {},
                            ModalResult modalResult = ModalResult::None,
                            TextAlign align = TextAlign::Left)
        : name(name),
          kind(kind),
          parent(parent),
          caption(caption),
          rect(rect),
          tabOrder(tabOrder),
          event(event),
          handler(handler),
          modalResult(modalResult),
          align(align) {}

    std::wstring_view name;
    ControlKind kind;
    std::wstring_view parent;   // empty for the form itself
    std::wstring_view caption;  // as stored: "&&" shows one "&"
    PixelRect rect;             // at 96 dpi; empty for a tab sheet
    int tabOrder = kNoTabStop;  // position among the parent's children
    ControlEvent event = ControlEvent::None;
    std::wstring_view handler;  // the form's handler for the event
    ModalResult modalResult = ModalResult::None;
    TextAlign align = TextAlign::Left;
};

struct FormLayout {
    std::wstring_view name;  // the form variable's name
    std::wstring_view caption;
    FormBorder border = FormBorder::Single;
    int clientWidth = 0;  // at 96 dpi
    int clientHeight = 0;
    std::wstring_view fontName;
    int fontPoints = 0;
    std::wstring_view showHandler;  // runs when the form is shown; may be empty
    std::span<const ControlLayout> controls;
};

const FormLayout& SettingsFormLayout();
const FormLayout& NewAccountFormLayout();

// The control of that name; null when the form has none.
const ControlLayout* FindControl(const FormLayout& form, std::wstring_view name);

// The direct children of a parent (empty name: the form) in table order.
std::vector<const ControlLayout*> ChildrenOf(const FormLayout& form, std::wstring_view parent);

// ---- geometry ----------------------------------------------------------------

inline constexpr int kDesignDpi = 96;

// A length of the 96-dpi design at another resolution, rounded to the
// nearest pixel (halves away from zero), as MulDiv does.
int ScaleToDpi(int pixels, int dpi);

// Edges are scaled, not sizes, so that controls that touch at 96 dpi still
// touch at any other resolution.
PixelRect ScaleRect(const PixelRect& rect, int dpi);

// The font height to ask the system for: negative, meaning the character
// height without internal leading, as a point size gives it (8 pt at 96 dpi
// is 11 pixels).
int FontHeightForDpi(int points, int dpi);

// Where a labelled edit's caption sits: above the field, flush with its left
// edge, as wide as the field and one line of the dialog font high.
PixelRect CaptionRectOfLabelledEdit(const PixelRect& edit);

// The caption as the user sees it: "&&" is one "&", and a single "&" (the
// marker of a keyboard mnemonic) is not shown.
std::wstring ShownCaption(std::wstring_view stored);

// The keyboard's Tab sequence of the form: the controls that can take the
// focus, parent by parent in tab order, walking into group boxes and into the
// one page that is showing (a page control is a stop itself, then its page's
// controls follow). Controls that are disabled at run time are skipped by the
// caller, not here.
std::vector<const ControlLayout*> TabSequence(const FormLayout& form, std::wstring_view shownPage);

}  // namespace kelvra
