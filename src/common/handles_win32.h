#pragma once
// Move-only owners for the Win32 handles the program uses. Each closes its
// handle exactly once; none can be copied.

#include "common/win32.h"

#include <memory>
#include <type_traits>

namespace kelvra {

struct FileHandleCloser {
    void operator()(HANDLE h) const noexcept {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FileHandleCloser>;

// CreateFileW reports failure with INVALID_HANDLE_VALUE, not null.
inline UniqueHandle MakeUniqueFileHandle(HANDLE h) {
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

struct FindCloser {
    void operator()(HANDLE h) const noexcept {
        if (h && h != INVALID_HANDLE_VALUE) FindClose(h);
    }
};
using UniqueFindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

struct KeyCloser {
    void operator()(HKEY key) const noexcept {
        if (key) RegCloseKey(key);
    }
};
using UniqueHKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct LibraryCloser {
    void operator()(HMODULE module) const noexcept {
        if (module) FreeLibrary(module);
    }
};
using UniqueHModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryCloser>;

// ---- user-interface objects (windows and GDI objects: ui_handles_win32.h) ----

struct MenuDestroyer {
    void operator()(HMENU menu) const noexcept {
        if (menu) DestroyMenu(menu);
    }
};
using UniqueHMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;

// For icons loaded without LR_SHARED; shared icons belong to the system.
struct IconDestroyer {
    void operator()(HICON icon) const noexcept {
        if (icon) DestroyIcon(icon);
    }
};
using UniqueHIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;

}  // namespace kelvra
