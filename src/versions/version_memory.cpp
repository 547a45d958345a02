#include "versions/version_memory.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "common/utf8.h"

namespace kelvra {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// ---- the open-addressing indexes ---------------------------------------------

// At most half the slots in use, a power of two of them.
std::size_t SlotsFor(std::size_t items) {
    std::size_t slots = 16;
    while (slots < items * 2) slots *= 2;
    return slots;
}

// FNV's low bits depend only on the low bits of the input's bytes, and paths
// differ little: the bits are mixed before they choose a slot.
std::size_t FirstSlot(std::uint64_t hash, std::size_t slots) {
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 33;
    return static_cast<std::size_t>(hash) & (slots - 1);
}

template <class Same>
std::optional<std::uint32_t> Probe(const std::vector<std::uint32_t>& slots, std::uint64_t hash,
                                   Same&& same) {
    if (slots.empty()) return std::nullopt;
    for (std::size_t at = FirstSlot(hash, slots.size());; at = (at + 1) & (slots.size() - 1)) {
        if (slots[at] == 0) return std::nullopt;
        if (same(slots[at] - 1)) return slots[at] - 1;
    }
}

// Puts the item into the first free slot of its chain; false when an equal
// item is in the chain already.
template <class Same>
bool Place(std::vector<std::uint32_t>& slots, std::uint64_t hash, std::uint32_t item, Same&& same) {
    for (std::size_t at = FirstSlot(hash, slots.size());; at = (at + 1) & (slots.size() - 1)) {
        if (slots[at] == 0) {
            slots[at] = item + 1;
            return true;
        }
        if (same(slots[at] - 1)) return false;
    }
}

template <class T>
std::size_t Held(const std::vector<T>& items) {
    return items.capacity() * sizeof(T);
}

// ---- texts ------------------------------------------------------------------

// The text in UTF-8 when it comes back from UTF-8 unchanged; a lone surrogate
// would come back as U+FFFD and could make two paths one. A NUL would end the
// text in the file early.
std::optional<std::string> Utf8Exactly(const std::wstring& text) {
    if (text.find(L'\0') != std::wstring::npos) return std::nullopt;
    std::string bytes = WideToUtf8(text);
    if (Utf8ToWide(bytes) != text) return std::nullopt;
    return bytes;
}

// A path's folder, with its separator, and its file name; the two are kept
// apart so that a folder of many executables is held once.
std::pair<std::string_view, std::string_view> SplitPath(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/:");
    const std::size_t nameAt = separator == std::string_view::npos ? 0 : separator + 1;
    return {path.substr(0, nameAt), path.substr(nameAt)};
}

VersionMemory*& ActiveMemory() {
    static VersionMemory* memory = nullptr;
    return memory;
}

}  // namespace

// ---- TextColumn -------------------------------------------------------------

std::string_view TextColumn::At(std::uint32_t item) const {
    const std::size_t start = starts_[item];
    const std::size_t end = item + 1 < starts_.size() ? starts_[item + 1] : bytes_.size();
    return std::string_view(bytes_).substr(start, end - 1 - start);
}

std::optional<std::uint32_t> TextColumn::Find(std::string_view item) const {
    return Probe(slots_, Fnv(item), [&](std::uint32_t other) { return At(other) == item; });
}

std::uint32_t TextColumn::Add(std::string_view item) {
    if (indexed_)
        if (const std::optional<std::uint32_t> found = Find(item)) return *found;
    starts_.push_back(static_cast<std::uint32_t>(bytes_.size()));
    bytes_ += item;
    bytes_ += '\0';
    if (indexed_) IndexLast();
    return static_cast<std::uint32_t>(starts_.size() - 1);
}

void TextColumn::IndexLast() {
    if (size() * 2 > slots_.size()) return Rehash(SlotsFor(size()));
    const auto last = static_cast<std::uint32_t>(size() - 1);
    Place(slots_, Fnv(At(last)), last, [](std::uint32_t) { return false; });
}

void TextColumn::Rehash(std::size_t slots) {
    slots_.assign(slots, 0);
    for (std::uint32_t item = 0; item < size(); ++item)
        Place(slots_, Fnv(At(item)), item, [](std::uint32_t) { return false; });
}

bool TextColumn::Adopt(std::string bytes) {
    if (bytes.size() >= kNone) return false;
    bytes_ = std::move(bytes);
    starts_.clear();
    slots_.clear();
    std::size_t parts = 0, itemStart = 0;
    for (std::size_t at = 0; at < bytes_.size(); ++at) {
        if (bytes_[at] != '\0' || ++parts < partsPerItem_) continue;
        starts_.push_back(static_cast<std::uint32_t>(itemStart));
        itemStart = at + 1;
        parts = 0;
    }
    if (itemStart != bytes_.size()) return false;
    // Held for the whole run: without the slack of their growth.
    bytes_.shrink_to_fit();
    starts_.shrink_to_fit();
    if (!indexed_) return true;
    slots_.assign(SlotsFor(size()), 0);
    for (std::uint32_t item = 0; item < size(); ++item) {
        const std::string_view text = At(item);
        if (!Place(slots_, Fnv(text), item, [&](std::uint32_t other) { return At(other) == text; }))
            return false;
    }
    return true;
}

