#pragma once

// Little-endian words and double words of file bytes: the headers of PE and
// NE images, their resource directories and version blocks all store their
// numbers so. The caller has checked that the bytes are there.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvra {

inline std::uint16_t LittleWord(std::span<const std::byte> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[at]) |
                                      (std::to_integer<unsigned>(bytes[at + 1]) << 8));
}

inline std::uint32_t LittleDWord(std::span<const std::byte> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(LittleWord(bytes, at)) |
           (static_cast<std::uint32_t>(LittleWord(bytes, at + 2)) << 16);
}

}  // namespace kelvra
