// The new-account dialog.

#include <string>

#include "account/account_forms_win32.h"
#include "account/newaccount.h"

namespace kelvra {
namespace {

// The dialog's "create" button as the request sees it.
class FormButton final : public CreateAccountButton {
  public:
    explicit FormButton(HWND button) : button_(button) {}

    void SetEnabled(bool enabled) override { EnableWindow(button_, enabled); }
    void SetCaption(const std::wstring& caption) override {
        SetWindowTextW(button_, caption.c_str());
    }

  private:
    HWND button_;
};

}  // namespace

std::unique_ptr<TNewAccountForm> NewAccountForm;

TNewAccountForm::TNewAccountForm()
    : TForm(NewAccountFormLayout(), {{L"SpeedButton1Click", [this] { SpeedButton1Click(); }}}),
      // Its request paints "working..." through the pump; with the form's
      // keyboard handling, as the modal loop serves messages.
      formPump_([] { PumpFormMessages(); }) {}

// CreateAccount disables the button and restores it however it ends.
void TNewAccountForm::SpeedButton1Click() {
    FormButton button(Control(L"SpeedButton1"));
    CreateAccount(Text(L"editEmail"), Text(L"editUsername"), button);
}

}  // namespace kelvra
