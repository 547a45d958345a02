#pragma once

// The version resource of an executable: its fixed file version and the
// string table of its first translation, read through the system's
// version-information functions, which read a file on disk without loading
// it. Executable discovery turns three of these texts into candidates.
//
// A version block comes from files the program does not control, so it is
// treated as hostile: its tree is checked against the buffer before the
// system walks it, and every value the system hands back is read only as far
// as it lies inside the buffer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

// The ten keys of the string table, in the order of TAppVersionInfo's fields.
// "LegalCopyRight" and "LegalTradeMark" are spelt so on purpose: the lookup
// of the system ignores case, and these are the names the program asks for.
inline constexpr std::array<std::wstring_view, 10> kVersionInfoKeys = {
    L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",   L"LegalCopyRight",
    L"LegalTradeMark", L"OriginalFileName", L"ProductName", L"ProductVersion", L"Comments",
};

// The string table of one file, one field per key. Only FileVersion and
// ProductVersion are used further.
struct TAppVersionInfo {
    std::wstring CompanyName;
    std::wstring FileDescription;
    std::wstring FileVersion;
    std::wstring InternalName;
    std::wstring LegalCopyRight;
    std::wstring LegalTradeMark;
    std::wstring OriginalFileName;
    std::wstring ProductName;
    std::wstring ProductVersion;
    std::wstring Comments;

    // The field of kVersionInfoKeys[index]; index below 10.
    std::wstring& Field(std::size_t index);
};

// What ReadFileVersions found. With ok false the texts are not to be used.
struct FileVersionResult {
    bool ok = false;
    std::wstring fixedVersion;        // "1.2.3.4", or empty
    std::wstring fileVersionText;     // the "FileVersion" string as stored
    std::wstring productVersionText;  // the "ProductVersion" string as stored
};

// The three texts of one executable. A file without a version resource, a
// missing or unreadable file gives ok with three empty texts; ok is false
// only when reading raised an error (the trace log failing, memory running
// out).
FileVersionResult ReadFileVersions(const std::wstring& path);

// The fixed file version as four unsigned decimal numbers joined by full
// stops; empty when the file has no version block or the block holds no
// readable fixed record. Logs "GetVersion2 [path] A" and, when there was a
// block, "GetVersion2 [path] B".
std::wstring GetVersion2(const std::wstring& path);

// The ten strings of the first translation; logs "GetAppVersionInfo [path] A"
// and "GetAppVersionInfo [path] B".
TAppVersionInfo GetAppVersionInfo(const std::wstring& path);

// The memory a version block is read into, zero-filled. The system writes
// into it as well: for a block in the 16-bit layout, VerQueryValueW converts
// each text it returns into the room after the block.
class VersionBufferMemory {
  public:
    virtual ~VersionBufferMemory() = default;
    virtual std::span<std::byte> Bytes() = 0;
};

// Gives zero-filled memory of exactly the size asked for.
using VersionBufferAllocator =
    std::function<std::unique_ptr<VersionBufferMemory>(std::size_t size)>;

// Installs the allocator of version buffers, so that a test can put each
// buffer in front of a guard; an empty one restores ordinary heap memory.
// Returns the one installed before (empty for the ordinary one).
VersionBufferAllocator SetVersionBufferAllocator(VersionBufferAllocator allocator);

// The largest buffer a version block is given. A block's tree is at most
// 64 KiB (its length is a 16-bit word); a file whose resource needs more
// than this is lying about it, and its block is not read.
inline constexpr std::size_t kMaxVersionBufferSize = std::size_t{1} << 20;

// One file's version block as the system returns it.
class VersionBlock {
  public:
    // Reads the block of the file. A file without one (or missing, or not
    // readable) gives a block that is not present.
    static VersionBlock Load(const std::wstring& path);

    // The system reported a block of non-zero size.
    bool present() const noexcept { return present_; }
    // The block was read and the system's walk over it stays inside the
    // buffer (VersionBlockIsSound), so the system may walk it.
    bool readable() const noexcept { return readable_; }

    // The file-version words of the fixed record: most and least significant.
    struct FixedWords {
        std::uint32_t ms = 0;
        std::uint32_t ls = 0;
    };
    std::optional<FixedWords> FixedFileVersion();
    // The first entry of "\VarFileInfo\Translation": language in the low 16
    // bits, code page in the high 16 bits.
    std::optional<std::uint32_t> FirstTranslation();
    // The text value at a sub-block path such as
    // "\StringFileInfo\040904B0\FileVersion".
    std::optional<std::wstring> StringValue(std::wstring_view subBlock);

  private:
    void Allocate(std::size_t size);
    void MakeSpareRoom();

    bool present_ = false;
    bool readable_ = false;
    std::unique_ptr<VersionBufferMemory> memory_;
    std::span<std::byte> data_;
};

// One string-table value of the block: the value of the key in the table of
// the first translation. Empty when the block is not readable, has no
// translation table, or the table lacks the key; there is no fall-back
// language.
std::wstring ReadVersionString(VersionBlock& block, std::wstring_view key);