std::size_t TextColumn::HeldBytes() const {
    return bytes_.capacity() + Held(starts_) + Held(slots_);
}

// ---- VersionMemory ------------------------------------------------------------

std::uint64_t VersionMemory::EntryHash(std::uint32_t entry) const {
    return Fnv(names_.At(entry), Fnv(folders_.At(folderOf_[entry])));
}

std::optional<std::uint32_t> VersionMemory::FindEntry(std::string_view path) const {
    // Not a structured binding: clang before 16 cannot capture one.
    const std::pair<std::string_view, std::string_view> parts = SplitPath(path);
    const std::string_view folder = parts.first, name = parts.second;
    return Probe(entrySlots_, Fnv(path), [&](std::uint32_t entry) {
        return names_.At(entry) == name && folders_.At(folderOf_[entry]) == folder;
    });
}

void VersionMemory::IndexEntry(std::uint32_t entry) {
    if (entries() * 2 > entrySlots_.size()) {
        entrySlots_.assign(SlotsFor(entries()), 0);
        for (std::uint32_t e = 0; e < entries(); ++e)
            Place(entrySlots_, EntryHash(e), e, [](std::uint32_t) { return false; });
        return;
    }
    Place(entrySlots_, EntryHash(entry), entry, [](std::uint32_t) { return false; });
}

std::optional<FileVersionResult> VersionMemory::Recall(const std::wstring& path,
                                                       const FileFacts& facts) {
    const std::optional<std::string> key = Utf8Exactly(path);
    if (!key) return std::nullopt;
    const std::optional<std::uint32_t> entry = FindEntry(*key);
    if (!entry || FileFacts{sizes_[*entry], written_[*entry], created_[*entry]} != facts)
        return std::nullopt;
    kept_[*entry] = true;
    std::string_view reading = readings_.At(readingOf_[*entry]);
    FileVersionResult result;
    result.ok = true;
    for (std::wstring* text :
         {&result.fixedVersion, &result.fileVersionText, &result.productVersionText}) {
        const std::size_t end = std::min(reading.find('\0'), reading.size());
        *text = Utf8ToWide(reading.substr(0, end));
        reading.remove_prefix(std::min(end + 1, reading.size()));
    }
    return result;
}

void VersionMemory::Remember(const std::wstring& path, const FileFacts& facts,
                             const FileVersionResult& result) {
    if (!result.ok || !result.settled) return;
    const std::optional<std::string> key = Utf8Exactly(path);
    const std::optional<std::string> fixed = Utf8Exactly(result.fixedVersion);
    const std::optional<std::string> file = Utf8Exactly(result.fileVersionText);
    const std::optional<std::string> product = Utf8Exactly(result.productVersionText);
    if (!key || !fixed || !file || !product) return;
    const std::uint32_t reading = readings_.Add(*fixed + '\0' + *file + '\0' + *product);
    if (const std::optional<std::uint32_t> entry = FindEntry(*key)) {
        sizes_[*entry] = facts.size;
        written_[*entry] = facts.lastWriteTime;
        created_[*entry] = facts.creationTime;
        readingOf_[*entry] = reading;
        kept_[*entry] = true;
        return;
    }
    const auto [folder, name] = SplitPath(*key);
    folderOf_.push_back(folders_.Add(folder));
    names_.Add(name);
    readingOf_.push_back(reading);
    sizes_.push_back(facts.size);
    written_.push_back(facts.lastWriteTime);
    created_.push_back(facts.creationTime);
    kept_.push_back(true);
    IndexEntry(static_cast<std::uint32_t>(entries() - 1));
}

std::size_t VersionMemory::kept() const {
    return static_cast<std::size_t>(std::count(kept_.begin(), kept_.end(), true));
}

std::string VersionMemory::Encode(std::string_view reader, std::int64_t fullReadAt) const& {
    return EncodeVersionMemoryFile(TakeKept(reader, fullReadAt));
}

std::string VersionMemory::Encode(std::string_view reader, std::int64_t fullReadAt) && {
    VersionMemoryColumns kept = TakeKept(reader, fullReadAt);
    // Moved out and dropped: assigning an empty memory would let the texts
    // keep their buffers.
    { const VersionMemory released = std::move(*this); }
    return EncodeVersionMemoryFile(std::move(kept));
}

