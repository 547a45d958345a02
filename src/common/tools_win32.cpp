#include "common/win32.h"

#include "common/tools.h"

namespace kelvra {

int ShowPlatformMessageBox(const MessageBoxRequest& request) {
    // Owned by the active window of this thread, if any, so the box stays in
    // front of the dialog that caused it.
    return MessageBoxW(GetActiveWindow(), request.text.c_str(), request.caption.c_str(),
                       request.style | MB_SETFOREGROUND);
}

bool PlatformCopyFile(const std::wstring& source, const std::wstring& destination,
                      bool failIfExists) {
    return CopyFileW(source.c_str(), destination.c_str(), failIfExists) != FALSE;
}

std::wstring ApplicationTitle() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L"";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);
    const auto dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

}  // namespace kelvra
