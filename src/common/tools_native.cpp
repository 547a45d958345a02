// Native stand-ins: no windows here, so a box becomes a line on standard error.

#include "common/tools.h"

#include <cstdio>
#include <filesystem>

#include "common/textconv.h"

namespace kelvra {

int ShowPlatformMessageBox(const MessageBoxRequest& request) {
    std::fprintf(stderr, "[%s] %s\n", WideToAnsi(request.caption).c_str(),
                 WideToAnsi(request.text).c_str());
    return 1;
}

bool PlatformCopyFile(const std::wstring& source, const std::wstring& destination,
                      bool failIfExists) {
    namespace fs = std::filesystem;
    auto native = [](std::wstring path) {
        for (auto& c : path)
            if (c == L'\\') c = L'/';
        return fs::path(path);
    };
    std::error_code error;
    const auto options =
        failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing;
    return fs::copy_file(native(source), native(destination), options, error) && !error;
}

std::wstring ApplicationTitle() { return L"kelvra"; }

}  // namespace kelvra
