#pragma once
// Looking at windows from a test: waiting for a condition while the test's
// own messages are served, the balloons the tray shows, and the windows and
// texts of another process.

#include "common/win32.h"

#include <functional>
#include <string>
#include <vector>

namespace kelvra::testing {

// Polls until done() holds or timeoutMs have passed, serving the messages of
// this thread in between (a WM_QUIT is left in the queue). True when done.
bool WaitUntil(const std::function<bool()>& done, unsigned long timeoutMs);

// The texts of the balloons on screen: visible tooltip windows of any
// process. Wine's tray draws its balloons as tooltips whose window text is
// the balloon's text.
std::vector<std::wstring> VisibleBalloonTexts();
bool BalloonShows(const std::wstring& text);

// A window's text, also from another process.
std::wstring WindowText(HWND window);

// The top-level windows of a process (of any process for 0), with the class
// name when one is given, visible ones only unless told otherwise.
std::vector<HWND> WindowsOf(DWORD processId, const wchar_t* className = nullptr,
                            bool visibleOnly = true);

// The message of a message box: the texts of its static controls that are
// not empty, one after the other.
std::wstring MessageBoxText(HWND box);

}  // namespace kelvra::testing
