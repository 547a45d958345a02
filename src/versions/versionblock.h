#pragma once

// One file's version block as the system returns it, and the checks that
// keep every read of it inside its buffer. A version block comes from files
// the program does not control, so it is treated as hostile: its tree is
// checked against the buffer before the system walks it, and every value the
// system hands back is read only as far as it lies inside the buffer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "versions/file_helper.h"

namespace kelvra {

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
    // Reads the block of the file (FetchVersionBlock). A file without one
    // (or missing, or not readable, or one the system's reader failed on)
    // gives a block that is not present.
    static VersionBlock Load(const std::wstring& path);

    // The system reported a block of non-zero size.
    bool present() const noexcept { return present_; }
    // The block was read and the system's walk over it stays inside the
    // buffer (VersionBlockIsSound), so the system may walk it.
    bool readable() const noexcept { return readable_; }
    // What the file holds decided the outcome: false when the file could not
    // be opened, or the system failed on a block the walk had found.
    bool settled() const noexcept { return settled_; }
    // Why nothing of the file's own came back, when it did not.
    VersionReadFailure failure() const noexcept { return failure_; }

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
    bool settled_ = true;
    VersionReadFailure failure_ = VersionReadFailure::None;
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

}  // namespace kelvra
