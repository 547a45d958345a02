#pragma once
// The halves of UTF-16 surrogate pairs. Every routine that meets a pair asks
// these, so that a pair is recognised the same way everywhere.

#include <cstdint>

namespace kelvra {

constexpr bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Whether the two units, in this order, form one pair.
constexpr bool IsSurrogatePair(std::uint32_t high, std::uint32_t low) {
    return IsHighSurrogate(high) && IsLowSurrogate(low);
}

// The code point that a pair stands for.
constexpr std::uint32_t CombineSurrogates(std::uint32_t high, std::uint32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace kelvra