VersionMemoryColumns VersionMemory::TakeKept(std::string_view reader,
                                             std::int64_t fullReadAt) const {
    VersionMemoryColumns out;
    out.reader = reader;
    out.fullReadAt = fullReadAt;
    const std::size_t keep = kept();
    for (auto* numbers : {&out.folderOf, &out.readingOf}) numbers->reserve(keep);
    out.sizes.reserve(keep);
    out.written.reserve(keep);
    out.created.reserve(keep);
    // Only what the kept entries use, numbered anew in their order.
    std::vector<std::uint32_t> folderNumber(folders_.size(), kNone);
    std::vector<std::uint32_t> readingNumber(readings_.size(), kNone);
    std::uint32_t folders = 0, readings = 0;
    for (std::uint32_t entry = 0; entry < entries(); ++entry) {
        if (!kept_[entry]) continue;
        std::uint32_t& folder = folderNumber[folderOf_[entry]];
        if (folder == kNone) {
            folder = folders++;
            (out.folders += folders_.At(folderOf_[entry])) += '\0';
        }
        std::uint32_t& reading = readingNumber[readingOf_[entry]];
        if (reading == kNone) {
            reading = readings++;
            (out.readings += readings_.At(readingOf_[entry])) += '\0';
        }
        (out.names += names_.At(entry)) += '\0';
        out.folderOf.push_back(folder);
        out.readingOf.push_back(reading);
        out.sizes.push_back(sizes_[entry]);
        out.written.push_back(written_[entry]);
        out.created.push_back(created_[entry]);
    }
    return out;
}

std::size_t VersionMemory::HeldBytes() const {
    return folders_.HeldBytes() + names_.HeldBytes() + readings_.HeldBytes() + Held(folderOf_) +
           Held(readingOf_) + Held(sizes_) + Held(written_) + Held(created_) +
           kept_.capacity() / 8 + Held(entrySlots_);
}

std::optional<VersionMemory> VersionMemory::FromColumns(VersionMemoryColumns columns,
                                                        std::string& whyNot) {
    VersionMemory memory;
    if (!memory.folders_.Adopt(std::move(columns.folders)) ||
        !memory.names_.Adopt(std::move(columns.names)) ||
        !memory.readings_.Adopt(std::move(columns.readings))) {
        whyNot = "a list of texts is cut or repeats itself";
        return std::nullopt;
    }
    const std::size_t entries = memory.names_.size();
    if (columns.folderOf.size() != entries || columns.readingOf.size() != entries ||
        columns.sizes.size() != entries || columns.written.size() != entries ||
        columns.created.size() != entries) {
        whyNot = "its columns differ in length";
        return std::nullopt;
    }
    for (std::size_t entry = 0; entry < entries; ++entry)
        if (columns.folderOf[entry] >= memory.folders_.size() ||
            columns.readingOf[entry] >= memory.readings_.size()) {
            whyNot = "an entry names a folder or reading it lacks";
            return std::nullopt;
        }
    memory.folderOf_ = std::move(columns.folderOf);
    memory.readingOf_ = std::move(columns.readingOf);
    memory.sizes_ = std::move(columns.sizes);
    memory.written_ = std::move(columns.written);
    memory.created_ = std::move(columns.created);
    memory.kept_.assign(entries, false);
    memory.entrySlots_.assign(SlotsFor(entries), 0);
    for (std::uint32_t entry = 0; entry < entries; ++entry) {
        const auto same = [&](std::uint32_t other) {
            return memory.names_.At(other) == memory.names_.At(entry) &&
                   memory.folderOf_[other] == memory.folderOf_[entry];
        };
        if (!Place(memory.entrySlots_, memory.EntryHash(entry), entry, same)) {
            whyNot = "a file is in it twice";
            return std::nullopt;
        }
    }
    return memory;
}

DecodedVersionMemory DecodeVersionMemory(std::string_view bytes, std::string_view reader) {
    DecodedVersionMemory decoded;
    std::optional<VersionMemoryColumns> columns =
        DecodeVersionMemoryFile(bytes, reader, decoded.whyNot);
    if (!columns) return decoded;
    decoded.fullReadAt = columns->fullReadAt;
    decoded.memory = VersionMemory::FromColumns(std::move(*columns), decoded.whyNot);
    return decoded;
}

std::string WhyReadInFull(std::int64_t fullReadAt, std::int64_t now) {
    if (now < fullReadAt) return "the clock shows a time before the last full read";
    // In unsigned arithmetic: a time far in the past must not overflow.
    if (static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(fullReadAt) >=
        static_cast<std::uint64_t>(kFullReadIntervalMs))
        return "the last full read is a day old";
    return {};
}

VersionMemory* ActiveVersionMemory() { return ActiveMemory(); }

VersionMemory* SetActiveVersionMemory(VersionMemory* memory) {
    return std::exchange(ActiveMemory(), memory);
}

}  // namespace kelvra
