// kelvra.exe: the tray program, or its own installer when started as
// "akelvra.exe". Reads no command line.

#include "common/win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "common/handles_win32.h"
#include "common/helper_process.h"
#include "common/paths.h"
#include "common/sysfacts.h"
#include "common/ui_win32.h"
#include "shell/main.h"
#include "shell/main_form_win32.h"
#include "shell/startup_win32.h"
#include "versions/file_helper.h"

namespace {

using namespace kelvra;

// COM for the life of the thread: ShellExecuteW may hand its work to shell
// extensions that need it.
class ComScope {
  public:
    ComScope()
        : ok_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    bool ok_;
};

void LocalFreeArguments(LPWSTR* arguments) { LocalFree(arguments); }

void RunTrayProgram(HINSTANCE instance) {
    TKelvraMainForm form(ProductTrayServices(), instance);
    form.Show();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Started by its own run as the helper that reads what may crash or hang
// the run (versions/file_helper.h): then none of the tray program's start
// (installer, single instance, window, autostart) happens.
bool StartedAsFileHelper() {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFreeArguments)> arguments(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFreeArguments);
    return arguments && count == 2 && std::wstring_view(arguments.get()[1]) == kHelperArgument;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystem32();
    if (StartedAsFileHelper()) return ServeHelperRequests(AnswerFileRequest);
    ComScope com;
    try {
        const std::wstring ownPath = OwnExecutablePath();
        if (IsInstallTrigger(FileNamePart(ownPath, PathSeparators::Any))) {
            InstallAndStartCopy(ownPath);
            return 0;
        }
        // Autostart plus a start by hand must not give two icons and two
        // uploads an hour: the second tray program of a user's session ends
        // at once. It still writes the autostart value, as every start does,
        // and the running one tells the user where it is. The running one
        // owns the mutex until its process ends; a handle that someone else
        // merely holds (an installer waiting for the old tray to end) does
        // not count.
        UniqueHandle mutex(CreateMutexW(nullptr, TRUE, TrayMutexName(GetUserNameText()).c_str()));
        if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
            const DWORD owned = WaitForSingleObject(mutex.get(), 0);
            if (owned != WAIT_OBJECT_0 && owned != WAIT_ABANDONED) {
                SetAutostart(true);
                PostToRunningTray(TrayCommand::AnotherStart, 5'000);
                return 0;
            }
        }
        RunTrayProgram(instance);
    } catch (const std::exception& error) {
        ShowErrorBox(error);
    }
    return 0;
}
