// The version-information functions of version.dll. They read the version
// resource of a file without loading the file as a program, which is why the
// program uses them on executables it knows nothing about.

#include "common/win32.h"

#include "versions/fileversion.h"

#include <winver.h>

#include "common/files.h"

namespace kelvra::version_platform {

PeResourceVerdict CheckFile(const std::wstring& path) {
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) return PeResourceVerdict::Unsound;
    return CheckExecutableVersionResource(
        file->size(),
        [&](std::uint64_t offset, std::span<std::byte> out) { return file->ReadAt(offset, out); });
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
