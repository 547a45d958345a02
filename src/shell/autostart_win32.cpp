#include "common/errors.h"
#include "common/handles_win32.h"
#include "common/paths.h"
#include "shell/main.h"
#include "shell/startup_win32.h"

namespace kelvra {

void SetAutostart(bool enable) {
    HKEY opened = nullptr;
    // Opened, never created: every Windows has this key, and a user whose
    // key is missing or locked is not given one behind their back.
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS)
        return;
    UniqueHKey key(opened);
    if (!enable) {
        RegDeleteValueW(key.get(), kAutostartValueName);
    } else {
        const std::wstring command = AutostartCommand(OwnExecutablePath());
        const auto bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
        if (RegSetValueExW(key.get(), kAutostartValueName, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(command.c_str()), bytes) != ERROR_SUCCESS)
            throw KelvraError(L"Failed to set data for '" + std::wstring(kAutostartValueName) +
                              L"'");
    }
    // Written through at once rather than whenever the system gets to it.
    RegFlushKey(key.get());
}

}  // namespace kelvra
