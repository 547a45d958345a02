// Showing a form, modally or not, and closing it.

#include <algorithm>

#include "account/forms_internal_win32.h"
#include "account/forms_win32.h"
#include "common/ui_win32.h"

namespace kelvra {
namespace {

void DispatchFormMessage(MSG& message) {
    if (PreviewFormMessage(message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

void TForm::CentreOnScreen() {
    RECT frame;
    GetWindowRect(Handle(), &frame);
    const POINT origin = ScreenCentredOrigin(frame.right - frame.left, frame.bottom - frame.top);
    SetWindowPos(Handle(), nullptr, origin.x, origin.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::FocusFirstField() {
    for (const ControlLayout* control : TabSequence(layout_, ShownPage())) {
        if (control->kind != ControlKind::LabelledEdit && control->kind != ControlKind::CheckBox)
            continue;
        HWND window = Control(control->name);
        if (window && IsWindowVisible(window) && IsWindowEnabled(window)) {
            SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
            return;
        }
    }
}

void TForm::Show() {
    modalResult_ = ModalResult::None;
    RunHandler(layout_.showHandler);
    CentreOnScreen();
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
    FocusFirstField();
}

ModalResult TForm::ShowModal() {
    if (inModalLoop_) throw std::logic_error("the form is already showing");
    HWND owner = GetWindow(Handle(), GW_OWNER);
    const bool disableOwner = owner && IsWindowEnabled(owner);

    bool reenableOwner = false;
    const ScopeExit loopExit([this, owner, &reenableOwner] {
        inModalLoop_ = false;
        auto& forms = ModalForms();
        forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
        // The owner first, so that it is the window that becomes active
        // when the form disappears.
        if (reenableOwner) EnableWindow(owner, TRUE);
        ShowWindow(Handle(), SW_HIDE);
    });

    inModalLoop_ = true;
    ModalForms().push_back(this);
    if (disableOwner) {
        EnableWindow(owner, FALSE);
        reenableOwner = true;
    }
    Show();

    while (modalResult_ == ModalResult::None) {
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // The program is ending: leave the quit request for the outer loop.
            if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
            modalResult_ = ModalResult::Cancel;
            break;
        }
        DispatchFormMessage(message);
    }
    return modalResult_;
}

void TForm::Close(ModalResult result) {
    modalResult_ = result;
    if (inModalLoop_) {
        // Wakes the loop should this come from outside any message.
        PostMessageW(Handle(), WM_NULL, 0, 0);
    } else {
        ShowWindow(Handle(), SW_HIDE);
    }
}

}  // namespace kelvra
