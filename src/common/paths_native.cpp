// The native build's own path: what the process's link says.

#include "common/paths.h"

#include <filesystem>

namespace kelvra {

std::wstring OwnExecutablePath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::wstring() : self.wstring();
}

}  // namespace kelvra
