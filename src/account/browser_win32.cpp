// The Windows shell behind the browser launch.

#include "common/win32.h"

#include "account/browser.h"

#include <shellapi.h>

#include "common/handles_win32.h"

namespace kelvra {
namespace {

class Win32BrowserShell final : public BrowserShell {
  public:
    bool CreateProbeFile(const std::wstring& path) override {
        const UniqueHandle file =
            MakeUniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file != nullptr;
    }

    std::wstring ExecutableForDocument(const std::wstring& documentPath) override {
        // The shell writes at most MAX_PATH characters; anything at or below
        // 32 is an error code and the buffer then means nothing.
        wchar_t program[MAX_PATH + 1] = {};
        const auto result =
            reinterpret_cast<INT_PTR>(::FindExecutableW(documentPath.c_str(), nullptr, program));
        if (result <= 32) return {};
        program[MAX_PATH] = L'\0';
        return program;
    }

    void Open(const std::wstring& program, const std::wstring& parameters) override {
        ShellExecuteW(nullptr, L"open", program.c_str(), parameters.c_str(), nullptr, SW_SHOW);
    }
};

}  // namespace

BrowserShell& SystemBrowserShell() {
    static Win32BrowserShell shell;
    return shell;
}

}  // namespace kelvra
