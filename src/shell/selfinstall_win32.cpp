// clang-format off
#include "common/win32.h"  // before the other Windows headers
#include <shellapi.h>
// clang-format on

#include "common/files.h"
#include "common/sysfacts.h"
#include "common/tools.h"
#include "shell/main.h"
#include "shell/main_form_win32.h"

namespace kelvra {

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

void InstallAndStartCopy(const std::wstring& ownPath) {
    const std::wstring folder = DataFolderOf(GetLocalAppDataDir());
    ForceDirectories(folder);
    const std::wstring copy = folder + kInstalledExeName;
    // A running copy holds its file and the copy fails; the shell then starts
    // the copy that is there, which is the one already running.
    CopyFileSave(ownPath, copy, false);
    ShellExecuteW(GetDesktopWindow(), L"open", copy.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace kelvra
