// The version-information functions of version.dll. They read the version
// resource of a file without loading the file as a program, which is why the
// program uses them on executables it knows nothing about. They parse the
// file with checks of their own that the program cannot see: the two that
// read the file run only in the helper process (file_helper.h); the
// program's own process only queries blocks it has checked.

#include "common/win32.h"

#include "versions/fileversion.h"

#include <winver.h>

#include "common/handles_win32.h"
#include "versions/versionblock.h"

namespace kelvra {

FetchedVersionBlock version_platform::SystemVersionBlock(const std::wstring& path) {
    // Held open for reading, others allowed only to read, while the system
    // opens it twice by its path: nobody can replace or change the file in
    // between. Where another program already writes to it, it is read
    // without the hold; whatever that does ends only this helper.
    const UniqueHandle hold = MakeUniqueFileHandle(CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD holdError = hold ? ERROR_SUCCESS : GetLastError();
    FetchedVersionBlock block;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) {
        // No block, or no file to read: the moment's doing only when the
        // file is there and could not be opened.
        block.settled = holdError != ERROR_SHARING_VIOLATION;
        return block;
    }
    block.present = true;
    block.reportedSize = size;
    if (size > kMaxVersionBufferSize) return block;
    block.bytes.assign(size, std::byte{0});
    if (!GetFileVersionInfoW(path.c_str(), handle, size, block.bytes.data())) {
        block.bytes.clear();
        block.settled = false;
    }
    return block;
}

namespace version_platform {

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

}  // namespace version_platform
}  // namespace kelvra
