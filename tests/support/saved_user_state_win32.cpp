#include "common/win32.h"

#include "support/saved_user_state_win32.h"

#include <chrono>
#include <thread>

#include "common/files.h"
#include "common/handles_win32.h"
#include "common/sysfacts.h"
#include "shell/main.h"

namespace kelvra::testing {
namespace {

std::wstring WithoutBackslash(std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

}  // namespace

bool RemoveFolderTree(const std::wstring& folder) {
    const std::wstring base = WithoutBackslash(folder);
    for (const DirEntry& entry : FindEntries(base + L"\\*")) {
        const std::wstring path = base + L"\\" + entry.name;
        if (entry.isDirectory) {
            RemoveFolderTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    // A program of the test that has only just ended may still hold a file
    // for a moment.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (RemoveDirectoryW(base.c_str()) || !DirectoryExists(base)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::optional<std::wstring> SavedUserState::AutostartValue() {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    UniqueHKey key(opened);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), kAutostartValueName, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), kAutostartValueName, nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0') data.pop_back();
    return data;
}

SavedUserState::SavedUserState()
    : dataFolder_(DataFolderOf(GetLocalAppDataDir())), autostart_(AutostartValue()) {
    const std::wstring folder = WithoutBackslash(dataFolder_);
    hadFolder_ = DirectoryExists(folder);
    if (hadFolder_) {
        parked_ = folder + L".saved-" + std::to_wstring(GetCurrentProcessId());
        RemoveFolderTree(parked_);
        MoveFileW(folder.c_str(), parked_.c_str());
    }
}

SavedUserState::~SavedUserState() {
    const std::wstring folder = WithoutBackslash(dataFolder_);
    RemoveFolderTree(folder);
    if (hadFolder_) MoveFileW(parked_.c_str(), folder.c_str());

    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS)
        return;
    UniqueHKey key(opened);
    if (autostart_) {
        RegSetValueExW(key.get(), kAutostartValueName, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(autostart_->c_str()),
                       static_cast<DWORD>((autostart_->size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key.get(), kAutostartValueName);
    }
}

}  // namespace kelvra::testing
