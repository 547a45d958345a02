#pragma once
// Files of several gigabytes that cost almost no disk: the bytes at the
// start, then a second piece far out (past 2 GiB), the gap between left
// unallocated. Written at an offset past the end with SetFilePointerEx and
// WriteFile, on ext4 under Wine a file of 2 GiB and 4 KiB took 12 KiB.

#include <cstdint>
#include <string>

#include "support/version_blocks.h"

namespace kelvra::testing {

// Writes bytes, and tail at tailAt when tail is not empty; raises
// std::runtime_error when it cannot.
void WriteSparseFile(const std::wstring& path, const version_blocks::Bytes& bytes,
                     std::uint64_t tailAt = 0, const version_blocks::Bytes& tail = {});

}  // namespace kelvra::testing
