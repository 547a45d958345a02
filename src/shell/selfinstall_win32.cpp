#include "common/win32.h"

#include <shellapi.h>

#include "common/files.h"
#include "common/handles_win32.h"
#include "common/paths.h"
#include "common/sysfacts.h"
#include "common/tools.h"
#include "shell/main.h"
#include "shell/main_form_win32.h"
#include "shell/startup_win32.h"

namespace kelvra {
namespace {

// How long the move into place is tried again after the tray program has
// ended: its executable may stay held for a moment while the process goes.
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

// Whether the running tray that is asked to end holds its file open the
// moment its process goes.
bool InUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

// Flushes a written file to the disk, so that the move below never puts a
// file in the copy's place whose bytes are still only in the cache.
DWORD FlushFile(const std::wstring& path) {
    const UniqueHandle file = MakeUniqueFileHandle(CreateFileW(
        path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    return FlushFileBuffers(file.get()) ? 0 : GetLastError();
}

}  // namespace

bool EndRunningTray(unsigned long waitMs) {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                  TrayMutexName(GetUserNameText()).c_str()));
    if (!mutex) return true;  // none runs
    PostToRunningTray(TrayCommand::EndForInstall, 5'000);
    DWORD waited = WaitForSingleObject(mutex.get(), waitMs);
    if (waited == WAIT_TIMEOUT) {
        // The tray forgets the exit it was asked for, so that it does not
        // end later, out of the blue, when its dialog closes or its run ends.
        // It may have been ending just now: a short last wait tells.
        PostToRunningTray(TrayCommand::InstallGaveUp, 0);
        waited = WaitForSingleObject(mutex.get(), 2'000);
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    ReleaseMutex(mutex.get());
    return true;
}

unsigned long ReplaceWithCopy(const std::wstring& source, const std::wstring& target) {
    // Written beside the target, on the same volume, so that the move below
    // is a rename: the target is either the old file or the whole new one.
    const std::wstring temporary = target + L".tmp";
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);  // a leftover, if any
    DWORD error = 0;
    if (!CopyFileW(source.c_str(), temporary.c_str(), FALSE)) {
        error = GetLastError();
    } else {
        // A read-only download gives a read-only copy, which neither the
        // next install nor the clean-up below could replace or delete.
        SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        error = FlushFile(temporary);
    }
    // Windows refuses to move a file over a read-only one, Wine does not:
    // refused here, so that the target stays as it is everywhere.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (error == 0 && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY))
        error = ERROR_ACCESS_DENIED;
    // The old tray's file may stay held for a moment while its process goes.
    for (const ULONGLONG deadline = GetTickCount64() + kCopyRetryMs; error == 0;) {
        if (MoveFileExW(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
        error = GetLastError();
        if (!InUse(error) || GetTickCount64() > deadline) break;
        error = 0;
        Sleep(100);
    }
    // A head of the new file (a full disk) must neither stay nor take the
    // old copy's place.
    DeleteFileW(temporary.c_str());
    return error;
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

void InstallAndStartCopy(const std::wstring& ownPath, unsigned long trayEndWaitMs) {
    const std::wstring folder = DataFolderOf(GetLocalAppDataDir());
    const std::wstring copy = folder + kInstalledExeName;
    if (!ForceDirectories(folder)) {
        ShowErrorAndLog(L"Kelvra could not be installed: its folder\n" + folder +
                        L"\ncould not be created: " + SystemErrorText(GetLastError()) + L".");
        return;
    }
    // A running copy holds its file: it is asked to end first. One that does
    // not end in time is left running as it is, and nothing is started: a
    // second start of the old copy would only end at once, and the old tray
    // would still end later, leaving none.
    if (!EndRunningTray(trayEndWaitMs)) {
        ShowErrorAndLog(
            L"Kelvra could not be installed: the running Kelvra did not end in time.\n"
            L"Close its Settings window, or wait until its run has finished, then start " +
            FileNamePart(ownPath, PathSeparators::Any) +
            L" again.\nThe previous version stays installed.");
        return;
    }
    // Whatever still fails is said, with the reason and the place; a user who
    // saw nothing would believe the new version installed.
    const DWORD error = ReplaceWithCopy(ownPath, copy);
    if (error != 0) {
        const bool previous = FileExists(copy);
        ShowErrorAndLog(L"Kelvra could not be installed: copying it to\n" + copy + L"\nfailed: " +
                        SystemErrorText(error) + L"." +
                        (previous ? L"\nThe previous version stays installed." : L""));
        // The copy that is there, if any, goes on as before.
        if (previous)
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
