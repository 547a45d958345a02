#include "versions/version_memory.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "common/utf8.h"

namespace kelvra {
namespace {

// The file's first field, so that a file of anything else is told apart.
constexpr char kFormat[] = "kelvra version reads";
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// ---- hashing and the open-addressing indexes --------------------------------

constexpr std::uint64_t kFnvOffset = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

// FNV-1a: every step is a bijection of the state for a given byte, so two
// inputs of the same length that differ in one byte never hash alike; the
// checksum of the file relies on that.
std::uint64_t Fnv(std::string_view bytes, std::uint64_t hash = kFnvOffset) {
    for (const char byte : bytes) hash = (hash ^ static_cast<unsigned char>(byte)) * kFnvPrime;
    return hash;
}

std::uint64_t FnvNumber(std::uint64_t value, std::uint64_t hash) {
    for (int i = 0; i < 8; ++i, value >>= 8) hash = (hash ^ (value & 0xFF)) * kFnvPrime;
    return hash;
}

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

// ---- the file ---------------------------------------------------------------

// The file's fields, as they are written and read: texts joined by NULs and
// one array per number of an entry.
struct Columns {
    std::string format, reader;
    std::int64_t fullReadAt = 0;
    std::string folders, names, readings;
    std::vector<std::uint32_t> folderOf, readingOf;
    std::vector<std::uint64_t> sizes;
    std::vector<std::int64_t> written, created;
    std::uint64_t checksum = 0;
};

// Over everything but the checksum itself, each text after its length, so
// that bytes moved from one field to the next change it too.
std::uint64_t ChecksumOf(const Columns& columns) {
    std::uint64_t hash = kFnvOffset;
    for (const std::string* text :
         {&columns.format, &columns.reader, &columns.folders, &columns.names, &columns.readings})
        hash = Fnv(*text, FnvNumber(text->size(), hash));
    hash = FnvNumber(static_cast<std::uint64_t>(columns.fullReadAt), hash);
    for (const auto* numbers : {&columns.folderOf, &columns.readingOf}) {
        hash = FnvNumber(numbers->size(), hash);
        for (const std::uint32_t number : *numbers) hash = FnvNumber(number, hash);
    }
    hash = FnvNumber(columns.sizes.size(), hash);
    for (const std::uint64_t number : columns.sizes) hash = FnvNumber(number, hash);
    for (const auto* numbers : {&columns.written, &columns.created}) {
        hash = FnvNumber(numbers->size(), hash);
        for (const std::int64_t number : *numbers)
            hash = FnvNumber(static_cast<std::uint64_t>(number), hash);
    }
    return hash;
}

enum class Field {
    None,
    Format,
    Reader,
    FullReadAt,
    Folders,
    Names,
    Readings,
    FolderOf,
    ReadingOf,
    Sizes,
    Written,
    Created,
    Checksum,
};
constexpr int kFieldCount = 12;

struct FieldName {
    const char* name;
    Field field;
};
constexpr FieldName kFieldNames[kFieldCount] = {
    {"format", Field::Format},   {"reader", Field::Reader},     {"fullReadAt", Field::FullReadAt},
    {"folders", Field::Folders}, {"names", Field::Names},       {"readings", Field::Readings},
    {"folder", Field::FolderOf}, {"reading", Field::ReadingOf}, {"size", Field::Sizes},
    {"written", Field::Written}, {"created", Field::Created},   {"checksum", Field::Checksum},
};

bool IsArrayField(Field field) {
    return field == Field::FolderOf || field == Field::ReadingOf || field == Field::Sizes ||
           field == Field::Written || field == Field::Created;
}

std::string EncodeColumns(Columns columns) {
    const std::uint64_t checksum = ChecksumOf(columns);
    // What the file can take at most: every text with a header of five
    // bytes, every number in nine, the field names. The file grows into it
    // without ever being copied on the way.
    const std::size_t numbers = columns.folderOf.size() + columns.readingOf.size() +
                                columns.sizes.size() + columns.written.size() +
                                columns.created.size() + 2;
    const std::size_t mostBytes = columns.format.size() + columns.reader.size() +
                                  columns.folders.size() + columns.names.size() +
                                  columns.readings.size() + 9 * numbers + 256;
    // In this order: the format first, so that a file of something else is
    // known as such however it ends.
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    document["format"] = std::move(columns.format);
    document["reader"] = std::move(columns.reader);
    document["fullReadAt"] = columns.fullReadAt;
    document["folders"] = std::move(columns.folders);
    document["names"] = std::move(columns.names);
    document["readings"] = std::move(columns.readings);
    // One array at a time becomes the document's, each freed as it goes.
    document["folder"] = std::exchange(columns.folderOf, {});
    document["reading"] = std::exchange(columns.readingOf, {});
    document["size"] = std::exchange(columns.sizes, {});
    document["written"] = std::exchange(columns.written, {});
    document["created"] = std::exchange(columns.created, {});
    document["checksum"] = checksum;
    std::string bytes;
    bytes.reserve(mostBytes);
    nlohmann::ordered_json::to_msgpack(document, bytes);
    return bytes;
}

// Events of the MessagePack reader, taken straight into the columns: no
// document of the whole file is built. Anything but the one map of the
// fields above, each once, with its own kind of value, stops the reading.
class ColumnsReader {
  public:
    using json = nlohmann::json;

