#pragma once
// What reading the version resource of each executable gave, remembered from
// one run to the next. A file is known by what a folder listing tells of it
// without opening it: its full path, size, last-write and creation time.
// While all four stay the same the file is taken to be the one read before
// and is not opened again; any change, and it is read as if never seen.
//
// Tens of thousands of executables are remembered in the memory of one run,
// so they are held in a few columns rather than an object each: every folder
// once, each file's name, each distinct reading (fixed version, FileVersion
// and ProductVersion texts) once, and the numbers in arrays. The file that
// carries them from run to run holds the same columns
// (version_memory_file.h).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/files.h"
#include "versions/fileversion.h"
#include "versions/version_memory_file.h"

namespace kelvra {

// Raise whenever a change to the reading of version resources may give
// another outcome for the same file: every file is then read again once.
inline constexpr int kVersionReadingRules = 1;

// A run reads every file at least this often, whatever its memory says.
inline constexpr std::int64_t kFullReadIntervalMs = 24LL * 60 * 60 * 1000;

// Texts kept one after another in one string, each ending in a NUL; an item
// may be made of several such parts. Optionally found again by content.
class TextColumn {
  public:
    explicit TextColumn(std::size_t partsPerItem = 1, bool indexed = false)
        : partsPerItem_(partsPerItem), indexed_(indexed) {}

    std::size_t size() const { return starts_.size(); }
    // The item, its parts joined by NULs, without the last NUL.
    std::string_view At(std::uint32_t item) const;
    // Appends the item; with an index, an equal item already there is used
    // instead. Returns its number.
    std::uint32_t Add(std::string_view item);
    std::optional<std::uint32_t> Find(std::string_view item) const;
    // The joined bytes, as the file holds them.
    const std::string& bytes() const { return bytes_; }
    // Takes joined bytes as the file holds them; false when they do not end
    // an item at their end or, with an index, hold an item twice.
    bool Adopt(std::string bytes);
    std::size_t HeldBytes() const;

  private:
    void IndexLast();
    void Rehash(std::size_t slots);

    std::size_t partsPerItem_;
    bool indexed_;
    std::string bytes_;
    std::vector<std::uint32_t> starts_;
    std::vector<std::uint32_t> slots_;  // item + 1 by hash; 0: free
};

class VersionMemory {
  public:
    // The outcome remembered for the file, when its facts are the ones it
    // was read with. A file found stays in the memory for the next run.
    std::optional<FileVersionResult> Recall(const std::wstring& path, const FileFacts& facts);

    // Remembers what reading the file gave, replacing what was remembered of
    // it. An outcome that is not the file's own (not ok, not settled) is not
    // remembered, nor a path or text that would not come back unchanged from
    // UTF-8 (a lone surrogate): such a file is read again the next time.
    void Remember(const std::wstring& path, const FileFacts& facts,
                  const FileVersionResult& result);

    std::size_t entries() const { return sizes_.size(); }
    // The files recalled or remembered since the memory was made: those the
    // next file holds.
    std::size_t kept() const;

    // The file's bytes: the kept files, the identity of the reader that read
    // them and the time of the last run that read every file.
    std::string Encode(std::string_view reader, std::int64_t fullReadAt) const&;
    // The same, giving the memory up as soon as the kept entries are taken
    // out of it, so that it and the file being made are not held at once.
    std::string Encode(std::string_view reader, std::int64_t fullReadAt) &&;

    // Bytes held by the columns and indexes, for measurements.
    std::size_t HeldBytes() const;

    // The memory that a file's columns hold, none when they do not make one
    // (a list of texts cut or repeating itself, columns of unequal length, a
    // folder or reading named that is not there, a file twice); whyNot then
    // says which.
    static std::optional<VersionMemory> FromColumns(VersionMemoryColumns columns,
                                                    std::string& whyNot);

  private:
    // The kept entries as the file's columns, only the folders and readings
    // they use, numbered anew in their order.
    VersionMemoryColumns TakeKept(std::string_view reader, std::int64_t fullReadAt) const;
    std::optional<std::uint32_t> FindEntry(std::string_view path) const;
    void IndexEntry(std::uint32_t entry);
    std::uint64_t EntryHash(std::uint32_t entry) const;

    TextColumn folders_{1, true};   // each folder once, with its trailing separator
    TextColumn names_;              // each entry's file name
    TextColumn readings_{3, true};  // each distinct reading once: its three texts
    std::vector<std::uint32_t> folderOf_, readingOf_;
    std::vector<std::uint64_t> sizes_;
    std::vector<std::int64_t> written_, created_;
    std::vector<bool> kept_;
    std::vector<std::uint32_t> entrySlots_;  // entry + 1 by the hash of its path; 0: free
};

struct DecodedVersionMemory {
    std::optional<VersionMemory> memory;  // none: the bytes are no memory of this reader's
    std::int64_t fullReadAt = 0;
    std::string whyNot;  // why there is none
};

// The memory in bytes that Encode wrote for this reader. Bytes of another
// reader, another program, a damaged or cut file give none, never a wrong
// outcome.
DecodedVersionMemory DecodeVersionMemory(std::string_view bytes, std::string_view reader);

// Why a run must read every file although it has a memory: its last full
// read is a day old, or the clock now shows a time before it. Empty when it
// may read only what changed.
std::string WhyReadInFull(std::int64_t fullReadAt, std::int64_t now);

// The memory executable discovery consults during a run, or none: then every
// file is read.
VersionMemory* ActiveVersionMemory();
// Installs one (nullptr: none); returns the one installed before.
VersionMemory* SetActiveVersionMemory(VersionMemory* memory);

}  // namespace kelvra
