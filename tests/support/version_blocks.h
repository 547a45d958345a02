#pragma once
// Version blocks and 16-bit executables written byte by byte: no toolchain
// here makes NE files or blocks in the 16-bit layout, and damaged blocks are
// easiest to describe as a tree with one lying field.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvra::version_blocks {

using Bytes = std::vector<std::byte>;

// Little-endian words put at a place or appended, and zeros up to the next
// multiple of four bytes.
void PutWord(Bytes& out, std::size_t at, std::uint16_t word);
void PutDWord(Bytes& out, std::size_t at, std::uint32_t value);
void AppendWord(Bytes& out, std::uint16_t word);
void AppendDWord(Bytes& out, std::uint32_t value);
void Pad4(Bytes& out);

// One node of a version block. In the 16-bit layout keys and texts are
// single bytes and the value length counts bytes.
struct Node {
    std::string key;  // ASCII
    Bytes value;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;  // 1: text (32-bit layout only)
    std::vector<Node> children;
};

// A key with its terminator: ANSI in the 16-bit layout, UTF-16 otherwise.
void AppendKey(Bytes& out, const std::string& key, bool layout16);

// Writes the node the way resource compilers do: the length covers the node
// and its children but not the padding after the last child.
void Serialize(const Node& node, Bytes& out, bool layout16);

Bytes Serialized(const Node& root, bool layout16);

// A text value of the 32-bit layout, its length in UTF-16 units with the NUL.
Node Text(std::string key, const std::wstring& text);

// A text value of the 16-bit layout: the bytes as given (ANSI), then a NUL.
Node Text16(std::string key, const std::string& text);

Node Branch(std::string key, std::vector<Node> children, std::uint16_t type = 1);

Node Translation(std::uint32_t entry);

Bytes FixedRecord(std::uint32_t ms, std::uint32_t ls, std::uint32_t signature = 0xFEEF04BD);

Node Root(std::vector<Node> children, std::uint32_t ms = 0x00010002, std::uint32_t ls = 0x00030004);

// 1.2.3.4, "1, 2, 3, 4" and "1.2" under 040904B0.
Bytes TypicalBlock();

// The same in the 16-bit layout, under 040904E4 (code page 1252), with a
// letter outside ASCII in the product version: 3.1.0.7, "3.1 b7", "3.1 \xE9t\xE9".
Node Typical16BitRoot();

Bytes Typical16BitBlock();

// Offset of the node whose key is the given ASCII text, the first at or after
// from; npos when absent.
std::size_t NodeOffset(const Bytes& block, const std::string& key, bool layout16 = false,
                       std::size_t from = 0);

// ---- 16-bit executables ---------------------------------------------------------
//
// An MZ stub whose new header at 0x40 says "NE", a resource table at 0x80
// with one type (version) of one resource (id 1), the block at 0x100. The
// offsets are those of the honest file; the tests patch them to make it lie.

inline constexpr std::size_t kNeHeaderAt = 0x40;
inline constexpr std::size_t kNeTableAt = 0x80;  // alignment shift, then the types
inline constexpr std::size_t kNeTypeAt = kNeTableAt + 2;
inline constexpr std::size_t kNeNameAt = kNeTypeAt + 8;  // offset, length, flags, id, ...
inline constexpr std::size_t kNeTableEnd = kNeNameAt + 12 + 2;
inline constexpr std::size_t kNeDataAt = 0x100;
inline constexpr unsigned kNeShift = 4;

Bytes NeExecutable(const Bytes& block);

// The honest executable made to lie in one way each: its resource table or
// its version resource would take the system's walk out of the file, or make
// it ask for a buffer of hundreds of megabytes.
struct LyingNeFile {
    std::string what;
    Bytes bytes;
};

std::vector<LyingNeFile> LyingNeExecutables();

// ---- PE images ----------------------------------------------------------------------
//
// Headers in the first 0x200 bytes (SizeOfHeaders), one section ".rsrc" at
// file offset 0x200 and address 0x1000 holding the resource directory (root,
// type, name, language), one data entry and the block at kPeBlock. The
// offsets are those of the honest image; the layouts below patch them.

inline constexpr std::size_t kPeHeaderAt = 0x40;
inline constexpr std::size_t kPeSectionFile = 0x200;
inline constexpr std::uint32_t kPeSectionAddress = 0x1000;
inline constexpr std::uint32_t kPeSectionSize = 0x400;
inline constexpr std::uint32_t kPeImageSize = 0x2000;
// Offsets inside the section.
inline constexpr std::size_t kPeRoot = 0x00, kPeTypeDir = 0x18, kPeNameDir = 0x30,
                             kPeLangDir = 0x48, kPeData = 0x60, kPeBlock = 0x70;

struct PeImage {
    Bytes bytes;
    std::size_t optional;     // file offset of the optional header
    std::size_t section;      // file offset of the first section header
    std::size_t directories;  // file offset of the data directories

    static std::size_t Res(std::size_t offset) { return kPeSectionFile + offset; }
};

PeImage BuildPeImage(const Bytes& block, bool pe64 = false);

// A layout in which the system and a reader of the file's bytes have been
// seen to part: the system faults, or finds other bytes, or reads soundly
// what such a reader refused.
struct PeLayout {
    enum Expect {
        Crashes,  // the system's reader faults on it: only the helper may ask it
        Nothing,  // no layout finds a version resource: settled without the system
        System,   // the system's reader is asked (in the helper); it may give
                  // other bytes than a plain reading of the file
        Direct,   // the block is taken straight from the file
    };
    PeLayout(std::string what, Bytes bytes, Expect expect, std::uint64_t tailAt = 0,
             Bytes tail = {})
        : what(std::move(what)),
          bytes(std::move(bytes)),
          expect(expect),
          tailAt(tailAt),
          tail(std::move(tail)) {}

    std::string what;
    Bytes bytes;
    Expect expect;
    // A second piece of the file far out (past 2 GiB), at tailAt: written
    // sparsely, the gap before it costs no disk.
    std::uint64_t tailAt;
    Bytes tail;
};

std::vector<PeLayout> MisleadingPeLayouts();
}  // namespace kelvra::version_blocks
