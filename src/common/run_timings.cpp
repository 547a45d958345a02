#include "common/run_timings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace kelvra {
namespace {

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

constexpr std::array<std::string_view, kRunStageCount> kStageNames = {
    "other", "registry", "folders", "version_resources", "analysis", "rendering", "writing",
};

constexpr std::array<std::string_view, kRunCountCount> kCountNames = {
    "entries",          "records",       "listings", "version_reads", "versions_remembered",
    "helper_questions", "helper_starts",
};

constexpr std::array<std::string_view, kRunMilestoneCount> kMilestoneNames = {
    "read",
    "rendered",
    "written",
};

std::string Line(std::string_view name, double seconds) {
    char value[32];
    std::snprintf(value, sizeof value, "%.6f", seconds);
    return std::string(name) + " " + value + "\n";
}

}  // namespace

std::string_view RunStageName(RunStage stage) {
    return kStageNames[static_cast<std::size_t>(stage)];
}

std::string_view RunCountName(RunCount count) {
    return kCountNames[static_cast<std::size_t>(count)];
}

std::string FormatRunTimings(const RunTimings& timings) {
    std::string text = Line("total_seconds", timings.totalSeconds);
    const auto stage = [](std::size_t i) { return std::string(RunStageName(RunStage(i))); };
    for (std::size_t i = 0; i < kRunStageCount; ++i)
        text += Line("stage." + stage(i), timings.stageSeconds[i]);
    text += "pumps " + std::to_string(timings.pumps) + "\n";
    text += Line("longest_gap_seconds", timings.longestGapSeconds);
    for (std::size_t i = 0; i < kRunStageCount; ++i)
        text += Line("longest_gap." + stage(i), timings.longestGapStageSeconds[i]);
    for (std::size_t i = 0; i < kRunCountCount; ++i)
        text += "count." + std::string(RunCountName(RunCount(i))) + " " +
                std::to_string(timings.counts[i]) + "\n";
    for (std::size_t i = 0; i < kRunMilestoneCount; ++i) {
        if (timings.memoryBytes[i] == 0) continue;
        text += "memory." + std::string(kMilestoneNames[i]) + " " +
                std::to_string(timings.memoryBytes[i]) + "\n";
    }
    return text;
}

RunRecorder::RunRecorder() : clock_(&SteadySeconds) {}

void RunRecorder::ChargeUpTo(double now) {
    timings_.stageSeconds[static_cast<std::size_t>(current_)] += now - lastSwitch_;
    lastSwitch_ = now;
}

void RunRecorder::BeginRun() {
    const double now = clock_();
    runStart_ = lastSwitch_ = lastPump_ = now;
    current_ = RunStage::Other;
    atLastPump_ = timings_.stageSeconds;
}

void RunRecorder::EndRun() {
    const double now = clock_();
    ChargeUpTo(now);
    timings_.totalSeconds += now - runStart_;
    // Back in the message loop: the stretch since the last serving ends here.
    CloseGap(now);
}

RunStage RunRecorder::Enter(RunStage stage) {
    ChargeUpTo(clock_());
    return std::exchange(current_, stage);
}

void RunRecorder::NotePump() {
    const double now = clock_();
    ChargeUpTo(now);
    ++timings_.pumps;
    CloseGap(now);
}

void RunRecorder::CloseGap(double now) {
    const double gap = now - lastPump_;
    if (gap > timings_.longestGapSeconds) {
        timings_.longestGapSeconds = gap;
        for (std::size_t i = 0; i < kRunStageCount; ++i)
            timings_.longestGapStageSeconds[i] = timings_.stageSeconds[i] - atLastPump_[i];
    }
    lastPump_ = now;
    atLastPump_ = timings_.stageSeconds;
}

RunRecorder* SetRunRecorder(RunRecorder* recorder) {
    return std::exchange(InstalledRunRecorder(), recorder);
}

}  // namespace kelvra
