#pragma once
// An executable's version block read straight from the file: the walk to the
// version resource that the soundness check makes anyway, then one read of
// the resource's data. Under Wine the system's two calls map the whole file
// as an image, each; this costs a few small reads. It gives bytes only where
// they are certainly the bytes the system would hand back, and otherwise
// leaves the file to the system.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "versions/peresource.h"

namespace kelvra {

struct DirectVersionRead {
    // The verdict of the walk (for a file that is no PE image, the 16-bit
    // walk's); Unsound also for a file that cannot be opened.
    PeResourceVerdict verdict = PeResourceVerdict::Unsound;
    bool opened = true;  // false: the file could not be opened
    // Only the system's reader can say what the file holds: it is an
    // executable, but not an ordinary image whose bytes settle it (no
    // version resource in every layout, or the same bytes in every layout).
    bool systemDecides = false;
    // The buffer as GetFileVersionInfoSizeW and GetFileVersionInfoW would
    // give it: the resource's bytes in a zero-filled buffer of twice their
    // size plus 4, with "FE2X" after the block. Empty when the system is to
    // be asked.
    std::vector<std::byte> block;
};

// On the file's bytes. The block is taken only from an ordinary image
// (peresource.h) where every layout the system may use finds the same file
// bytes for the version resource (so neither the loader nor the user's
// language makes another choice), in the 32-bit layout with its key
// "VS_VERSION_INFO", and with no "MUI" resource type (with which Windows may
// take the strings from another file). A file without an MZ header, or
// without a PE or NE header behind it, has nothing for any reader.
DirectVersionRead ReadVersionBlockDirect(std::uint64_t fileSize, const ReadFileAt& readAt);

// On a file, through the file layer: one open, every read from that handle.
DirectVersionRead ReadVersionBlockDirect(const std::wstring& path);

// Whether version blocks are read directly where that is certain (the
// default), or always through the system's calls, as a yardstick. Returns
// the choice made before.
bool SetDirectVersionReads(bool enabled);
bool DirectVersionReads();

}  // namespace kelvra
