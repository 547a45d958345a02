#pragma once
// The file that carries the version memory (version_memory.h) from one run
// to the next: MessagePack, written and read by nlohmann-json, as one map of
// the memory's columns: every folder once, each file's name, each distinct
// reading once (texts joined by NULs), the numbers of the entries in one
// array each, the identity of the reader that read them, and a checksum
// over all of it. Bytes of another program, another reader, or a damaged or
// cut file are told apart from a file to use, never read as one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

// A file this long or longer is no memory of ours: tens of thousands of
// executables take a few MiB.
inline constexpr std::uint64_t kMaxVersionMemoryBytes = 64ULL << 20;

// The fields of the file besides its format and checksum.
struct VersionMemoryColumns {
    std::string reader;           // who read what the file holds
    std::int64_t fullReadAt = 0;  // the last run that read every file
    // Texts joined by NULs, each ending in one: the folders with their
    // trailing separator, the entries' file names, the readings (three texts
    // each: fixed version, FileVersion, ProductVersion).
    std::string folders, names, readings;
    // One number per entry: its folder and reading (indexes into the texts
    // above), size, last-write and creation time.
    std::vector<std::uint32_t> folderOf, readingOf;
    std::vector<std::uint64_t> sizes;
    std::vector<std::int64_t> written, created;
};

// FNV-1a: every step is a bijection of the state for a given byte, so two
// inputs of the same length that differ in one byte never hash alike; the
// file's checksum relies on that. The memory's indexes hash with it too.
inline constexpr std::uint64_t kFnvOffset = 14695981039346656037ULL;
std::uint64_t Fnv(std::string_view bytes, std::uint64_t hash = kFnvOffset);
// The number's eight bytes, lowest first.
std::uint64_t FnvNumber(std::uint64_t value, std::uint64_t hash);

// The file's bytes. The columns go as they are written, each freed on the
// way, so that they and the file being made are not held twice at once.
std::string EncodeVersionMemoryFile(VersionMemoryColumns columns);

// The columns of a whole file of this format, with its checksum holding and
// written by this reader; otherwise none, and whyNot says why.
std::optional<VersionMemoryColumns> DecodeVersionMemoryFile(std::string_view bytes,
                                                            std::string_view reader,
                                                            std::string& whyNot);

}  // namespace kelvra
