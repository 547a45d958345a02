#include "versions/version_memory_file.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

namespace kelvra {
namespace {

// The file's first field, so that a file of anything else is told apart.
constexpr char kFormat[] = "kelvra version reads";
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

// Every field of the file, as it is written and read.
struct FileFields {
    std::string format;
    VersionMemoryColumns columns;
    std::uint64_t checksum = 0;
};

// Over everything but the checksum itself, each text after its length, so
// that bytes moved from one field to the next change it too.
std::uint64_t ChecksumOf(const std::string& format, const VersionMemoryColumns& columns) {
    std::uint64_t hash = kFnvOffset;
    for (const std::string* text :
         {&format, &columns.reader, &columns.folders, &columns.names, &columns.readings})
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

std::string EncodeFields(FileFields fields) {
    VersionMemoryColumns& columns = fields.columns;
    const std::uint64_t checksum = ChecksumOf(fields.format, columns);
    // What the file can take at most: every text with a header of five
    // bytes, every number in nine, the field names. The file grows into it
    // without ever being copied on the way.
    const std::size_t numbers = columns.folderOf.size() + columns.readingOf.size() +
                                columns.sizes.size() + columns.written.size() +
                                columns.created.size() + 2;
    const std::size_t mostBytes = fields.format.size() + columns.reader.size() +
                                  columns.folders.size() + columns.names.size() +
                                  columns.readings.size() + 9 * numbers + 256;
    // In this order: the format first, so that a file of something else is
    // known as such however it ends.
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    document["format"] = std::move(fields.format);
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

    ColumnsReader(FileFields& fields, std::size_t inputBytes)
        : fields_(fields), columns_(fields.columns), inputBytes_(inputBytes) {}

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
            case Field::Format: target = &fields_.format; break;
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
                fields_.checksum = bits;
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

    FileFields& fields_;
    VersionMemoryColumns& columns_;
    std::size_t inputBytes_;
    int depth_ = 0;
    bool inArray_ = false;
    bool finished_ = false;
    Field field_ = Field::None;
    bool seen_[kFieldCount] = {};
};

}  // namespace

std::uint64_t Fnv(std::string_view bytes, std::uint64_t hash) {
    for (const char byte : bytes) hash = (hash ^ static_cast<unsigned char>(byte)) * kFnvPrime;
    return hash;
}

std::uint64_t FnvNumber(std::uint64_t value, std::uint64_t hash) {
    for (int i = 0; i < 8; ++i, value >>= 8) hash = (hash ^ (value & 0xFF)) * kFnvPrime;
    return hash;
}

std::string EncodeVersionMemoryFile(VersionMemoryColumns columns) {
    return EncodeFields({kFormat, std::move(columns), 0});
}

std::optional<VersionMemoryColumns> DecodeVersionMemoryFile(std::string_view bytes,
                                                            std::string_view reader,
                                                            std::string& whyNot) {
    if (bytes.size() >= kMaxVersionMemoryBytes) {
        whyNot = "it is too long";
        return std::nullopt;
    }
    FileFields fields;
    ColumnsReader events(fields, bytes.size());
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
        whyNot =
            fields.format == kFormat ? "it is cut or damaged" : "it is not a file of version reads";
        return std::nullopt;
    }
    if (fields.format != kFormat) {
        whyNot = "it is not a file of version reads";
        return std::nullopt;
    }
    if (ChecksumOf(fields.format, fields.columns) != fields.checksum) {
        whyNot = "its checksum does not match";
        return std::nullopt;
    }
    if (fields.columns.reader != reader) {
        // Not echoed: the file's texts go nowhere but into the memory.
        whyNot = "it was written by another program version or reading rules";
        return std::nullopt;
    }
    return std::move(fields.columns);
}

}  // namespace kelvra
