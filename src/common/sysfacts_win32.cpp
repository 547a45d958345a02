#include "common/win32.h"

#include "common/sysfacts.h"

#include <shlobj.h>

#include <algorithm>

#include "common/textutil.h"

namespace kelvra {

std::wstring GetSpecialFolder(int csidl) {
    // The folder as it is now for this user (no token, current rather than
    // default path).
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

std::wstring GetTempDir() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH, path);
    // A longer path is reported by its needed size, with nothing copied.
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(path, length);
}

std::wstring GetComputerNameText() {
    // The longest NetBIOS name (15) and its terminator.
    wchar_t name[16] = {};
    DWORD length = 16;
    if (!GetComputerNameW(name, &length)) return {};
    return std::wstring(name, std::min<DWORD>(length, 15));
}

std::wstring GetUserNameText() {
    // Room for 254 characters, of which the system is told about 253: a name
    // that needs more fails the call and gives empty text.
    wchar_t name[254] = {};
    DWORD length = 253;
    if (!GetUserNameW(name, &length)) return {};
    // The reported length counts the terminator, which the trim removes.
    return Trim(std::wstring_view(name, std::min<DWORD>(length, 253)));
}

bool IsRunningOnWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (!kernel) return false;
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    if (!isWow64Process) return false;
    BOOL wow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace kelvra
