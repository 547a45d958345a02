#include "common/win32.h"

#include "support/sparse_file_win32.h"

#include <stdexcept>
#include <string_view>

#include "common/files.h"
#include "common/handles_win32.h"
#include "common/textconv.h"

namespace kelvra::testing {

void WriteSparseFile(const std::wstring& path, const version_blocks::Bytes& bytes,
                     std::uint64_t tailAt, const version_blocks::Bytes& tail) {
    WriteFileBytes(path,
                   std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (tail.empty()) return;
    const UniqueHandle file = MakeUniqueFileHandle(CreateFileW(
        path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(tailAt);
    DWORD written = 0;
    if (!file || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr) ||
        written != tail.size())
        throw std::runtime_error("cannot write the far piece of " + WideToAnsi(path));
}

}  // namespace kelvra::testing
