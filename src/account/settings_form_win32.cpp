// The settings dialog and its round trip.

#include <string>

#include "account/account_forms_win32.h"
#include "account/newaccount.h"
#include "account/settings.h"
#include "account/settings_dialog.h"
#include "common/globals.h"
#include "common/scope.h"

namespace kelvra {
namespace {

constexpr wchar_t kTestWorkingCaption[] = L"working ...";

}  // namespace

std::unique_ptr<TSettingsForm> SettingsForm;

TSettingsForm::TSettingsForm()
    : TForm(SettingsFormLayout(), {
                                      {L"FormShow", [this] { FormShow(); }},
                                      {L"editPasswordChange", [this] { editPasswordChange(); }},
                                      {L"checkProxyClick", [this] { checkProxyClick(); }},
                                      {L"Label1Click", [this] { Label1Click(); }},
                                      {L"butTestAccountClick", [this] { butTestAccountClick(); }},
                                  }) {}

void TSettingsForm::FormShow() { SetText(L"labAccountTest", L""); }

// Shared by the three account fields: a test result never stands beside
// values it was not made for.
void TSettingsForm::editPasswordChange() { SetText(L"labAccountTest", L""); }

void TSettingsForm::checkProxyClick() { UpdateProxyControls(); }

void TSettingsForm::UpdateProxyControls() {
    const bool enabled = Checked(L"checkProxy");
    for (const wchar_t* name :
         {L"editProxyPort", L"editProxyServer", L"editProxyUsername", L"editProxyPassword"})
        SetControlEnabledLook(Control(name), enabled, kDisabledTextGrey);
}

void TSettingsForm::Label1Click() {
    // Disabled while the new-account dialog is open, so it cannot be opened
    // twice; enabled again however that dialog ends.
    HWND link = Control(L"Label1");
    EnableWindow(link, FALSE);
    const ScopeExit reenable([link] { EnableWindow(link, TRUE); });
    RunModalForm(NewAccountForm);
}

void TSettingsForm::butTestAccountClick() {
    // In the tray program the wait for the answer serves the window
    // messages: the dialog repaints and can be moved meanwhile, and the
    // button stays disabled until the answer is in.
    HWND button = Control(L"butTestAccount");
    // The laid-out caption comes back, and the button is enabled, however
    // the test ends.
    const ScopeExit restore(
        [button, caption = ShownCaption(FindControl(Layout(), L"butTestAccount")->caption)] {
            SetWindowTextW(button, caption.c_str());
            EnableWindow(button, TRUE);
        });
    EnableWindow(button, FALSE);
    SetWindowTextW(button, kTestWorkingCaption);

    std::wstring message;
    const bool accepted = TestAccount(true, Text(L"editUsername"), Text(L"editPassword"),
                                      Text(L"editProfile"), message);
    SetControlLook(Control(L"labAccountTest"),
                   {accepted ? kSuccessGreen : kFailureRed, std::nullopt});
    SetText(L"labAccountTest", message);
}

void UpdateProxyControls() {
    if (SettingsForm) SettingsForm->UpdateProxyControls();
}

void EditSettings() {
    // A second request while the dialog is open (a tray balloon, say) only
    // brings the open one to the front: replacing the form under its own
    // modal loop would destroy it while it runs.
    if (SettingsForm) {
        SetForegroundWindow(SettingsForm->Handle());
        return;
    }

    CreateForm(SettingsForm);
    {
        // Freed here, however the dialog ends. An error passes to the caller
        // with the form freed on the way and the values not reloaded.
        const ScopeExit freeOnExit([] { FreeForm(SettingsForm); });
        TSettingsForm& form = *SettingsForm;
        form.SetChecked(L"checkProxy", UseProxy);
        form.SetText(L"editProxyServer", ProxyServer);
        form.SetText(L"editProxyPort", std::to_wstring(ProxyPort));
        form.SetText(L"editProxyUsername", ProxyUsername);
        form.SetText(L"editProxyPassword", ProxyPassword);
        form.SetText(L"editUsername", AccountUsername);
        form.SetText(L"editPassword", AccountPassword);
        form.SetText(L"editProfile", AccountProfile);
        UpdateProxyControls();
        form.ShowPage(L"TabSheet1");

        if (ShowFormModal(SettingsForm, false) == ModalResult::Ok) {
            SaveSettings({form.Checked(L"checkProxy") ? L"1" : L"0", form.Text(L"editProxyServer"),
                          form.Text(L"editProxyPort"), form.Text(L"editProxyUsername"),
                          form.Text(L"editProxyPassword"), form.Text(L"editUsername"),
                          form.Text(L"editPassword"), form.Text(L"editProfile")});
        }
    }
    LoadSettings();
}

}  // namespace kelvra
