#pragma once
// Where the time of an inventory run goes: the exclusive time of each stage,
// the stretches between two servings of pending window messages, and a few
// counts. Recorded only while a recorder is installed (kvscan --timings, for
// the benchmark); otherwise every probe is one test of a null pointer and
// reads no clock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvra {

enum class RunStage : std::uint8_t {
    Other,             // the run's own steps that belong to no stage below
    Registry,          // enumerating and reading the uninstall entries
    Folders,           // choosing, testing and listing program folders
    VersionResources,  // reading executables' version resources
    Analysis,          // display names, candidates, pruning chain, sorting
    Rendering,         // XML, HTML and payload lines
    Writing,           // choosing the file names, converting and writing the files
};
inline constexpr std::size_t kRunStageCount = 7;

std::string_view RunStageName(RunStage stage);

enum class RunCount : std::uint8_t {
    Entries,             // uninstall subkeys looked at, both views
    Records,             // records kept
    Listings,            // folder listings
    VersionReads,        // executables whose version resource was read
    VersionsRemembered,  // executables answered by an earlier run's read instead
    HelperQuestions,     // questions to the helper process (versions/file_helper.h)
    HelperStarts,        // helper processes started
};
inline constexpr std::size_t kRunCountCount = 7;

std::string_view RunCountName(RunCount count);

// Points of the run at which the process's memory is noted, when the
// recorder has a way to ask (kvscan: the working set).
enum class RunMilestone : std::uint8_t {
    Read,      // every entry read, analysed, rendered and freed; the records sorted
    Rendered,  // the three files written from the records' renderings
    Written,   // the renderings' scratch file gone
};
inline constexpr std::size_t kRunMilestoneCount = 3;

struct RunTimings {
    double totalSeconds = 0;  // the run from its first step to its return
    std::array<double, kRunStageCount> stageSeconds{};
    // The longest stretch without serving pending messages; the run's start
    // and its return count as servings, since the message loop runs there.
    double longestGapSeconds = 0;
    std::array<double, kRunStageCount> longestGapStageSeconds{};  // what filled it
    // Servings during the run.
    std::size_t pumps = 0;
    std::array<std::uint64_t, kRunCountCount> counts{};
    std::array<std::uint64_t, kRunMilestoneCount> memoryBytes{};  // 0: not asked
};

class RunRecorder {
  public:
    using Clock = double (*)();               // seconds on a monotonic scale
    using MemoryProbe = std::uint64_t (*)();  // bytes the process holds now

    RunRecorder();
    explicit RunRecorder(Clock clock) : clock_(clock) {}

    void BeginRun();
    void EndRun();
    // Charges the time since the last switch to the current stage and makes
    // `stage` current; returns the stage that was current.
    RunStage Enter(RunStage stage);
    void NotePump();
    void Add(RunCount count, std::uint64_t amount = 1) {
        timings_.counts[static_cast<std::size_t>(count)] += amount;
    }
    void SetMemoryProbe(MemoryProbe probe) { memoryProbe_ = probe; }
    void NoteMemory(RunMilestone milestone) {
        if (memoryProbe_)
            timings_.memoryBytes[static_cast<std::size_t>(milestone)] = memoryProbe_();
    }

    const RunTimings& timings() const { return timings_; }

  private:
    void ChargeUpTo(double now);
    void CloseGap(double now);

    Clock clock_;
    MemoryProbe memoryProbe_ = nullptr;
    RunTimings timings_;
    RunStage current_ = RunStage::Other;
    double lastSwitch_ = 0;
    double runStart_ = 0;
    double lastPump_ = 0;
    std::array<double, kRunStageCount> atLastPump_{};
};

// The installed recorder, or none.
inline RunRecorder*& InstalledRunRecorder() {
    static RunRecorder* recorder = nullptr;
    return recorder;
}

// The timings as "name value" lines, seconds and counts in plain decimal:
// total_seconds, stage.<stage>, pumps, longest_gap_seconds,
// longest_gap.<stage>, count.<count> and, where noted, memory.<milestone>.
std::string FormatRunTimings(const RunTimings& timings);

// Installs a recorder (nullptr: none); returns the one installed before.
RunRecorder* SetRunRecorder(RunRecorder* recorder);

// Charges the time of its lifetime to a stage, nested scopes excluded.
class StageScope {
  public:
    explicit StageScope(RunStage stage) : recorder_(InstalledRunRecorder()) {
        if (recorder_) previous_ = recorder_->Enter(stage);
    }
    ~StageScope() {
        if (recorder_) recorder_->Enter(previous_);
    }
    StageScope(const StageScope&) = delete;
    StageScope& operator=(const StageScope&) = delete;

  private:
    RunRecorder* recorder_;
    RunStage previous_ = RunStage::Other;
};

// Marks the whole run: its start and return.
class RecordedRun {
  public:
    RecordedRun() : recorder_(InstalledRunRecorder()) {
        if (recorder_) recorder_->BeginRun();
    }
    ~RecordedRun() {
        if (recorder_) recorder_->EndRun();
    }
    RecordedRun(const RecordedRun&) = delete;
    RecordedRun& operator=(const RecordedRun&) = delete;

  private:
    RunRecorder* recorder_;
};

inline void CountInRun(RunCount count, std::uint64_t amount = 1) {
    if (RunRecorder* recorder = InstalledRunRecorder()) recorder->Add(count, amount);
}

inline void NoteRunMemory(RunMilestone milestone) {
    if (RunRecorder* recorder = InstalledRunRecorder()) recorder->NoteMemory(milestone);
}

}  // namespace kelvra
