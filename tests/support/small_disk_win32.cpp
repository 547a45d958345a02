#include "common/win32.h"

#include "support/small_disk_win32.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/files.h"
#include "common/textconv.h"
#include "support/loopback_win32.h"

namespace kelvra::testing {
SmallDisk::SmallDisk(const std::string& script, std::wstring folder, unsigned kib)
    : folder_(std::move(folder)) {
    const std::wstring state = folder_ + L".state";
    lifeline_ = StartMountScript(
        script, L"--dir \"" + AnsiToWide(UnixPath(folder_)) + L"\" --kib " + std::to_wstring(kib),
        state, std::chrono::seconds(20), whyNot_);
    if (!lifeline_) return;
    available_ = true;
}

SmallDisk::~SmallDisk() { Release(); }

void SmallDisk::Fill(unsigned long long leave) {
    const std::wstring filler = folder_ + L"\\filler.bin";
    HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create the filler");
    SetFilePointer(file, 0, nullptr, FILE_END);
    const std::string block(4096, 'f');
    for (;;) {
        ULARGE_INTEGER free{};
        if (!GetDiskFreeSpaceExW((folder_ + L"\\").c_str(), &free, nullptr, nullptr) ||
            free.QuadPart <= leave)
            break;
        DWORD written = 0;
        if (!WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) ||
            written == 0)
            break;
    }
    CloseHandle(file);
}

void SmallDisk::Seal() {
    WriteFileBytes(folder_ + L".seal", "");
    if (!WaitFor([&] { return ReadFileBytes(folder_ + L".state").starts_with("sealed"); },
                 std::chrono::seconds(20)))
        throw std::runtime_error("the small disk was not sealed");
}

void SmallDisk::Release() {
    if (!lifeline_) return;
    lifeline_.reset();
    WaitFor([&] { return !FileExists(folder_ + L".state"); }, std::chrono::seconds(20));
}

}  // namespace kelvra::testing
