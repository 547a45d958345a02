// The native build has no version-information functions: its stand-in
// reports that no file carries a version block, so the portable code above it
// behaves as for files without a version resource.

#include "versions/fileversion.h"

namespace kelvra::version_platform {

FetchedVersionBlock SystemVersionBlock(const std::wstring&) { return {}; }

bool QueryValue(std::span<std::byte>, const std::wstring&, const void*& value,
                std::uint32_t& length) {
    value = nullptr;
    length = 0;
    return false;
}

}  // namespace kelvra::version_platform
