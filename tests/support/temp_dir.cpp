#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace kelvra::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path folder = fs::temp_directory_path() /
                            ("kvtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(folder);
    path_ = folder.wstring() + static_cast<wchar_t>(fs::path::preferred_separator);
}

TempDir::~TempDir() {
    std::error_code error;
    // Files a test made read-only must not survive it.
    for (auto it = fs::recursive_directory_iterator(path_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
}

}  // namespace kelvra::testing
