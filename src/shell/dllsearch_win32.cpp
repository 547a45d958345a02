#include "common/win32.h"

#include "shell/startup_win32.h"

namespace kelvra {

void RestrictDllSearchToSystem32() {
    // Looked up rather than imported: a Windows 7 without the update that
    // brought it (KB2533623) lacks the call, and an import of it would keep
    // the program from starting at all.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDllDirectories = reinterpret_cast<SetDirectories>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it, at least the current folder leaves the search.
    SetDllDirectoryW(L"");
}

}  // namespace kelvra
