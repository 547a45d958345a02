#pragma once
// The file work of a run that may crash or hang the process that does it,
// done by the helper process (common/helper_process.h), and the time it may
// take.
//
// - The system's version reader. A file whose version block the program
//   cannot take straight from the file with certainty (directversion.h) is
//   read by the system's GetFileVersionInfoW, and only ever in the helper:
//   whatever the file does to the system's reader ends the helper, not the
//   run. The block it hands back is checked as a block read from the file is.
// - Folders that may not answer. Listings, existence tests and reads on a
//   network, removable or optical drive, or a UNC path, are asked of the
//   helper with a bound; a volume that did not answer in time is not asked
//   again in the same run, and neither is anything once the run's budget is
//   spent. Local fixed disks are used directly and pay nothing.
//
// One FileHelperRun lives for the length of a run and starts its helper at
// the first file that needs one; outside a run each question gets a helper
// of its own.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/files.h"
#include "common/helper_process.h"

namespace kelvra {

// The bounds. A local read by the system's reader takes milliseconds even
// for a large file (13 ms for 6 MiB under Wine); a call on a network folder
// that answers at all answers within a few seconds. One volume that does not
// answer costs one bound per run, an entry at most kEntryBudget, a run at
// most kRunBudget of waiting in all; after that nothing more is asked.
inline constexpr std::chrono::milliseconds kSystemReadBound{10'000};
inline constexpr std::chrono::milliseconds kSlowCallBound{5'000};
inline constexpr std::chrono::milliseconds kEntryBudget{15'000};
inline constexpr std::chrono::milliseconds kRunBudget{60'000};

// Why a version read gave nothing of the file's own.
enum class VersionReadFailure : std::uint8_t {
    None,
    Faulted,      // the system's reader crashed (or the helper was killed)
    TimedOut,     // the system's reader did not answer in time
    NoHelper,     // no helper could be started, or the run's budget was spent
    Unreachable,  // the file lies on a volume that did not answer in time
};

// A version block as the system's reader would hand it over, from wherever
// it came. Nothing in it is trusted yet.
struct FetchedVersionBlock {
    bool present = false;  // the reader reported a block
    std::uint32_t reportedSize = 0;
    std::vector<std::byte> bytes;  // the buffer; empty when it was not read
    bool settled = true;           // what the file holds decided the outcome
    VersionReadFailure failure = VersionReadFailure::None;
};

// The version block of an executable: straight from the file where that is
// certain, from the system's reader in the helper where it must be asked,
// nothing where neither finds one.
FetchedVersionBlock FetchVersionBlock(const std::wstring& path);

// ---- folders that may not answer -------------------------------------------------

// A result, or that the volume did not answer in time.
template <typename T>
struct InTime {
    T value{};
    bool reached = true;
};

// Whether calls on the path go the bounded way: a UNC or device path, or a
// drive that DriveMayBlockLong names.
bool PathMayBlockLong(std::wstring_view path);

// FindEntries, DirectoryExists and FileFactsOf, bounded where the path may
// block.
InTime<std::vector<DirEntry>> FindEntriesInTime(const std::wstring& mask);
InTime<bool> DirectoryExistsInTime(const std::wstring& path);
InTime<std::optional<FileFacts>> FileFactsInTime(const std::wstring& path);

// The file work of one entry starts: its budget is whole again.
void BeginEntryFileWork();
// How long the current entry has waited on volumes that may block.
std::chrono::milliseconds EntryFileWorkWaited();

// ---- the run -------------------------------------------------------------------------

// What the helper did in a run, for the log and kvscan's timings.
struct FileHelperCounts {
    int starts = 0;     // helpers started
    int questions = 0;  // questions asked
    int faults = 0;     // helpers that ended without an answer
    int timeOuts = 0;   // questions not answered in time
};

// The helper and the budgets of one run, for as long as it lives.
class FileHelperRun {
  public:
    FileHelperRun();
    ~FileHelperRun();
    FileHelperRun(const FileHelperRun&) = delete;
    FileHelperRun& operator=(const FileHelperRun&) = delete;

    FileHelperCounts counts() const;

    struct State;
    State& state() { return *state_; }

  private:
    std::unique_ptr<State> state_;
    FileHelperRun* previous_;
};

// ---- the answers on the wire (portable, tested natively) ---------------------------
// Numbers little-endian, texts in UTF-16 with their length in front. The
// parent reads every answer with a check of each length against what
// arrived: nothing, when anything does not fit.
namespace helper_answers {
std::string OfBlock(const FetchedVersionBlock& block);
std::optional<FetchedVersionBlock> BlockOf(std::string_view answer);
std::string OfListing(const std::vector<DirEntry>& entries);
std::optional<std::vector<DirEntry>> ListingOf(std::string_view answer);
}  // namespace helper_answers

// The helper's side: the answer to one request. The programs' helper mode
// serves this.
std::string AnswerFileRequest(std::string_view request);

// The platform's version reader, as the helper calls it (fileversion_win32.cpp):
// holds the file against writers while the system reads it.
namespace version_platform {
FetchedVersionBlock SystemVersionBlock(const std::wstring& path);
}

}  // namespace kelvra
