#include "common/helper_process.h"

#include <utility>

namespace kelvra {
namespace {

std::wstring& NamedHelperProgram() {
    static std::wstring path;
    return path;
}

}  // namespace

std::string Frame(std::string_view payload) {
    std::string frame(4, '\0');
    const auto length = static_cast<std::uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i)
        frame[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
    frame.append(payload);
    return frame;
}

std::optional<std::size_t> FrameLength(std::string_view header) {
    if (header.size() != 4) return std::nullopt;
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = (length << 8) | static_cast<unsigned char>(header[static_cast<std::size_t>(i)]);
    if (length > kMaxHelperFrame) return std::nullopt;
    return length;
}

std::wstring SetHelperProgram(std::wstring path) {
    return std::exchange(NamedHelperProgram(), std::move(path));
}

// The program named, for the platform's start of a helper.
std::wstring HelperProgramNamed() { return NamedHelperProgram(); }

}  // namespace kelvra
