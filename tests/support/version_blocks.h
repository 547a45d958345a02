#pragma once
// Version blocks and 16-bit executables written byte by byte: no toolchain
// here makes NE files or blocks in the 16-bit layout, and damaged blocks are
// easiest to describe as a tree with one lying field.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvra::version_blocks {

using Bytes = std::vector<std::byte>;

inline void PutWord(Bytes& out, std::size_t at, std::uint16_t word) {
    out.at(at) = std::byte(word & 0xFF);
    out.at(at + 1) = std::byte(word >> 8);
}

inline void PutDWord(Bytes& out, std::size_t at, std::uint32_t value) {
    PutWord(out, at, static_cast<std::uint16_t>(value & 0xFFFF));
    PutWord(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void AppendWord(Bytes& out, std::uint16_t word) {
    out.push_back(std::byte(word & 0xFF));
    out.push_back(std::byte(word >> 8));
}

inline void AppendDWord(Bytes& out, std::uint32_t value) {
    AppendWord(out, static_cast<std::uint16_t>(value & 0xFFFF));
    AppendWord(out, static_cast<std::uint16_t>(value >> 16));
}

inline void Pad4(Bytes& out) {
    while (out.size() % 4) out.push_back(std::byte{0});
}

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
inline void AppendKey(Bytes& out, const std::string& key, bool layout16) {
    for (char ch : key) {
        if (layout16)
            out.push_back(std::byte(ch));
        else
            AppendWord(out, static_cast<std::uint16_t>(ch));
    }
    if (layout16)
        out.push_back(std::byte{0});
    else
        AppendWord(out, 0);
}

// Writes the node the way resource compilers do: the length covers the node
// and its children but not the padding after the last child.
inline void Serialize(const Node& node, Bytes& out, bool layout16) {
    const std::size_t start = out.size();
    AppendWord(out, 0);
    AppendWord(out, node.valueLength);
    if (!layout16) AppendWord(out, node.type);
    AppendKey(out, node.key, layout16);
    Pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        Pad4(out);
        Serialize(child, out, layout16);
    }
    PutWord(out, start, static_cast<std::uint16_t>(out.size() - start));
}

inline Bytes Serialized(const Node& root, bool layout16) {
    Bytes block;
    Serialize(root, block, layout16);
    return block;
}

// A text value of the 32-bit layout, its length in UTF-16 units with the NUL.
inline Node Text(std::string key, const std::wstring& text) {
    Node node{std::move(key), {}, static_cast<std::uint16_t>(text.size() + 1), 1, {}};
    for (wchar_t ch : text) AppendWord(node.value, static_cast<std::uint16_t>(ch));
    AppendWord(node.value, 0);
    return node;
}

// A text value of the 16-bit layout: the bytes as given (ANSI), then a NUL.
inline Node Text16(std::string key, const std::string& text) {
    Node node{std::move(key), {}, static_cast<std::uint16_t>(text.size() + 1), 0, {}};
    for (char ch : text) node.value.push_back(std::byte(static_cast<unsigned char>(ch)));
    node.value.push_back(std::byte{0});
    return node;
}

inline Node Branch(std::string key, std::vector<Node> children, std::uint16_t type = 1) {
    return Node{std::move(key), {}, 0, type, std::move(children)};
}

inline Node Translation(std::uint32_t entry) {
    Node node{"Translation", {}, 4, 0, {}};
    AppendDWord(node.value, entry);
    return node;
}

inline Bytes FixedRecord(std::uint32_t ms, std::uint32_t ls, std::uint32_t signature = 0xFEEF04BD) {
    Bytes record;
    AppendDWord(record, signature);
    AppendDWord(record, 0x00010000);
    AppendDWord(record, ms);
    AppendDWord(record, ls);
    while (record.size() < 52) record.push_back(std::byte{0});
    return record;
}

inline Node Root(std::vector<Node> children, std::uint32_t ms = 0x00010002,
                 std::uint32_t ls = 0x00030004) {
    return Node{"VS_VERSION_INFO", FixedRecord(ms, ls), 52, 0, std::move(children)};
}

// 1.2.3.4, "1, 2, 3, 4" and "1.2" under 040904B0.
inline Bytes TypicalBlock() {
    return Serialized(
        Root({
            Branch("StringFileInfo", {Branch("040904B0", {Text("FileVersion", L"1, 2, 3, 4"),
                                                          Text("ProductVersion", L"1.2")})}),
            Branch("VarFileInfo", {Translation(0x04B00409)}, 0),
        }),
        false);
}

// The same in the 16-bit layout, under 040904E4 (code page 1252), with a
// letter outside ASCII in the product version: 3.1.0.7, "3.1 b7", "3.1 \xE9t\xE9".
inline Node Typical16BitRoot() {
    return Root(
        {Branch("StringFileInfo",
                {Branch("040904E4",
                        {Text16("CompanyName", "Kelvra 16"), Text16("FileVersion", "3.1 b7"),
                         Text16("ProductVersion", "3.1 \xE9t\xE9")},
                        0)},
                0),
         Branch("VarFileInfo", {Translation(0x04E40409)}, 0)},
        0x00030001, 0x00000007);
}

inline Bytes Typical16BitBlock() { return Serialized(Typical16BitRoot(), true); }

// Offset of the node whose key is the given ASCII text, the first at or after
// from; npos when absent.
inline std::size_t NodeOffset(const Bytes& block, const std::string& key, bool layout16 = false,
                              std::size_t from = 0) {
    Bytes needle;
    AppendKey(needle, key, layout16);
    const auto it = std::search(block.begin() + static_cast<std::ptrdiff_t>(from), block.end(),
                                needle.begin(), needle.end());
    if (it == block.end()) return std::string::npos;
    return static_cast<std::size_t>(it - block.begin()) - (layout16 ? 4 : 6);
}

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

inline Bytes NeExecutable(const Bytes& block) {
    const std::size_t length =
        (block.size() + (1u << kNeShift) - 1) & ~std::size_t{(1u << kNeShift) - 1};
    Bytes file(kNeDataAt + length, std::byte{0});
    file[0] = std::byte('M');
    file[1] = std::byte('Z');
    PutDWord(file, 0x3C, kNeHeaderAt);
    file[kNeHeaderAt] = std::byte('N');
    file[kNeHeaderAt + 1] = std::byte('E');
    PutWord(file, kNeHeaderAt + 0x24, kNeTableAt - kNeHeaderAt);   // resource table
    PutWord(file, kNeHeaderAt + 0x26, kNeTableEnd - kNeHeaderAt);  // resident names after it
    PutWord(file, kNeTableAt, kNeShift);
    PutWord(file, kNeTypeAt, 0x8010);  // version
    PutWord(file, kNeTypeAt + 2, 1);   // one resource
    PutWord(file, kNeNameAt, static_cast<std::uint16_t>(kNeDataAt >> kNeShift));
    PutWord(file, kNeNameAt + 2, static_cast<std::uint16_t>(length >> kNeShift));
    PutWord(file, kNeNameAt + 4, 0x0030);
    PutWord(file, kNeNameAt + 6, 0x8001);  // id 1
    std::copy(block.begin(), block.end(), file.begin() + kNeDataAt);
    return file;
}

// The honest executable made to lie in one way each: its resource table or
// its version resource would take the system's walk out of the file, or make
// it ask for a buffer of hundreds of megabytes.
struct LyingNeFile {
    std::string what;
    Bytes bytes;
};

inline std::vector<LyingNeFile> LyingNeExecutables() {
    struct Patch {
        std::size_t at;
        std::uint16_t word;
    };
    const std::size_t tableAt = kNeHeaderAt + 0x24, namesAt = kNeHeaderAt + 0x26;
    const std::pair<const char*, std::vector<Patch>> lies[] = {
        {"table past the end", {{tableAt, 0xF000}, {namesAt, 0xF020}}},
        {"table ends before it starts", {{namesAt, 0x0010}}},
        {"table longer than the file", {{namesAt, 0xFF00}}},
        {"type chain without its zero", {{kNeTypeAt, 0x8003}, {kNeNameAt + 12, 0x8004}}},
        {"more resources than the table holds", {{kNeTypeAt + 2, 0x0FFF}, {kNeNameAt + 6, 0x8002}}},
        {"another type with more resources than the table holds",
         {{kNeTypeAt, 0x8003}, {kNeTypeAt + 2, 0x00FF}}},
        {"resource past the end", {{kNeNameAt, 0x0F00}}},
        {"resource longer than the file (1 MiB)", {{kNeNameAt + 2, 0xFFFF}}},
        {"resource of 64 MiB", {{kNeTableAt, 10}, {kNeNameAt, 0}, {kNeNameAt + 2, 0xFFFF}}},
        {"resource too short for a block", {{kNeNameAt + 2, 4}}},
        {"alignment shift of 16", {{kNeTableAt, 16}}},
        {"alignment shift of 32", {{kNeTableAt, 32}}},
    };
    const Bytes honest = NeExecutable(Typical16BitBlock());
    std::vector<LyingNeFile> files;
    for (const auto& [what, patches] : lies) {
        Bytes bytes = honest;
        for (const Patch& patch : patches) PutWord(bytes, patch.at, patch.word);
        files.push_back({what, std::move(bytes)});
    }
    return files;
}

}  // namespace kelvra::version_blocks
