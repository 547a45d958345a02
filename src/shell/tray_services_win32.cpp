#include "account/browser.h"
#include "account/newaccount.h"
#include "account/settings_dialog.h"
#include "common/tools.h"
#include "http/service_address.h"
#include "http/transport.h"
#include "shell/inventory_run.h"
#include "shell/main_form_win32.h"
#include "shell/upload.h"

namespace kelvra {

TrayServices ProductTrayServices() {
    TrayServices services;
    // No request to the service and no values of its own: the stored account
    // values are checked locally.
    services.checkAccount = [](std::wstring& message) {
        return TestAccount(false, L"", L"", L"", message);
    };
    services.runInventory = [](bool userAsked) {
        RunPlan plan;
        if (userAsked) plan.versionReads = VersionMemoryUse::Refresh;
        return RunInventory(plan, nullptr, nullptr);
    };
    // The answer of the service, and whether it came, is of no concern here.
    services.uploadInventory = [](const std::wstring& payload) { UploadInventory(payload); };
    services.editSettings = [] { EditSettings(); };
    services.openUrl = [](const std::wstring& address) { OpenUrlInBrowser(address); };
    services.accountPageUrl = [] { return AccountPageUrl(); };
    services.showError = [](const std::wstring& message) { ShowErrorAndLog(message); };
    services.aboutUrl = [] { return ServiceAddress(L"/whatiskelvra/"); };
    services.abandonUpload = [] { AbandonHttpPosts(); };
    return services;
}

}  // namespace kelvra
