#pragma once
// The settings dialog and the new-account dialog, with their form variables.
// Their controls come from form_layouts.h; the handlers below carry the names
// the layouts give them.

#include <memory>

#include "account/forms_win32.h"
#include "common/pending_messages.h"
#include "common/scope.h"

namespace kelvra {

// The settings dialog: account values, profile name and proxy, on two pages.
class TSettingsForm : public TForm {
  public:
    TSettingsForm();

    void FormShow();
    void editPasswordChange();
    void checkProxyClick();
    void Label1Click();
    void butTestAccountClick();

    // The proxy fields' enabled look, following "Use proxy".
    void UpdateProxyControls();
};

// The new-account dialog: an e-mail address and a user name for the service.
class TNewAccountForm : public TForm {
  public:
    // The pending messages' pump is the form's own while it exists.
    TNewAccountForm();

    void SpeedButton1Click();

  private:
    ScopedHook<&SetPendingMessagePump> formPump_;
};

// The form variables: each holds its dialog while it is open, and nothing
// otherwise.
extern std::unique_ptr<TSettingsForm> SettingsForm;
extern std::unique_ptr<TNewAccountForm> NewAccountForm;

// The proxy fields' enabled look on the open settings dialog; nothing when
// none is open.
void UpdateProxyControls();

}  // namespace kelvra
