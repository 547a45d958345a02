// The pictures of the dialogs in docs/ come from here. With the environment
// variable KELVRA_SCREENSHOT_DIR set, this test program does not test: it
// opens the dialogs one after another, with sample values, and for each
// picture writes "<name>.rect" (the window's screen rectangle) into that
// folder, then waits until scripts/screenshots.sh has taken the picture and
// answered with "<name>.done". Then it ends without running a test.

#include "common/win32.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "account/account_forms_win32.h"
#include "account/dialog_driver_win32.h"
#include "account/settings_dialog.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/textconv.h"
#include "common/tools.h"
#include "http/service_address.h"
#include "support/account_service_win32.h"
#include "support/temp_dir.h"

namespace kelvra::testing {
namespace {

std::wstring ScreenshotFolder() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"KELVRA_SCREENSHOT_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring path = folder;
    if (path.back() != L'\\') path += L'\\';
    return path;
}

// Hands the window's rectangle to the script and waits for its picture.
void Photograph(const std::wstring& folder, const std::wstring& name, HWND window) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    for (int i = 0; i < 10; ++i) {
        Pump();
        Sleep(50);
    }
    RECT rect;
    GetWindowRect(window, &rect);
    char line[64];
    std::snprintf(line, sizeof line, "%ld %ld %ld %ld\n", rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top);
    WriteFileBytes(folder + name + L".rect", line);
    const std::wstring done = folder + name + L".done";
    for (int waited = 0; !FileExists(done); waited += 50) {
        if (waited > 60000) throw std::runtime_error("no picture was taken");
        Pump();
        Sleep(50);
    }
}

void TakePictures(const std::wstring& folder) {
    SetMessageBoxHandler([](const MessageBoxRequest&) { return 1; });

    // A real test of the account against the service stand-in, so that the
    // picture shows the result label as the user sees it.
    AccountService service({kAccountServiceScript, {}});
    service.Answer(200, "OK");
    SetServiceBaseAddress(service.BaseAddress());

    TempDir data;
    SettingsFile = data / L"settings.ini";
    UseProxy = false;
    ProxyServer = L"proxy.example.net";
    ProxyPort = 8080;
    ProxyUsername = L"";
    ProxyPassword = L"";
    AccountUsername = L"user1";
    AccountPassword = L"secret";
    AccountProfile = L"PC01.user1";

    ActWhenDialogOpens(L"Settings", [&](HWND dialog) {
        Click(SettingsForm->Control(L"butTestAccount"));
        Photograph(folder, L"settings-account", dialog);

        SendMessageW(SettingsForm->Control(L"PageControl1"), TCM_SETCURFOCUS, 1, 0);
        Pump();
        Photograph(folder, L"settings-connection", dialog);
        SendMessageW(SettingsForm->Control(L"PageControl1"), TCM_SETCURFOCUS, 0, 0);
        Pump();

        ActWhenDialogOpens(L"Create your Kelvra account", [&](HWND newAccount) {
            TypeText(NewAccountForm->Control(L"editEmail"), L"user1@example.net");
            TypeText(NewAccountForm->Control(L"editUsername"), L"user1");
            Photograph(folder, L"new-account", newAccount);
            PostMessageW(newAccount, WM_CLOSE, 0, 0);
        });
        Click(SettingsForm->Control(L"Label1"));
        Click(SettingsForm->Control(L"Button2"));
    });
    EditSettings();
}

// Runs before the test runner starts, and ends the program when it has run.
[[maybe_unused]] const bool kScreenshotMode = [] {
    const std::wstring folder = ScreenshotFolder();
    if (folder.empty()) return false;
    int status = 0;
    try {
        TakePictures(folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "screenshots: %s\n", error.what());
        status = 1;
    }
    std::fflush(stderr);
    ExitProcess(status);
}();

}  // namespace
}  // namespace kelvra::testing
