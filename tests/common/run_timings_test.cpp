// Where an inventory run's time goes, as the benchmark reads it: stage times
// with nested stages excluded, the longest stretch between two servings of
// window messages, and the serving itself, every time or only when due.

#include "common/run_timings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/pending_messages.h"

namespace kelvra {
namespace {

double fakeNow = 0;
double FakeClock() { return fakeNow; }

class RunTimingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakeNow = 0;
        previous_ = SetRunRecorder(&recorder_);
    }
    void TearDown() override {
        SetRunRecorder(previous_);
        SetPendingMessagePump({});
    }
    double Stage(RunStage stage) const {
        return recorder_.timings().stageSeconds[static_cast<std::size_t>(stage)];
    }
    double GapStage(RunStage stage) const {
        return recorder_.timings().longestGapStageSeconds[static_cast<std::size_t>(stage)];
    }

    RunRecorder recorder_{&FakeClock};
    RunRecorder* previous_ = nullptr;
};

TEST_F(RunTimingsTest, EachStageIsChargedItsOwnTimeWithoutTheStagesNestedInIt) {
    {
        const RecordedRun run;
        fakeNow = 1;  // other: 1
        {
            const StageScope analysis(RunStage::Analysis);
            fakeNow = 3;  // analysis: 2
            {
                const StageScope folders(RunStage::Folders);
                fakeNow = 4;  // folders: 1
                {
                    const StageScope versions(RunStage::VersionResources);
                    fakeNow = 9;  // versions: 5
                }
                fakeNow = 10;  // folders: 1 more
            }
            fakeNow = 11;  // analysis: 1 more
        }
        fakeNow = 12;  // other: 1 more
    }
    EXPECT_DOUBLE_EQ(Stage(RunStage::Other), 2);
    EXPECT_DOUBLE_EQ(Stage(RunStage::Analysis), 3);
    EXPECT_DOUBLE_EQ(Stage(RunStage::Folders), 2);
    EXPECT_DOUBLE_EQ(Stage(RunStage::VersionResources), 5);
    EXPECT_DOUBLE_EQ(Stage(RunStage::Registry), 0);
    EXPECT_DOUBLE_EQ(recorder_.timings().totalSeconds, 12);
}

TEST_F(RunTimingsTest, TheLongestGapCountsFromTheStartAndToTheReturnAndSaysWhatFilledIt) {
    SetPendingMessagePump([] {});
    {
        const RecordedRun run;
        const StageScope registry(RunStage::Registry);
        fakeNow = 2;
        PumpPendingMessages();  // gap 2: registry
        fakeNow = 3;
        PumpPendingMessages();  // gap 1
        {
            const StageScope rendering(RunStage::Rendering);
            fakeNow = 7;
        }
        fakeNow = 8;
    }  // gap 5 to the return: rendering 4, registry 1
    const RunTimings& timings = recorder_.timings();
    EXPECT_EQ(timings.pumps, 2u);
    EXPECT_DOUBLE_EQ(timings.longestGapSeconds, 5);
    EXPECT_DOUBLE_EQ(GapStage(RunStage::Rendering), 4);
    EXPECT_DOUBLE_EQ(GapStage(RunStage::Registry), 1);
    EXPECT_DOUBLE_EQ(GapStage(RunStage::Other), 0);
}

