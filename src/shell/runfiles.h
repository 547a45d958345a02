#pragma once
// Naming, writing and pruning of the files an inventory run leaves in the
// data folder: "dump_" + profile + "_" + N with ".txt", ".xml" and ".html".

#include <string>
#include <string_view>
#include <vector>

#include "common/files.h"

namespace kelvra {

// The name before + N + after, with N in decimal, for the N one past the
// highest that such a file in the folder carries (letter case aside), or 0
// when there is none; never a name that exists. The placeholder is given as
// the point between the two halves, so a "%d" inside a profile name stays
// what it is.
std::wstring FindFreeFileName(std::wstring_view before, std::wstring_view after);

// The profile name as it may stand inside a file name: the characters
// \ / : * ? " < > | and control characters become "_", so that the run's
// files always land inside the data folder. Other names come out unchanged.
std::wstring FileNameSafeProfile(std::wstring_view profile);

// A run file written while the run renders: its lines, each followed by
// CR LF, in the ANSI code page, without a byte-order mark. The lines go to
// the file's temporary name as they come, converted in batches, so that a
// report of tens of megabytes is never held in memory; the file takes its
// name only at Commit (see PendingFile). Throws FileError.
class RunFileWriter {
  public:
    explicit RunFileWriter(std::wstring path);

    void AppendLine(std::wstring_view line);
    void AppendLines(const std::vector<std::wstring>& lines);
    // Appends lines already converted (RunFileBytes).
    void AppendBytes(std::string_view bytes);

    // Writes and flushes what is pending; the file keeps its temporary name.
    void Finish();
    // Finishes and puts the file in its place under its name.
    void Commit();

  private:
    void Convert();

    std::wstring pending_;  // lines with their CR LF, not yet converted
    PendingFile file_;
};

// The lines, each followed by CR LF, in the ANSI code page: their bytes in a
// run file.
std::string RunFileBytes(const std::vector<std::wstring>& lines);

// The path with its extension (from the last "." of the file name) replaced.
std::wstring ChangeFileExt(std::wstring_view path, std::wstring_view extension);

// Keeps the newest `keep` run file sets of the profile in the folder (newest
// by the payload file's last-write time) and deletes the older sets, never
// the one named by `current`. Failures to delete are ignored.
inline constexpr std::size_t kRunFileSetsKept = 48;
void PruneRunFileSets(const std::wstring& folder, std::wstring_view safeProfile,
                      const std::wstring& currentPayload, std::size_t keep = kRunFileSetsKept);

}  // namespace kelvra
