#include "support/tray_windows_win32.h"

#include <chrono>
#include <thread>

namespace kelvra::testing {
namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, unsigned long timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    // A window of a hung process must not hang the test.
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &copied);
    return text;
}

std::vector<std::wstring> VisibleBalloonTexts() {
    std::vector<std::wstring> texts;
    for (HWND window : TopLevelWindows())
        if (IsWindowVisible(window) && ClassOf(window) == L"tooltips_class32")
            texts.push_back(WindowText(window));
    return texts;
}

bool BalloonShows(const std::wstring& text) {
    for (const auto& shown : VisibleBalloonTexts())
        if (shown == text) return true;
    return false;
}

std::vector<HWND> WindowsOf(DWORD processId, const wchar_t* className, bool visibleOnly) {
    std::vector<HWND> windows;
    for (HWND window : TopLevelWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if ((processId == 0 || owner == processId) && (!visibleOnly || IsWindowVisible(window)) &&
            (!className || ClassOf(window) == className))
            windows.push_back(window);
    }
    return windows;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != L"Static") continue;
        const std::wstring part = WindowText(child);
        if (part.empty()) continue;
        if (!text.empty()) text += L"\n";
        text += part;
    }
    return text;
}

}  // namespace kelvra::testing
