#include "versions/versionblock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "common/files.h"
#include "versions/file_helper.h"
#include "versions/fileversion.h"
#include "versions/littleendian.h"

namespace kelvra {
namespace {

// ---- the tree of a version block -------------------------------------------
//
// Every node: a length word (the node with its children), a value-length word,
// in the 32-bit layout a type word (1: the value is text, counted in UTF-16
// units), then the NUL-terminated key, padding to a 32-bit boundary, the
// value, padding, and the children. Boundaries are counted from the start of
// the block.

struct BlockLayout {
    std::size_t header;   // bytes before the key
    std::size_t keyChar;  // bytes per key character
    bool hasType;
};
constexpr BlockLayout kLayout32{6, 2, true};
constexpr BlockLayout kLayout16{4, 1, false};

constexpr std::size_t kFixedRecordSize = 52;  // VS_FIXEDFILEINFO
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;

constexpr std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

const BlockLayout& LayoutOf(std::span<const std::byte> block) {
    // In the 16-bit layout the key "VS_VERSION_INFO" starts at byte 4; in the
    // 32-bit layout byte 4 is the low byte of the type word, 0 or 1. The
    // system tells the two apart the same way.
    return std::to_integer<unsigned>(block[4]) >= 0x20 ? kLayout16 : kLayout32;
}

// One node whose header, length and key lie inside the limit it was read
// against: [offset, end) is the node with its children.
struct NodeView {
    std::size_t offset;
    std::size_t end;
    std::size_t keyStart;
    std::size_t keyEnd;    // just past the key's terminator
    std::size_t children;  // where the system looks for the first child
};

// The offset just past the key's terminator, or 0 when the key does not end
// inside [start, end).
std::size_t KeyEnd(std::span<const std::byte> block, std::size_t start, std::size_t end,
                   const BlockLayout& layout) {
    for (std::size_t at = start; at + layout.keyChar <= end; at += layout.keyChar) {
        const bool nul = layout.keyChar == 2 ? LittleWord(block, at) == 0
                                             : std::to_integer<unsigned>(block[at]) == 0;
        if (nul) return at + layout.keyChar;
    }
    return 0;
}

std::optional<NodeView> ReadNode(std::span<const std::byte> block, std::size_t offset,
                                 std::size_t limit, const BlockLayout& layout) {
    if (offset > limit || limit - offset < layout.header) return std::nullopt;
    const std::size_t length = LittleWord(block, offset);
    if (length < layout.header || length > limit - offset) return std::nullopt;
    const std::size_t end = offset + length;
    const std::size_t keyEnd = KeyEnd(block, offset + layout.header, end, layout);
    if (keyEnd == 0) return std::nullopt;
    // The system finds the children behind the value, trusting the value
    // length; text values are counted in UTF-16 units.
    const std::size_t valueLength = LittleWord(block, offset + 2);
    const bool textValue = layout.hasType && LittleWord(block, offset + 4) != 0;
    const std::size_t valueBytes = textValue ? valueLength * 2 : valueLength;
    return NodeView{offset, end, offset + layout.header, keyEnd,
                    Align4(Align4(keyEnd) + valueBytes)};
}

// Calls visit(child offset) for each child the system's walk over the node
// reaches, until visit returns false; returns false then.
template <typename Visit>
bool ForEachChild(std::span<const std::byte> block, const NodeView& node, const BlockLayout& layout,
                  Visit&& visit) {
    std::size_t child = node.children;
    // Fewer bytes than a node header at the end are padding.
    while (child < node.end && node.end - child >= layout.header) {
        const std::size_t childLength = LittleWord(block, child);
        if (childLength == 0) break;  // the system's walk stops at an empty node as well
        if (!visit(child)) return false;
        child = Align4(child + childLength);
    }
    return true;
}

// Whether the system may take the key for the name: the same length, equal
// letters up to the case of A to Z. The system folds case with tables of its
// own, so a character outside ASCII may match anything.
bool KeyMayBe(std::span<const std::byte> block, const NodeView& node, const BlockLayout& layout,
              std::string_view name) {
    if (node.keyEnd - node.keyStart != (name.size() + 1) * layout.keyChar) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const std::size_t at = node.keyStart + i * layout.keyChar;
        const unsigned ch =
            layout.keyChar == 2 ? LittleWord(block, at) : std::to_integer<unsigned>(block[at]);
        if (ch >= 0x80) continue;
        const auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(ch) != lower(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

// How many levels below a child of the root the system walks: below
// "StringFileInfo" its tables and their strings, below "VarFileInfo" its
// entries; any other child is only passed over.
int LevelsBelowRootChild(std::span<const std::byte> block, const NodeView& child,
                         const BlockLayout& layout) {
    if (KeyMayBe(block, child, layout, "StringFileInfo")) return 2;
    if (KeyMayBe(block, child, layout, "VarFileInfo")) return 1;
    return 0;
}

// The node lies inside the limit, its key ends inside it, and so do the
// nodes below it as far as the system walks (levels: how deep). What lies
// below a leaf, and a leaf's value length, the system never looks at.
bool NodeIsSound(std::span<const std::byte> block, std::size_t offset, std::size_t limit,
                 const BlockLayout& layout, int levels, bool root) {
    const std::optional<NodeView> node = ReadNode(block, offset, limit, layout);
    if (!node) return false;
    if (levels == 0) return true;
    return ForEachChild(block, *node, layout, [&](std::size_t child) {
        if (!root) return NodeIsSound(block, child, node->end, layout, levels - 1, false);
        const std::optional<NodeView> view = ReadNode(block, child, node->end, layout);
        return view && NodeIsSound(block, child, node->end, layout,
                                   LevelsBelowRootChild(block, *view, layout), false);
    });
}

// The end of the innermost node that holds the offset, among the nodes the
// system walks; 0 when the root does not hold it.
std::size_t EndOfNodeHolding(std::span<const std::byte> block, std::size_t offset) {
    const BlockLayout& layout = LayoutOf(block);
    std::optional<NodeView> node = ReadNode(block, 0, block.size(), layout);
    if (!node || offset >= node->end) return 0;
    bool root = true;
    for (int levels = 3; levels > 0;) {
        std::optional<NodeView> holder;
        int holderLevels = 0;
        ForEachChild(block, *node, layout, [&](std::size_t child) {
            const std::optional<NodeView> view = ReadNode(block, child, node->end, layout);
            if (!view) return false;
            if (offset < view->offset || offset >= view->end) return true;
            holder = view;
            holderLevels = root ? LevelsBelowRootChild(block, *view, layout) : levels - 1;
            return false;
        });
        if (!holder) break;
        node = holder;
        levels = holderLevels;
        root = false;
    }
    return node->end;
}

bool LiesInside(std::span<const std::byte> buffer, const void* value) {
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    return value != nullptr && at >= begin && at - begin < buffer.size();
}

std::wstring HexWord(std::uint32_t word) {
    wchar_t text[8];
    std::swprintf(text, 8, L"%04X", static_cast<unsigned>(word & 0xFFFF));
    return text;
}

// ---- the memory of version buffers ---------------------------------------------

class HeapVersionBuffer : public VersionBufferMemory {
  public:
    explicit HeapVersionBuffer(std::size_t size) : bytes_(size, std::byte{0}) {}
    std::span<std::byte> Bytes() override { return bytes_; }

  private:
    std::vector<std::byte> bytes_;
};

VersionBufferAllocator& InstalledAllocator() {
    static VersionBufferAllocator allocator;
    return allocator;
}

}  // namespace

// ---- checks and formats -------------------------------------------------------

bool VersionBlockIsSound(std::span<const std::byte> block) {
    if (block.size() < 5) return false;
    return NodeIsSound(block, 0, block.size(), LayoutOf(block), 3, true);
}

bool IsVersionBlock16(std::span<const std::byte> block) { return &LayoutOf(block) == &kLayout16; }

std::size_t BufferSizeFor16BitBlock(std::size_t rootLength) {
    // Three times the block is the most the copies reach; the rest is margin
    // for the longest text the block can hold.
    return 6 * rootLength + 16;
}

std::wstring FormatFixedVersion(std::uint32_t ms, std::uint32_t ls) {
    return std::to_wstring(ms >> 16) + L"." + std::to_wstring(ms & 0xFFFF) + L"." +
           std::to_wstring(ls >> 16) + L"." + std::to_wstring(ls & 0xFFFF);
}

std::wstring StringTablePath(std::uint32_t translation, std::wstring_view key) {
    return L"\\StringFileInfo\\" + HexWord(translation) + HexWord(translation >> 16) + L"\\" +
           std::wstring(key);
}

std::optional<std::span<const std::byte>> SpanInsideBuffer(std::span<const std::byte> buffer,
                                                           const void* value, std::size_t bytes) {
    if (!LiesInside(buffer, value)) return std::nullopt;
    const std::size_t offset = static_cast<std::size_t>(
        reinterpret_cast<std::uintptr_t>(value) - reinterpret_cast<std::uintptr_t>(buffer.data()));
    return buffer.subspan(offset, std::min(bytes, buffer.size() - offset));
}

std::optional<VersionBlock::FixedWords> FixedWordsFromRecord(std::span<const std::byte> buffer,
                                                             const void* record,
                                                             std::size_t length) {
    if (length < kFixedRecordSize) return std::nullopt;
    const auto inside = SpanInsideBuffer(buffer, record, kFixedRecordSize);
    if (!inside || inside->size() < kFixedRecordSize) return std::nullopt;
    if (LittleDWord(*inside, 0) != kFixedSignature) return std::nullopt;
    return VersionBlock::FixedWords{LittleDWord(*inside, 8), LittleDWord(*inside, 12)};
}

std::wstring TextFromValue(std::span<const std::byte> buffer, const void* value,
                           std::size_t chars) {
    std::wstring text;
    const auto inside =
        SpanInsideBuffer(buffer, value, chars > SIZE_MAX / 2 ? SIZE_MAX : chars * 2);
    if (!inside) return text;
    for (std::size_t at = 0; at + 2 <= inside->size(); at += 2) {
        const auto unit = static_cast<wchar_t>(LittleWord(*inside, at));
        if (unit == L'\0') break;
        text += unit;
    }
    return text;
}

std::wstring TextOfQueriedValue(std::span<const std::byte> buffer, const void* value) {
    if (buffer.size() < 5 || !LiesInside(buffer, value)) return L"";
    const std::size_t offset = static_cast<std::size_t>(
        reinterpret_cast<std::uintptr_t>(value) - reinterpret_cast<std::uintptr_t>(buffer.data()));
    const std::size_t rootEnd = LittleWord(buffer, 0);
    std::size_t roomBytes = 0;
    if (IsVersionBlock16(buffer) && offset >= rootEnd) {
        // The copy the system converted into the room after the block: the
        // value at pos is copied to rootEnd + 2 * pos, one UTF-16 unit per
        // byte at most.
        const std::size_t pos = (offset - rootEnd) / 2;
        const std::size_t end = EndOfNodeHolding(buffer, pos);
        roomBytes = end > pos ? (end - pos) * 2 : 0;
    } else {
        const std::size_t end = EndOfNodeHolding(buffer, offset);
        roomBytes = end > offset ? end - offset : 0;
    }
    return TextFromValue(buffer, value, roomBytes / 2);
}

std::optional<std::uint32_t> FirstTranslationOfValue(std::span<const std::byte> buffer,
                                                     const void* value) {
    if (buffer.size() < 5 || !LiesInside(buffer, value)) return std::nullopt;
    const std::size_t offset = static_cast<std::size_t>(
        reinterpret_cast<std::uintptr_t>(value) - reinterpret_cast<std::uintptr_t>(buffer.data()));
    const std::size_t end = EndOfNodeHolding(buffer, offset);
    if (end < offset || end - offset < 4) return std::nullopt;
    return LittleDWord(buffer, offset);
}

// ---- VersionBlock -------------------------------------------------------------

VersionBlock VersionBlock::Load(const std::wstring& path) {
    VersionBlock block;
    FetchedVersionBlock fetched = FetchVersionBlock(path);
    block.settled_ = fetched.settled;
    block.failure_ = fetched.failure;
    if (!fetched.present) return block;
    block.present_ = true;
    // A block the reader reported but did not hand over (larger than any
    // block can be) is present but not read.
    if (fetched.bytes.empty() || fetched.bytes.size() > kMaxVersionBufferSize) return block;
    // Zero-filled, so that nothing the reader left unwritten is read as data.
    block.Allocate(fetched.bytes.size());
    std::copy(fetched.bytes.begin(), fetched.bytes.end(), block.data_.begin());
    block.readable_ = VersionBlockIsSound(block.data_);
    if (block.readable_) block.MakeSpareRoom();
    return block;
}

void VersionBlock::Allocate(std::size_t size) {
    const VersionBufferAllocator& allocator = InstalledAllocator();
    memory_ = allocator ? allocator(size) : std::make_unique<HeapVersionBuffer>(size);
    data_ = memory_->Bytes();
}

// The system answers each text query on a block in the 16-bit layout with a
// UTF-16 copy that it writes after the block, trusting that the buffer has
// room for it; the size it reports for such a block does not always leave
// that room. So the block moves into a buffer that has it, and what the file
// held after the block is cleared: a text without its NUL then ends at the
// end of the block, and no copy can reach past the buffer.
void VersionBlock::MakeSpareRoom() {
    if (!IsVersionBlock16(data_)) return;
    const std::size_t rootLength = LittleWord(data_, 0);
    std::unique_ptr<VersionBufferMemory> small = std::move(memory_);
    const std::span<const std::byte> block = data_.first(rootLength);
    Allocate(std::max(BufferSizeFor16BitBlock(rootLength), data_.size()));
    std::copy(block.begin(), block.end(), data_.begin());
}

std::optional<VersionBlock::FixedWords> VersionBlock::FixedFileVersion() {
    if (!readable_) return std::nullopt;
    const void* record = nullptr;
    std::uint32_t length = 0;
    if (!version_platform::QueryValue(data_, L"\\", record, length)) return std::nullopt;
    return FixedWordsFromRecord(data_, record, length);
}

std::optional<std::uint32_t> VersionBlock::FirstTranslation() {
    if (!readable_) return std::nullopt;
    const void* table = nullptr;
    std::uint32_t length = 0;
    if (!version_platform::QueryValue(data_, L"\\VarFileInfo\\Translation", table, length))
        return std::nullopt;
    return FirstTranslationOfValue(data_, table);
}

std::optional<std::wstring> VersionBlock::StringValue(std::wstring_view subBlock) {
    if (!readable_) return std::nullopt;
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!version_platform::QueryValue(data_, std::wstring(subBlock), value, length))
        return std::nullopt;
    return TextOfQueriedValue(data_, value);
}

std::wstring ReadVersionString(VersionBlock& block, std::wstring_view key) {
    const std::optional<std::uint32_t> translation = block.FirstTranslation();
    if (!translation) return L"";
    return block.StringValue(StringTablePath(*translation, key)).value_or(L"");
}

VersionBufferAllocator SetVersionBufferAllocator(VersionBufferAllocator allocator) {
    return std::exchange(InstalledAllocator(), std::move(allocator));
}

}  // namespace kelvra
