#include "common/win32.h"

#include "common/tools.h"

#include "common/paths.h"

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
    const std::wstring path = OwnExecutablePath();
    return std::wstring(FileNameWithoutExtension(path, PathSeparators::Any));
}

}  // namespace kelvra
