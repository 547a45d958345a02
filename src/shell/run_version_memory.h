#pragma once
// A run's version memory (versions/version_memory.h): the version reads it
// takes over from the runs before it, from a file in the data folder read at
// the start of the run and written at its end.

#include <cstdint>
#include <optional>
#include <string>

#include "common/scope.h"
#include "versions/version_memory.h"

namespace kelvra {

// How a run uses the version memory of earlier runs.
enum class VersionMemoryUse {
    // Every file read; the file of remembered reads neither read nor
    // written (kvscan unless asked).
    Off,
    // Every file read, and the file written afresh: a user who asks for a
    // run is given a fresh read ("Run now").
    Refresh,
    // Only new and changed files read and the file brought up to date;
    // every file read all the same when the file is missing, of no use, or
    // the last full read is a day old (the hourly run, kvscan --incremental).
    Incremental,
};

// In the data folder. It holds paths, sizes, times and version texts of
// executables, nothing secret, and may be deleted at any time.
inline constexpr wchar_t kVersionMemoryFileName[] = L"version-reads.cache";

// Who read what the file holds: the program's version and the number of its
// reading rules. A file of another reader is read again in full.
std::string VersionReaderIdentity();

// For the length of one run: reads the file from the data folder, writes one
// log line that says whether the run reads every file or only what changed
// (and why), and lends the memory to executable discovery until it ends.
class RunVersionMemory {
  public:
    explicit RunVersionMemory(VersionMemoryUse use);
    RunVersionMemory(const RunVersionMemory&) = delete;
    RunVersionMemory& operator=(const RunVersionMemory&) = delete;

    // Writes the files this run examined, whole or not at all, and gives
    // the memory up. A failure (a read-only or full data folder) is logged
    // and the run goes on: its next run simply reads every file.
    void Save();

  private:
    std::wstring path_;
    std::optional<VersionMemory> memory_;
    std::int64_t fullReadAt_ = 0;
    // Lent to executable discovery; given up before the memory goes.
    std::optional<ScopedHook<&SetActiveVersionMemory>> lent_;
};

}  // namespace kelvra
