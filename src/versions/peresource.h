#pragma once

// The way to the version resources of an executable, walked on the file's
// bytes (portable, tested natively): through the resource directory of a PE
// image (peresource.cpp) or the resource table of a 16-bit NE image
// (neresource.cpp).
//
// The system finds a version resource by mapping the file as an image and
// following the offsets of its resource directory; some implementations do
// that without bounds checks and fault on a damaged file. So the way to the
// version resource is walked first, on the file's bytes, and a file whose
// directory points outside the file is not handed to the system at all.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kelvra {

enum class PeResourceVerdict {
    NotPe,              // neither a PE nor an NE image: the system reads such files its own way
    NoVersionResource,  // an image without a version resource
    Sound,              // every step to every version resource lies inside the file
    Unsound,            // a header, directory or data entry points outside the file
};

// Reads up to out.size() bytes at the offset and returns how many it read.
using ReadFileAt = std::function<std::size_t(std::uint64_t offset, std::span<std::byte> out)>;

// The most reads the walk makes in one file. A real executable needs a few
// dozen; a directory whose entries all lead to the same large directory
// would otherwise multiply the reads into the billions, each one a system
// call. A file that needs more is Unsound.
inline constexpr std::size_t kMaxPeResourceReads = 4096;

// Where the version resources of an image lie, for a reader that takes them
// straight from the file.
struct PeVersionResources {
    struct Data {
        std::uint32_t name;  // the resource's name: an id, or a string's offset with the top bit
        std::uint32_t language;  // likewise
        std::uint64_t fileOffset;
        std::uint32_t size;
    };
    std::vector<Data> data;        // every language of every version resource, in directory order
    std::size_t versionTypes = 0;  // entries of the version type in the type directory
    bool muiConfig = false;        // a resource type named "MUI" (or a type name not readable)
};

// found, when given, receives where the version resources lie; it is
// complete only for a Sound file.
PeResourceVerdict CheckPeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                         PeVersionResources* found = nullptr);

// The same walk through the resource table of a 16-bit (NE) executable, as
// the system does it: the table lies in the file, its type chain ends inside
// it, and the version resource it names lies in the file and is of a size
// the system can handle. NotPe for a file that is no NE image.
PeResourceVerdict CheckNeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt);

// CheckPeVersionResource, and for a file that is no PE image,
// CheckNeVersionResource; found is filled by the PE walk only, so a 16-bit
// file leaves it empty.
PeResourceVerdict CheckExecutableVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                                 PeVersionResources* found = nullptr);

}  // namespace kelvra
