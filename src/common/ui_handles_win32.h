#pragma once
// Move-only owners for the user-interface handles: windows and GDI objects.
// Like the owners in handles_win32.h, each frees its handle exactly once.

#include "common/win32.h"

#include <memory>
#include <type_traits>

namespace kelvra {

struct WindowDestroyer {
    void operator()(HWND window) const noexcept {
        if (window && IsWindow(window)) DestroyWindow(window);
    }
};
using UniqueHwnd = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// Fonts, brushes, pens and bitmaps all go back through DeleteObject.
template <class Handle>
struct GdiObjectDeleter {
    void operator()(Handle object) const noexcept {
        if (object) DeleteObject(object);
    }
};
template <class Handle>
using UniqueGdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter<Handle>>;

using UniqueHFont = UniqueGdiObject<HFONT>;
using UniqueHBrush = UniqueGdiObject<HBRUSH>;
using UniqueHBitmap = UniqueGdiObject<HBITMAP>;

// A device context borrowed with GetDC, given back with ReleaseDC.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context for the length of a scope: the
// object selected before goes back in at the end, before the context or the
// object can be freed.
class ScopedSelection {
  public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelection() {
        if (previous_) SelectObject(dc_, previous_);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A memory device context from CreateCompatibleDC, freed with DeleteDC.
struct MemoryDcDeleter {
    void operator()(HDC dc) const noexcept {
        if (dc) DeleteDC(dc);
    }
};
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

}  // namespace kelvra
