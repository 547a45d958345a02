// The portable half of the file system: what is built on PendingFile alone.

#include "common/files.h"

namespace kelvra {

void ReplaceFileBytes(const std::wstring& path, std::string_view bytes) {
    PendingFile file(path);
    file.Write(bytes);
    file.Commit();
}

void ReplaceFileBytes(const std::wstring& path, std::span<const std::string> pieces) {
    PendingFile file(path);
    for (const std::string& piece : pieces) file.Write(piece);
    file.Commit();
}

}  // namespace kelvra
