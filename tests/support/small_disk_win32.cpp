#include "common/win32.h"

#include "support/small_disk_win32.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/files.h"
#include "common/textconv.h"
#include "support/loopback_win32.h"

namespace kelvra::testing {
namespace {

bool WaitFor(auto done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

SmallDisk::SmallDisk(const std::string& script, std::wstring folder, unsigned kib)
    : folder_(std::move(folder)) {
    const std::wstring state = folder_ + L".state";
    std::wstring command = L"python3 \"" + AnsiToWide(script) + L"\" --dir \"" +
                           AnsiToWide(UnixPath(folder_)) + L"\" --kib " + std::to_wstring(kib);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine runs the Unix program in a process of its own and hands back no
    // handles for it; the lifeline connection below tells it when to end.
    if (!CreateProcessW(L"Z:\\usr\\bin\\python3", command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        whyNot_ = "cannot start python3";
        return;
    }
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (!WaitFor([&] { return FileExists(state); }, std::chrono::seconds(20))) {
        whyNot_ = "small_disk.py did not answer";
        return;
    }
    const std::string answer = ReadFileBytes(state);
    if (!answer.starts_with("mounted ")) {
        whyNot_ = answer.substr(0, answer.find_last_not_of("\r\n") + 1);
        return;
    }
    lifeline_ = std::make_unique<Lifeline>(std::stoi(answer.substr(8)));
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