    ColumnsReader(Columns& columns, std::size_t inputBytes)
        : columns_(columns), inputBytes_(inputBytes) {}

    bool null() { return false; }
    bool boolean(bool) { return false; }
    bool number_float(json::number_float_t, const json::string_t&) { return false; }
    bool binary(json::binary_t&) { return false; }
    bool number_unsigned(json::number_unsigned_t value) { return Number(value, false); }
    bool number_integer(json::number_integer_t value) {
        return Number(static_cast<std::uint64_t>(value), value < 0);
    }

    bool string(json::string_t& value) {
        if (inArray_ || depth_ != 1) return false;
        std::string* target = nullptr;
        switch (field_) {
            case Field::Format: target = &columns_.format; break;
            case Field::Reader: target = &columns_.reader; break;
            case Field::Folders: target = &columns_.folders; break;
            case Field::Names: target = &columns_.names; break;
            case Field::Readings: target = &columns_.readings; break;
            default: return false;
        }
        *target = std::move(value);
        field_ = Field::None;
        return true;
    }

    bool start_object(std::size_t) {
        if (depth_ != 0 || finished_) return false;
        depth_ = 1;
        return true;
    }
    bool key(json::string_t& name) {
        if (depth_ != 1 || inArray_ || field_ != Field::None) return false;
        for (int i = 0; i < kFieldCount; ++i)
            if (name == kFieldNames[i].name) {
                if (seen_[i]) return false;
                seen_[i] = true;
                field_ = kFieldNames[i].field;
                return true;
            }
        return false;
    }
    bool end_object() {
        if (depth_ != 1 || inArray_ || field_ != Field::None) return false;
        depth_ = 0;
        finished_ = true;
        return true;
    }
    bool start_array(std::size_t elements) {
        if (depth_ != 1 || inArray_ || !IsArrayField(field_)) return false;
        // A count is declared ahead; every element takes a byte at least.
        if (elements != static_cast<std::size_t>(-1)) {
            if (elements > inputBytes_) return false;
            Reserve(elements);
        }
        inArray_ = true;
        return true;
    }
    bool end_array() {
        if (!inArray_) return false;
        inArray_ = false;
        field_ = Field::None;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    bool complete() const {
        return finished_ &&
               std::all_of(std::begin(seen_), std::end(seen_), [](bool s) { return s; });
    }

  private:
    void Reserve(std::size_t elements) {
        switch (field_) {
            case Field::FolderOf: columns_.folderOf.reserve(elements); break;
            case Field::ReadingOf: columns_.readingOf.reserve(elements); break;
            case Field::Sizes: columns_.sizes.reserve(elements); break;
            case Field::Written: columns_.written.reserve(elements); break;
            case Field::Created: columns_.created.reserve(elements); break;
            default: break;
        }
    }

    // bits: the value's 64 bits, a two's complement when negative.
    bool Number(std::uint64_t bits, bool negative) {
        constexpr auto kMaxSigned =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        const bool fitsSigned = negative || bits <= kMaxSigned;
        const bool fitsIndex = !negative && bits <= kNone - 1;
        if (depth_ != 1) return false;
        if (!inArray_) {
            if (field_ == Field::FullReadAt && fitsSigned)
                columns_.fullReadAt = static_cast<std::int64_t>(bits);
            else if (field_ == Field::Checksum && !negative)
                columns_.checksum = bits;
            else
                return false;
            field_ = Field::None;
            return true;
        }
        switch (field_) {
            case Field::FolderOf:
                if (!fitsIndex) return false;
                columns_.folderOf.push_back(static_cast<std::uint32_t>(bits));
                return true;
            case Field::ReadingOf:
                if (!fitsIndex) return false;
                columns_.readingOf.push_back(static_cast<std::uint32_t>(bits));
                return true;
            case Field::Sizes:
                if (negative) return false;
                columns_.sizes.push_back(bits);
                return true;
            case Field::Written:
            case Field::Created:
                if (!fitsSigned) return false;
                (field_ == Field::Written ? columns_.written : columns_.created)
                    .push_back(static_cast<std::int64_t>(bits));
                return true;
            default: return false;
        }
    }

    Columns& columns_;
    std::size_t inputBytes_;
    int depth_ = 0;
    bool inArray_ = false;
    bool finished_ = false;
    Field field_ = Field::None;
    bool seen_[kFieldCount] = {};
};

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

struct VersionMemory::KeptColumns {
    Columns columns;
};

std::string VersionMemory::Encode(std::string_view reader, std::int64_t fullReadAt) const& {
    return EncodeColumns(std::move(TakeKept(reader, fullReadAt).columns));
}

std::string VersionMemory::Encode(std::string_view reader, std::int64_t fullReadAt) && {
    KeptColumns kept = TakeKept(reader, fullReadAt);
    // Moved out and dropped: assigning an empty memory would let the texts
    // keep their buffers.
    { const VersionMemory released = std::move(*this); }
    return EncodeColumns(std::move(kept.columns));
}

VersionMemory::KeptColumns VersionMemory::TakeKept(std::string_view reader,
                                                   std::int64_t fullReadAt) const {
    KeptColumns taken;
    Columns& out = taken.columns;
    out.format = kFormat;
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
    return taken;
}

std::size_t VersionMemory::HeldBytes() const {
    return folders_.HeldBytes() + names_.HeldBytes() + readings_.HeldBytes() + Held(folderOf_) +
           Held(readingOf_) + Held(sizes_) + Held(written_) + Held(created_) +
           kept_.capacity() / 8 + Held(entrySlots_);
}

// Builds a memory from the columns of a file whose checksum held.
struct VersionMemoryDecoder {
    static const char* Build(Columns& columns, VersionMemory& memory) {
        if (!memory.folders_.Adopt(std::move(columns.folders)) ||
            !memory.names_.Adopt(std::move(columns.names)) ||
            !memory.readings_.Adopt(std::move(columns.readings)))
            return "a list of texts is cut or repeats itself";
        const std::size_t entries = memory.names_.size();
        if (columns.folderOf.size() != entries || columns.readingOf.size() != entries ||
            columns.sizes.size() != entries || columns.written.size() != entries ||
            columns.created.size() != entries)
            return "its columns differ in length";
        for (std::size_t entry = 0; entry < entries; ++entry)
            if (columns.folderOf[entry] >= memory.folders_.size() ||
                columns.readingOf[entry] >= memory.readings_.size())
                return "an entry names a folder or reading it lacks";
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
            if (!Place(memory.entrySlots_, memory.EntryHash(entry), entry, same))
                return "a file is in it twice";
        }
        return nullptr;
    }
};

DecodedVersionMemory DecodeVersionMemory(std::string_view bytes, std::string_view reader) {
    DecodedVersionMemory decoded;
    if (bytes.size() >= kMaxVersionMemoryBytes) {
        decoded.whyNot = "it is too long";
        return decoded;
    }
    Columns columns;
    ColumnsReader events(columns, bytes.size());
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(bytes.data(), bytes.data() + bytes.size(), &events,
                                           nlohmann::json::input_format_t::msgpack);
    } catch (const std::exception&) {
        parsed = false;
    }
    // The format first: a file of something else is told as such, whatever
    // else is wrong with it.
    if (!parsed || !events.complete()) {
        decoded.whyNot = columns.format == kFormat ? "it is cut or damaged"
                                                   : "it is not a file of version reads";
        return decoded;
    }
    if (columns.format != kFormat) {
        decoded.whyNot = "it is not a file of version reads";
        return decoded;
    }
    if (ChecksumOf(columns) != columns.checksum) {
        decoded.whyNot = "its checksum does not match";
        return decoded;
    }
    if (columns.reader != reader) {
        // Not echoed: the file's texts go nowhere but into the memory.
        decoded.whyNot = "it was written by another program version or reading rules";
        return decoded;
    }
    decoded.fullReadAt = columns.fullReadAt;
    VersionMemory memory;
    if (const char* whyNot = VersionMemoryDecoder::Build(columns, memory)) {
        decoded.whyNot = whyNot;
        return decoded;
    }
    decoded.memory = std::move(memory);
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