TEST_F(RunTimingsTest, TheFileNamesEveryFigureOncePerLine) {
    recorder_.SetMemoryProbe([]() -> std::uint64_t { return 123456; });
    {
        const RecordedRun run;
        NoteRunMemory(RunMilestone::Rendered);
        CountInRun(RunCount::Entries, 3);
        CountInRun(RunCount::VersionReads);
        const StageScope writing(RunStage::Writing);
        fakeNow = 0.25;
    }
    std::map<std::string, std::string> values;
    std::istringstream lines(FormatRunTimings(recorder_.timings()));
    for (std::string name, value; lines >> name >> value;)
        EXPECT_TRUE(values.emplace(name, value).second) << name;
    // The names the benchmark's summary reads; memory only where it was noted.
    std::set<std::string> names;
    for (const auto& [name, value] : values) names.insert(name);
    std::set<std::string> expected = {"total_seconds",          "pumps",
                                      "longest_gap_seconds",    "count.entries",
                                      "count.records",          "count.listings",
                                      "count.version_reads",    "count.versions_remembered",
                                      "count.helper_questions", "count.helper_starts",
                                      "memory.rendered"};
    for (const char* stage : {"other", "registry", "folders", "version_resources", "analysis",
                              "rendering", "writing"}) {
        expected.insert(std::string("stage.") + stage);
        expected.insert(std::string("longest_gap.") + stage);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(values["memory.rendered"], "123456");
    EXPECT_EQ(values["total_seconds"], "0.250000");
    EXPECT_EQ(values["stage.writing"], "0.250000");
    EXPECT_EQ(values["stage.version_resources"], "0.000000");
    EXPECT_EQ(values["count.entries"], "3");
    EXPECT_EQ(values["count.version_reads"], "1");
    EXPECT_EQ(values["pumps"], "0");
}

// A clock the test moves by hand: no real waiting, nothing a loaded machine
// can make late.
std::chrono::steady_clock::time_point pumpNow{};
std::chrono::steady_clock::time_point PumpClock() { return pumpNow; }

TEST(PendingMessages, ServedOnlyWhenDueBetweenTheFixedPoints) {
    const PendingMessageClock savedClock = SetPendingMessageClock(&PumpClock);
    int served = 0;
    SetPendingMessagePump([&] { ++served; });
    PumpPendingMessages();
    PumpPendingMessages();
    EXPECT_EQ(served, 2) << "the fixed points always serve";
    pumpNow += kPendingMessagesDueAfter - std::chrono::milliseconds(1);
    PumpPendingMessagesIfDue();
    EXPECT_EQ(served, 2) << "just served: not due yet";
    pumpNow += std::chrono::milliseconds(1);
    PumpPendingMessagesIfDue();
    EXPECT_EQ(served, 3) << "due after exactly the interval";
    PumpPendingMessagesIfDue();
    EXPECT_EQ(served, 3) << "the serving starts the interval anew";
    pumpNow += kPendingMessagesDueAfter;
    SetPendingMessagePump({});
    PumpPendingMessages();
    PumpPendingMessagesIfDue();
    EXPECT_EQ(served, 3) << "without a pump nothing is served";
    SetPendingMessageClock(savedClock);
}

// Sorted in pieces, with messages served in between: the order of
// std::stable_sort, equal keys in their first order, at every size around
// the pieces' boundaries.
TEST(PendingMessages, SortPumpingMessagesGivesTheStableOrder) {
    // Every piece of work takes long: each look at the clock finds a
    // serving due.
    const PendingMessageClock savedClock = SetPendingMessageClock([] {
        pumpNow += kPendingMessagesDueAfter;
        return pumpNow;
    });
    int served = 0;
    SetPendingMessagePump([&] { ++served; });
    for (const std::size_t size : {0u, 1u, 255u, 256u, 257u, 513u, 1000u, 4097u}) {
        std::vector<std::pair<int, std::size_t>> items, expected;
        for (std::size_t i = 0; i < size; ++i) items.emplace_back((i * 7919) % 97, i);
        expected = items;
        const auto byKey = [](const auto& a, const auto& b) { return a.first < b.first; };
        std::stable_sort(expected.begin(), expected.end(), byKey);
        served = 0;
        StableSortPumpingMessages(items, byKey);
        EXPECT_EQ(items, expected) << size;
        if (size > 256) EXPECT_GE(served, 2) << size;
    }
    SetPendingMessagePump({});
    SetPendingMessageClock(savedClock);
}

}  // namespace
}  // namespace kelvra
