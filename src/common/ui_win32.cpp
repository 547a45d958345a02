#include "common/ui_win32.h"

#include "common/errors.h"
#include "common/tools.h"
#include "common/ui_handles_win32.h"

namespace kelvra {

void ShowErrorBox(const std::exception& error) {
    ShowMessageBox({ErrorText(error), ApplicationTitle(), kMbOk | kMbIconError});
}

void ShowUnknownErrorBox() {
    ShowMessageBox({L"Unknown error", ApplicationTitle(), kMbOk | kMbIconError});
}

void PumpWindowMessages(MessagePreview preview) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (preview && preview(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

POINT ScreenCentredOrigin(int width, int height) {
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return {left > 0 ? left : 0, top > 0 ? top : 0};
}

int ScreenDpi() {
    const WindowDc screen(nullptr);
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : 96;
}

}  // namespace kelvra