// ---- the checks and formats behind VersionBlock (portable, tested natively) --

// Whether the system's walk over the block stays inside the buffer: the
// root's length fits the buffer, every node the walk reaches fits its parent
// and its key ends inside it, and the value lengths of the nodes whose
// children the walk finds behind their value (the root, "StringFileInfo",
// its string tables, "VarFileInfo") lead to such nodes. The walk never looks
// below a string or a translation entry, so neither what lies there nor their
// value length matters. Both layouts are understood: the 32-bit one of PE
// files (UTF-16 keys, a type word) and the 16-bit one of older executables
// (ANSI keys, no type word).
bool VersionBlockIsSound(std::span<const std::byte> block);

// Whether the block is in the 16-bit layout; the buffer holds at least five
// bytes.
bool IsVersionBlock16(std::span<const std::byte> block);

// The buffer a sound block in the 16-bit layout needs, given its root length.
// VerQueryValueW converts the text at offset pos into the block's length plus
// 2 * pos, reading to the text's first zero byte: with the bytes after the
// block cleared, every copy ends by three times the block's length plus a
// few bytes.
std::size_t BufferSizeFor16BitBlock(std::size_t rootLength);

// "A.B.C.D" from the high and low halves of the two file-version words.
std::wstring FormatFixedVersion(std::uint32_t ms, std::uint32_t ls);

// The sub-block path of a key in the string table of a translation entry:
// language as four upper-case hex digits, then the code page likewise.
std::wstring StringTablePath(std::uint32_t translation, std::wstring_view key);

// The part of [value, value + bytes) that lies inside the buffer; nothing
// when value itself lies outside it.
std::optional<std::span<const std::byte>> SpanInsideBuffer(std::span<const std::byte> buffer,
                                                           const void* value, std::size_t bytes);

// The fixed record's file-version words, when the record lies inside the
// buffer, is as long as the record the system defines and carries its
// signature 0xFEEF04BD.
std::optional<VersionBlock::FixedWords> FixedWordsFromRecord(std::span<const std::byte> buffer,
                                                             const void* record,
                                                             std::size_t length);

// The UTF-16 text at value: at most `chars` units, cut at the end of the
// buffer and at its first NUL, whichever comes first.
std::wstring TextFromValue(std::span<const std::byte> buffer, const void* value, std::size_t chars);

// The text a string query of the system returned at value, read as far as its
// first NUL but never past the node that holds it, nor past the buffer; the
// length the query reports is not used. In the 16-bit layout value lies in
// the room after the block, in the copy of the node's text.
std::wstring TextOfQueriedValue(std::span<const std::byte> buffer, const void* value);

// The first translation entry at value, when its four bytes lie inside the
// node that holds them.
std::optional<std::uint32_t> FirstTranslationOfValue(std::span<const std::byte> buffer,
                                                     const void* value);

// ---- the resource directory of an executable (portable, tested natively) ----
//
// The system finds a version resource by mapping the file as an image and
// following the offsets of its resource directory; some implementations do
// that without bounds checks and fault on a damaged file. So the way to the
// version resource is walked first, on the file's bytes, and a file whose
// directory points outside the file is not handed to the system at all.

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
// CheckNeVersionResource.
PeResourceVerdict CheckExecutableVersionResource(std::uint64_t fileSize, const ReadFileAt& readAt);

// ---- replaceable reader, so that discovery can be tested without files ----

class FileVersionReader {
  public:
    virtual ~FileVersionReader() = default;
    virtual FileVersionResult Read(const std::wstring& path) = 0;
};

// The reader that executable discovery uses: the installed one, or the
// platform reader (ReadFileVersions; in the native build the system part is a
// stand-in that finds no version blocks).
std::shared_ptr<FileVersionReader> CurrentFileVersionReader();

// Installs a reader; an empty pointer restores the platform reader. Returns
// the reader installed before (empty for the platform reader).
std::shared_ptr<FileVersionReader> SetFileVersionReader(std::shared_ptr<FileVersionReader> reader);

// ---- system rim (fileversion_win32.cpp / fileversion_native.cpp) ----------

namespace version_platform {
// The verdict on the file's resource directory; Unsound also when the file
// cannot be opened for reading.
PeResourceVerdict CheckFile(const std::wstring& path);
// GetFileVersionInfoSizeW: the size of the buffer the block needs, 0 when
// there is none; handle receives the value to pass on.
std::uint32_t InfoSize(const std::wstring& path, std::uint32_t& handle);
// GetFileVersionInfoW into the buffer.
bool LoadInfo(const std::wstring& path, std::uint32_t handle, std::span<std::byte> buffer);
// VerQueryValueW: the pointer and length as the system reports them, unchecked.
bool QueryValue(std::span<std::byte> buffer, const std::wstring& subBlock, const void*& value,
                std::uint32_t& length);
}  // namespace version_platform

}  // namespace kelvra
