#pragma once

// The way to the version resource of an executable, walked on the file's
// bytes (portable, tested natively): through the resource directory of a PE
// image (peresource.cpp) or the resource table of a 16-bit NE image
// (neresource.cpp).
//
// The system finds a version resource by mapping the file as an image and
// looking it up there; under Wine, a file that cannot be mapped is parsed
// flat from the file instead. Neither checks every offset, and both fault on
// a damaged file. So the lookup is modelled first, on the file's bytes, in
// every layout the system may use, and the system is asked only where each
// of them stays inside the file and the image.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace kelvra {

enum class PeResourceVerdict {
    NotPe,              // no whole PE or NE header: the system finds no version resource in it
    NoVersionResource,  // an image in which no layout finds a version resource
    Sound,              // every layout finds the version resource inside the file and the image
    Unsound,            // some layout would leave the file, the image or the reads allowed
};

// Reads up to out.size() bytes at the offset and returns how many it read.
using ReadFileAt = std::function<std::size_t(std::uint64_t offset, std::span<std::byte> out)>;

// The most reads the walk makes in one file. A real executable needs a few
// dozen; a directory whose entries all lead to the same large directory
// would otherwise multiply the reads into the billions, each one a system
// call. A file that needs more is Unsound.
inline constexpr std::size_t kMaxPeResourceReads = 4096;

// Why a file is Unsound: the named classes of files the system is not asked
// about.
enum class PeUnsoundReason {
    None,
    HeaderOffsetPast2GiB,   // the flat parse cannot seek to the NT headers
    SignatureWithoutZeros,  // "PE" and two other bytes: the flat parse reads on
    IncompleteHeaders,      // the NT headers or section table are not whole in the file,
                            // more than 96 sections, or headers past SizeOfHeaders
    SectionOverHeaders,     // a section mapped over the headers the image's lookup reads
    ImageReadOutside,       // the image's lookup, or its copy of the data, leaves the
                            // image or the file
    FlatReadOutside,        // the flat parse's lookup leaves its section buffer
    SeekPast2GiB,           // the flat parse would seek past 2 GiB and read elsewhere
    DataTooShort,           // a version resource shorter than a node header
    TooManyReads,           // more reads than kMaxPeResourceReads
    NeResourceTable,        // the walk of a 16-bit file's resource table
};

// What the lookup found out for a reader that takes the version resource
// straight from the file.
struct PeVersionResources {
    struct FileRange {
        std::uint64_t offset;
        std::uint32_t size;
    };
    // The file bytes of the version resource, when every layout the system
    // may use finds the same ones, whatever the user's language: one
    // language under the resource, its data inside one section's file data,
    // and that section where the image and the flat parse both put it.
    std::optional<FileRange> sameInEveryLayout;
    bool muiConfig = false;  // a resource type named "MUI" (or a type name not readable)
    // The image has the shape linkers write (peresource.cpp says which), so
    // that where the walk finds no version resource, or finds it in the same
    // bytes in every layout, that is certain without asking the system.
    bool ordinary = false;
    PeUnsoundReason unsound = PeUnsoundReason::None;
};

// found, when given, receives what the lookup found out: for a Sound file
// where the bytes lie, for an Unsound one why.
PeResourceVerdict CheckPeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                         PeVersionResources* found = nullptr);

// The same walk through the resource table of a 16-bit (NE) executable, as
// the system does it: the table lies in the file, its type chain ends inside
// it, and the version resource it names lies in the file and is of a size
// the system can handle. NotPe for a file that is no NE image.
PeResourceVerdict CheckNeVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt);

// The walk of whatever the file's DOS header leads to: a PE image, an NE
// image, or neither (NotPe). A header offset the system cannot seek to, or a
// "PE" signature without its two zero bytes, is Unsound: the system's flat
// parser would read such a file from the wrong place. found is filled for a
// PE image only.
PeResourceVerdict CheckExecutableVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt,
                                                 PeVersionResources* found = nullptr);

}  // namespace kelvra
