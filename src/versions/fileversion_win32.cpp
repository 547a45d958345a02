// The version-information functions of version.dll. They read the version
// resource of a file without loading the file as a program, which is why the
// program uses them on executables it knows nothing about.

#include "common/handles_win32.h"
#include "common/win32.h"
#include "versions/fileversion.h"

#include <winver.h>

namespace kelvra::version_platform {

PeResourceVerdict CheckFile(const std::wstring& path) {
    // Shared in every way, so that the check never stands in the way of
    // another program that has the file open.
    UniqueHandle file = MakeUniqueFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return PeResourceVerdict::Unsound;
    const ReadFileAt readAt = [&](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) return 0;
        std::size_t done = 0;
        while (done < out.size()) {
            DWORD got = 0;
            if (!ReadFile(file.get(), out.data() + done, static_cast<DWORD>(out.size() - done), &got,
                          nullptr) ||
                got == 0)
                break;
            done += got;
        }
        return done;
    };
    return CheckExecutableVersionResource(static_cast<std::uint64_t>(size.QuadPart), readAt);
}

std::uint32_t InfoSize(const std::wstring& path, std::uint32_t& handle) {
    DWORD systemHandle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &systemHandle);
    handle = systemHandle;
    return size;
}

bool LoadInfo(const std::wstring& path, std::uint32_t handle, std::span<std::byte> buffer) {
    return GetFileVersionInfoW(path.c_str(), handle, static_cast<DWORD>(buffer.size()),
                               buffer.data()) != FALSE;
}

bool QueryValue(std::span<std::byte> buffer, const std::wstring& subBlock, const void*& value,
                std::uint32_t& length) {
    // Not const: for a block in the 16-bit layout the system converts the
    // text it returns into spare room at the end of the same buffer.
    void* found = nullptr;
    UINT foundLength = 0;
    if (!VerQueryValueW(buffer.data(), subBlock.c_str(), &found, &foundLength)) return false;
    value = found;
    length = foundLength;
    return true;
}

}  // namespace kelvra::version_platform
