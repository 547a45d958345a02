#include "common/win32.h"

#include <shellapi.h>

#include "common/files.h"
#include "common/handles_win32.h"
#include "common/sysfacts.h"
#include "common/tools.h"
#include "shell/main.h"
#include "shell/main_form_win32.h"
#include "shell/startup_win32.h"

namespace kelvra {
namespace {

// How long the installer waits for a running tray program to end: at once
// when it is idle, after its run and upload otherwise. A large machine's run
// takes about a minute and a half.
constexpr DWORD kTrayEndWaitMs = 120'000;
// How long a copy is tried again after the tray program has ended: its
// executable may stay held for a moment while the process goes.
constexpr DWORD kCopyRetryMs = 5'000;

std::wstring SystemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    return message.empty() ? L"error " + std::to_wstring(code) : message;
}

// Asks the running tray program of this user, if there is one, to end, and
// waits for it a bounded time. The program holds its mutex for as long as it
// runs; the handle is closed before the new copy starts, which checks the
// same mutex.
void EndRunningTray() {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                  TrayMutexName(GetUserNameText()).c_str()));
    if (!mutex) return;  // none runs
    PostToRunningTray(TrayCommand::EndForInstall, 5'000);
    const DWORD waited = WaitForSingleObject(mutex.get(), kTrayEndWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(mutex.get());
}

// The copy, tried again for a moment while the target is in use; 0 or the
// system's error code of the last attempt.
DWORD CopyOwnExecutable(const std::wstring& ownPath, const std::wstring& copy) {
    const ULONGLONG deadline = GetTickCount64() + kCopyRetryMs;
    for (;;) {
        if (CopyFileW(ownPath.c_str(), copy.c_str(), FALSE)) return 0;
        const DWORD error = GetLastError();
        const bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                           error == ERROR_ACCESS_DENIED;
        if (!inUse || GetTickCount64() > deadline) return error;
        Sleep(100);
    }
}

}  // namespace

std::wstring OwnExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L"";
        // A path that did not fit comes back cut, with the full buffer used.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool PostToRunningTray(TrayCommand command, unsigned long waitMs) {
    const UINT message = RegisterWindowMessageW(TrayCommandMessageName(GetUserNameText()).c_str());
    if (!message) return false;
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        // Every tray window on the desktop gets it; only this user's knows
        // the message.
        bool posted = false;
        for (HWND window = FindWindowExW(nullptr, nullptr, TKelvraMainForm::kClassName, nullptr);
             window; window = FindWindowExW(nullptr, window, TKelvraMainForm::kClassName, nullptr))
            posted |= PostMessageW(window, message, static_cast<WPARAM>(command), 0) != FALSE;
        if (posted || GetTickCount64() > deadline) return posted;
        Sleep(100);
    }
}

void InstallAndStartCopy(const std::wstring& ownPath) {
    const std::wstring folder = DataFolderOf(GetLocalAppDataDir());
    const std::wstring copy = folder + kInstalledExeName;
    // A running copy holds its file: it is asked to end first. Whatever
    // still fails is said, with the reason and the place; a user who saw
    // nothing would believe the new version installed.
    DWORD error = 0;
    if (!ForceDirectories(folder)) {
        error = GetLastError();
    } else {
        EndRunningTray();
        error = CopyOwnExecutable(ownPath, copy);
    }
    if (error != 0) {
        ShowErrorAndLog(L"Kelvra could not be installed: copying it to\n" + copy + L"\nfailed: " +
                        SystemErrorText(error) + L".");
        // The copy that is there, if any, goes on as before.
        if (FileExists(copy))
            ShellExecuteW(GetDesktopWindow(), L"open", copy.c_str(), nullptr, nullptr,
                          SW_SHOWNORMAL);
        return;
    }
    const auto started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(GetDesktopWindow(), L"open", copy.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (started <= 32)
        ShowErrorAndLog(L"Kelvra was installed as\n" + copy + L"\nbut could not be started: " +
                        SystemErrorText(static_cast<DWORD>(started)) + L".");
}

}  // namespace kelvra
