#pragma once
// The rim that every window of the program shares: the error box, the wall
// that keeps exceptions inside a window procedure, the serving of pending
// messages, the screen's DPI and its centre. One of each, so that the tray window and
// the dialogs behave alike.

#include "common/win32.h"

#include <exception>
#include <utility>

namespace kelvra {

// The program's error box: a modal box with the error's message (ErrorText)
// under the application title; "Unknown error" for an error of no known type.
void ShowErrorBox(const std::exception& error);
void ShowUnknownErrorBox();

// Calls the handler and shows any error it raises in the error box: no error
// may leave a window procedure. Returns the handler's result, or onError
// when it raised. A box that cannot be shown is given up silently, for
// nothing more can be done from inside a window procedure.
template <class Result, class Handler>
Result GuardedOr(Result onError, Handler&& handler) noexcept {
    try {
        return std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        try {
            ShowErrorBox(error);
        } catch (...) {
        }
    } catch (...) {
        try {
            ShowUnknownErrorBox();
        } catch (...) {
        }
    }
    return onError;
}

// The same for a handler without a result.
template <class Handler>
void Guarded(Handler&& handler) noexcept {
    GuardedOr(false, [&handler] {
        std::forward<Handler>(handler)();
        return true;
    });
}

// Decides for a message taken from the queue whether it has been dealt with
// already (a dialog's keyboard navigation); false lets it go on to the
// window it was sent to.
using MessagePreview = bool (*)(MSG& message);

// Serves the window messages that wait in this thread's queue, as a run does
// at its fixed points. A WM_QUIT found there is posted again and ends the
// serving, so that the message loop it belongs to still sees it.
void PumpWindowMessages(MessagePreview preview = nullptr);

// The screen's dots per inch as this (system-aware) process sees them; 96
// when the screen cannot be asked.
int ScreenDpi();

// Where a window of this outer size sits centred on the primary screen;
// never beyond its top or left edge, so that a window larger than the screen
// keeps its title bar in reach.
POINT ScreenCentredOrigin(int width, int height);

}  // namespace kelvra
