#include "support/version_blocks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvra::version_blocks {

void PutWord(Bytes& out, std::size_t at, std::uint16_t word) {
    out.at(at) = std::byte(word & 0xFF);
    out.at(at + 1) = std::byte(word >> 8);
}

void PutDWord(Bytes& out, std::size_t at, std::uint32_t value) {
    PutWord(out, at, static_cast<std::uint16_t>(value & 0xFFFF));
    PutWord(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}

void AppendWord(Bytes& out, std::uint16_t word) {
    out.push_back(std::byte(word & 0xFF));
    out.push_back(std::byte(word >> 8));
}

void AppendDWord(Bytes& out, std::uint32_t value) {
    AppendWord(out, static_cast<std::uint16_t>(value & 0xFFFF));
    AppendWord(out, static_cast<std::uint16_t>(value >> 16));
}

void Pad4(Bytes& out) {
    while (out.size() % 4) out.push_back(std::byte{0});
}

void AppendKey(Bytes& out, const std::string& key, bool layout16) {
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

void Serialize(const Node& node, Bytes& out, bool layout16) {
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

Bytes Serialized(const Node& root, bool layout16) {
    Bytes block;
    Serialize(root, block, layout16);
    return block;
}

Node Text(std::string key, const std::wstring& text) {
    Node node{std::move(key), {}, static_cast<std::uint16_t>(text.size() + 1), 1, {}};
    for (wchar_t ch : text) AppendWord(node.value, static_cast<std::uint16_t>(ch));
    AppendWord(node.value, 0);
    return node;
}

Node Text16(std::string key, const std::string& text) {
    Node node{std::move(key), {}, static_cast<std::uint16_t>(text.size() + 1), 0, {}};
    for (char ch : text) node.value.push_back(std::byte(static_cast<unsigned char>(ch)));
    node.value.push_back(std::byte{0});
    return node;
}

Node Branch(std::string key, std::vector<Node> children, std::uint16_t type) {
    return Node{std::move(key), {}, 0, type, std::move(children)};
}

Node Translation(std::uint32_t entry) {
    Node node{"Translation", {}, 4, 0, {}};
    AppendDWord(node.value, entry);
    return node;
}

Bytes FixedRecord(std::uint32_t ms, std::uint32_t ls, std::uint32_t signature) {
    Bytes record;
    AppendDWord(record, signature);
    AppendDWord(record, 0x00010000);
    AppendDWord(record, ms);
    AppendDWord(record, ls);
    while (record.size() < 52) record.push_back(std::byte{0});
    return record;
}

Node Root(std::vector<Node> children, std::uint32_t ms, std::uint32_t ls) {
    return Node{"VS_VERSION_INFO", FixedRecord(ms, ls), 52, 0, std::move(children)};
}

Bytes TypicalBlock() {
    return Serialized(
        Root({
            Branch("StringFileInfo", {Branch("040904B0", {Text("FileVersion", L"1, 2, 3, 4"),
                                                          Text("ProductVersion", L"1.2")})}),
            Branch("VarFileInfo", {Translation(0x04B00409)}, 0),
        }),
        false);
}

Node Typical16BitRoot() {
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

Bytes Typical16BitBlock() { return Serialized(Typical16BitRoot(), true); }

std::size_t NodeOffset(const Bytes& block, const std::string& key, bool layout16,
                       std::size_t from) {
    Bytes needle;
    AppendKey(needle, key, layout16);
    const auto it = std::search(block.begin() + static_cast<std::ptrdiff_t>(from), block.end(),
                                needle.begin(), needle.end());
    if (it == block.end()) return std::string::npos;
    return static_cast<std::size_t>(it - block.begin()) - (layout16 ? 4 : 6);
}

Bytes NeExecutable(const Bytes& block) {
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

std::vector<LyingNeFile> LyingNeExecutables() {
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

PeImage BuildPeImage(const Bytes& block, bool pe64) {
    PeImage image;
    Bytes& b = image.bytes;
    b.assign(kPeSectionFile + kPeSectionSize, std::byte{0});
    b[0] = std::byte('M');
    b[1] = std::byte('Z');
    PutDWord(b, 0x3C, kPeHeaderAt);
    b[kPeHeaderAt] = std::byte('P');
    b[kPeHeaderAt + 1] = std::byte('E');
    PutWord(b, kPeHeaderAt + 4, pe64 ? 0x8664 : 0x14C);
    PutWord(b, kPeHeaderAt + 6, 1);  // sections
    const std::uint16_t optionalSize = pe64 ? 240 : 224;
    PutWord(b, kPeHeaderAt + 20, optionalSize);
    PutWord(b, kPeHeaderAt + 22, 0x2102);  // an executable DLL of 32-bit words
    image.optional = kPeHeaderAt + 24;
    PutWord(b, image.optional, pe64 ? 0x20B : 0x10B);
    if (pe64)
        PutDWord(b, image.optional + 24, 0x10000000);  // image base, low half
    else
        PutDWord(b, image.optional + 28, 0x10000000);
    PutDWord(b, image.optional + 32, 0x1000);  // section alignment
    PutDWord(b, image.optional + 36, 0x200);   // file alignment
    PutWord(b, image.optional + 40, 4);        // operating system 4.0
    PutWord(b, image.optional + 48, 4);        // subsystem 4.0
    PutDWord(b, image.optional + 56, kPeImageSize);
    PutDWord(b, image.optional + 60, kPeSectionFile);  // size of headers
    PutWord(b, image.optional + 68, 2);                // GUI subsystem
    image.directories = image.optional + (pe64 ? 112 : 96);
    PutDWord(b, image.directories - 4, 16);
    PutDWord(b, image.directories + 16, kPeSectionAddress);  // resource directory
    PutDWord(b, image.directories + 20, kPeSectionSize);
    image.section = image.optional + optionalSize;
    std::copy_n(".rsrc", 5, reinterpret_cast<char*>(&b[image.section]));
    PutDWord(b, image.section + 8, kPeSectionSize);
    PutDWord(b, image.section + 12, kPeSectionAddress);
    PutDWord(b, image.section + 16, kPeSectionSize);
    PutDWord(b, image.section + 20, kPeSectionFile);
    PutDWord(b, image.section + 36, 0x40000040);  // initialised data, readable

    auto directory = [&](std::size_t at, std::uint32_t id, std::uint32_t target) {
        PutWord(b, PeImage::Res(at) + 14, 1);  // one id entry
        PutDWord(b, PeImage::Res(at) + 16, id);
        PutDWord(b, PeImage::Res(at) + 20, target);
    };
    directory(kPeRoot, 16, 0x80000000u | kPeTypeDir);
    directory(kPeTypeDir, 1, 0x80000000u | kPeNameDir);
    directory(kPeNameDir, 0x409, kPeData);
    PutDWord(b, PeImage::Res(kPeData), kPeSectionAddress + kPeBlock);
    PutDWord(b, PeImage::Res(kPeData) + 4, static_cast<std::uint32_t>(block.size()));
    std::copy(block.begin(), block.end(), b.begin() + PeImage::Res(kPeBlock));
    return image;
}

std::vector<PeLayout> MisleadingPeLayouts() {
    const Bytes block = TypicalBlock();
    // The block again elsewhere, its fixed version 9.9.9.9.
    const Bytes other = Serialized(Root({}, 0x00090009, 0x00090009), false);
    const auto put = [](Bytes& b, std::size_t at, const Bytes& what) {
        if (b.size() < at + what.size()) b.resize(at + what.size(), std::byte{0});
        std::copy(what.begin(), what.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    };
    const auto patched = [&](auto patch) {
        PeImage image = BuildPeImage(block);
        patch(image, image.bytes);
        return image.bytes;
    };
    const auto secondSection = [](PeImage& image, Bytes& b, std::uint32_t address,
                                  std::uint32_t size, std::uint32_t fileAt) {
        const std::size_t at = image.section + 40;
        PutWord(b, kPeHeaderAt + 6, 2);
        std::copy_n(".next", 5, reinterpret_cast<char*>(&b[at]));
        PutDWord(b, at + 8, size);
        PutDWord(b, at + 12, address);
        PutDWord(b, at + 16, size);
        PutDWord(b, at + 20, fileAt);
        PutDWord(b, at + 36, 0x40000040);
        if (b.size() < fileAt + size) b.resize(fileAt + size, std::byte{0});
    };
    // The root directory with these (id, target) entries; the directory of
    // the version type's names moves to kMovedNames to make room.
    constexpr std::uint32_t kMovedNames = 0x300;
    const auto rootWith = [](Bytes& b,
                             std::vector<std::pair<std::uint32_t, std::uint32_t>> entries) {
        std::copy_n(b.begin() + PeImage::Res(kPeTypeDir), 0x18,
                    b.begin() + PeImage::Res(kMovedNames));
        std::fill_n(b.begin() + PeImage::Res(kPeRoot), kPeNameDir, std::byte{0});
        PutWord(b, PeImage::Res(kPeRoot) + 14, static_cast<std::uint16_t>(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            PutDWord(b, PeImage::Res(kPeRoot) + 16 + 8 * i, entries[i].first);
            PutDWord(b, PeImage::Res(kPeRoot) + 20 + 8 * i, entries[i].second);
        }
    };
    constexpr std::uint32_t kSub = 0x80000000u;
    using E = PeLayout::Expect;
    std::vector<PeLayout> layouts;
    layouts.push_back({"honest image", BuildPeImage(block).bytes, E::Direct});
    layouts.push_back({"honest 64-bit image", BuildPeImage(block, true).bytes, E::Direct});

    // ---- the system faults
    layouts.push_back({"header offset of 2 GiB or more", patched([](PeImage&, Bytes& b) {
                           // The flat parse cannot seek there and reads on from the end
                           // of the DOS header: "NE", a header whose resource table is
                           // 16 bytes, and in them a chain of types that never ends.
                           PutDWord(b, 0x3C, 0x80000040);
                           b[0x40] = std::byte('N');
                           b[0x41] = std::byte('E');
                           PutWord(b, 0x42 + 0x24, 0);
                           PutWord(b, 0x42 + 0x26, 0x10);
                           PutWord(b, 0x84, 0x8003);
                           PutWord(b, 0x86, 0xFFFF);
                       }),
                       E::Crashes});
    layouts.push_back({"\"PE\" without its two zero bytes", patched([](PeImage&, Bytes& b) {
                           // Only the flat parse takes it, and its fallback to the
                           // first language follows that entry's offset unchecked.
                           PutWord(b, kPeHeaderAt + 2, 0x0101);
                           PutDWord(b, PeImage::Res(kPeNameDir) + 16, 0x0401);
                           PutDWord(b, PeImage::Res(kPeNameDir) + 20, 0x7FFF0000);
                       }),
                       E::Crashes});
    layouts.push_back(
        {"type id whose low 16 bits are the version's, in front of it, leading out of the image",
         patched([&](PeImage&, Bytes& b) {
             // its own way down, to a data entry whose address is far outside
             constexpr std::size_t kNames = 0x320, kLanguages = 0x340, kData = 0x360;
             PutWord(b, PeImage::Res(kNames) + 14, 1);
             PutDWord(b, PeImage::Res(kNames) + 16, 1);
             PutDWord(b, PeImage::Res(kNames) + 20, kSub | kLanguages);
             PutWord(b, PeImage::Res(kLanguages) + 14, 1);
             PutDWord(b, PeImage::Res(kLanguages) + 16, 0x409);
             PutDWord(b, PeImage::Res(kLanguages) + 20, kData);
             PutDWord(b, PeImage::Res(kData), 0x7FFF0000);
             PutDWord(b, PeImage::Res(kData) + 4, static_cast<std::uint32_t>(block.size()));
             rootWith(b, {{0x00010010, kSub | kNames}, {16, kSub | kMovedNames}});
         }),
         E::Crashes});
    layouts.push_back({"data past the section's virtual size and the image",
                       patched([](PeImage& image, Bytes& b) {
                           PutDWord(b, PeImage::Res(kPeData), kPeImageSize - 0x10);
                           PutDWord(b, image.section + 8, kPeBlock);
                       }),
                       E::Crashes});

    // ---- the system finds other bytes than the file's at the data entry
    layouts.push_back({"overlapping sections", patched([&](PeImage& image, Bytes& b) {
                           secondSection(image, b, kPeSectionAddress, kPeSectionSize, 0x600);
                           std::copy_n(b.begin() + kPeSectionFile, kPeSectionSize,
                                       b.begin() + 0x600);
                           put(b, 0x600 + kPeBlock, other);
                       }),
                       E::System});
    layouts.push_back({"file data off the 512-byte grid", patched([](PeImage& image, Bytes& b) {
                           b.insert(b.begin() + kPeSectionFile, 0x10, std::byte{0});
                           PutDWord(b, image.section + 20, kPeSectionFile + 0x10);
                       }),
                       E::System});
    layouts.push_back({"file data longer than the virtual size, the next section mapped there",
                       patched([&](PeImage& image, Bytes& b) {
                           // .rsrc maps one page but holds 0x1200 bytes of file data; the
                           // data entry's address lies in the second page, which the image
                           // takes from the next section
                           constexpr std::uint32_t kPage = 0x1000, kRaw = 0x1200;
                           PutDWord(b, image.section + 8, kPage);
                           PutDWord(b, image.section + 16, kRaw);
                           PutDWord(b, image.directories + 20, kPage);
                           b.resize(kPeSectionFile + kRaw, std::byte{0});
                           put(b, kPeSectionFile + kPage + 0x10, block);
                           PutDWord(b, PeImage::Res(kPeData), kPeSectionAddress + kPage + 0x10);
                           PutDWord(b, image.optional + 56, 0x3000);
                           secondSection(image, b, kPeSectionAddress + kPage, 0x200,
                                         kPeSectionFile + kRaw);
                           put(b, kPeSectionFile + kRaw + 0x10, other);
                       }),
                       E::System});
    layouts.push_back(
        {"type ids out of order", patched([&](PeImage&, Bytes& b) {
             // 16, 3, 2: the binary search looks at 3, then 2, and gives up
             rootWith(b,
                      {{16, kSub | kMovedNames}, {3, kSub | kMovedNames}, {2, kSub | kMovedNames}});
         }),
         E::Nothing});
    layouts.push_back({"resource directory of size 0", patched([](PeImage& image, Bytes& b) {
                           PutDWord(b, image.directories + 20, 0);
                       }),
                       E::Nothing});
    layouts.push_back({"resource directory of size 8", patched([](PeImage& image, Bytes& b) {
                           PutDWord(b, image.directories + 20, 8);
                       }),
                       E::System});
    layouts.push_back({"resource id counted among the named entries",
                       patched([](PeImage&, Bytes& b) {
                           PutWord(b, PeImage::Res(kPeTypeDir) + 12, 1);
                           PutWord(b, PeImage::Res(kPeTypeDir) + 14, 0);
                       }),
                       E::Nothing});

    // ---- the system reads soundly what a reader of the file's bytes refused
    layouts.push_back({"version data running past the section's file data",
                       patched([&](PeImage& image, Bytes& b) {
                           // The block starts 0x40 bytes before the end of the file data,
                           // rounded to 512 as the image maps it: its fixed record stays
                           // inside, the strings fall into the zeros.
                           constexpr std::uint32_t kRaw = 0x200, kAt = kRaw - 0x40;
                           put(b, PeImage::Res(kAt), block);
                           PutDWord(b, PeImage::Res(kPeData), kPeSectionAddress + kAt);
                           PutDWord(b, image.section + 16, kRaw);
                           b.resize(kPeSectionFile + kRaw);
                       }),
                       E::System});
    layouts.push_back(
        {"resource directory inside the headers", patched([&](PeImage& image, Bytes& b) {
             // the tree down to the data entry, moved into the headers' free room
             constexpr std::size_t kAt = 0x180;
             const Bytes tree(b.begin() + kPeSectionFile, b.begin() + kPeSectionFile + kPeBlock);
             put(b, kAt, tree);
             PutDWord(b, image.directories + 16, kAt);
         }),
         E::System});

    // ---- how the loader maps sections, which the section table alone does not tell
    layouts.push_back({"version data in a section that may not be read",
                       patched([&](PeImage& image, Bytes& b) {
                           // The directory stays in .rsrc; the block lies in a section
                           // whose characteristics lack IMAGE_SCN_MEM_READ, which the
                           // image maps with no access at all: the system faulted.
                           secondSection(image, b, 0x2000, 0x200, 0x600);
                           PutDWord(b, image.section + 40 + 36, 0x00000040);
                           put(b, 0x600, block);
                           PutDWord(b, PeImage::Res(kPeData), 0x2000);
                           PutDWord(b, image.optional + 56, 0x3000);
                       }),
                       E::Crashes});
    layouts.push_back(
        {"section and file alignment below a page, file data shorter than the virtual size",
         patched([&](PeImage& image, Bytes& b) {
             // Alignments of 0x200 and the section at the address of its file
             // offset: the image is the whole file mapped flat. The section's file
             // data ends 0x40 bytes into the block; a mapping by pages would give
             // zeros after it, the flat one gives the file's next bytes. The
             // system gave the whole block (1.2.3.4), as the file holds it.
             constexpr std::uint32_t kRaw = 0x200, kAt = kRaw - 0x40;
             PutDWord(b, image.optional + 32, 0x200);
             PutDWord(b, image.optional + 36, 0x200);
             PutDWord(b, image.optional + 56, kPeSectionFile + kPeSectionSize);
             PutDWord(b, image.section + 12, kPeSectionFile);
             PutDWord(b, image.section + 16, kRaw);
             PutDWord(b, image.directories + 16, kPeSectionFile);
             put(b, PeImage::Res(kAt), block);
             PutDWord(b, PeImage::Res(kPeData), kPeSectionFile + kAt);
         }),
         E::System});
    layouts.push_back({"a later section of 0x10 bytes at the address of the first",
                       patched([&](PeImage& image, Bytes& b) {
                           // .next lies at .rsrc's address with a VirtualSize of 0x10, so that
                           // by the section table .rsrc alone holds the block at +0x200; the
                           // image maps .next's file data (0x400 bytes: the same directory, then
                           // another block) and zeros over the whole page. The system gave the
                           // other block (9.9.9.9). Started 0x100 bytes into the page instead,
                           // .next took nothing of .rsrc's: the system gave .rsrc's block.
                           constexpr std::uint32_t kAt = 0x200;
                           put(b, PeImage::Res(kAt), block);
                           PutDWord(b, PeImage::Res(kPeData), kPeSectionAddress + kAt);
                           secondSection(image, b, kPeSectionAddress, 0x400, 0x600);
                           std::copy_n(b.begin() + kPeSectionFile, 0x100, b.begin() + 0x600);
                           PutDWord(b, image.section + 40 + 8, 0x10);
                           put(b, 0x600 + kAt, other);
                       }),
                       E::System});
    layouts.push_back({"virtual size of 0xFFFFF800", patched([&](PeImage& image, Bytes& b) {
                           // The block in a section whose VirtualSize wraps to 0 when
                           // the loader rounds it up to a page: it maps no file data.
                           // The system gave a block of the data entry's size without
                           // the fixed record (the zeros there), not the file's.
                           secondSection(image, b, 0x2000, 0x200, 0x600);
                           PutDWord(b, image.section + 40 + 8, 0xFFFFF800);
                           put(b, 0x600, block);
                           PutDWord(b, PeImage::Res(kPeData), 0x2000);
                           PutDWord(b, image.optional + 56, 0x3000);
                       }),
                       E::System});
    {
        // A 16-bit file whose new header lies 0x100 bytes below 2 GiB and its
        // resource table at 2 GiB. A signed 32-bit seek there fails, and a reader
        // that goes on reads the 0x18 bytes after the header instead: another
        // table, that leads to another block (9.9.9.9). Both blocks lie at the
        // file's start. The system gave the other block.
        constexpr std::uint32_t kHeader = 0x7FFFFF00, kTable = 0x100, kTableLength = 0x18;
        constexpr std::size_t kBlock = 0x100, kOther = 0x300;
        const Bytes block16 = Typical16BitBlock();
        const Bytes other16 = Serialized(Root({}, 0x00090009, 0x00090009), true);
        PeLayout layout{"16-bit file whose resource table lies at 2 GiB", {}, E::System};
        Bytes& b = layout.bytes;
        b.assign(0x400, std::byte{0});
        b[0] = std::byte('M');
        b[1] = std::byte('Z');
        PutDWord(b, 0x3C, kHeader);
        put(b, kBlock, block16);
        put(b, kOther, other16);
        layout.tailAt = kHeader;
        Bytes& t = layout.tail;
        t.assign(kTable + kTableLength, std::byte{0});
        t[0] = std::byte('N');
        t[1] = std::byte('E');
        PutWord(t, 0x24, kTable);
        PutWord(t, 0x26, kTable + kTableLength);
        const auto table = [&](std::size_t at, std::size_t data, std::size_t length) {
            PutWord(t, at, kNeShift);
            PutWord(t, at + 2, 0x8010);  // version, one resource
            PutWord(t, at + 4, 1);
            PutWord(t, at + 10, static_cast<std::uint16_t>(data >> kNeShift));
            PutWord(t, at + 12, static_cast<std::uint16_t>((length + 15) >> kNeShift));
            PutWord(t, at + 14, 0x0030);
            PutWord(t, at + 16, 0x8001);  // id 1
        };
        table(kTable, kBlock, block16.size());
        table(0x40, kOther, other16.size());
        layouts.push_back(std::move(layout));
    }
    return layouts;
}

}  // namespace kelvra::version_blocks
