#include "common/pending_messages.h"

#include <utility>

#include "common/run_timings.h"

namespace kelvra {
namespace {

using Clock = std::chrono::steady_clock;

struct PumpState {
    PendingMessagePump pump;
    PendingMessageClock now = &Clock::now;
    Clock::time_point lastServed{};
};

PumpState& State() {
    static PumpState state;
    return state;
}

}  // namespace

PendingMessagePump SetPendingMessagePump(PendingMessagePump pump) {
    State().lastServed = State().now();
    return std::exchange(State().pump, std::move(pump));
}

PendingMessageClock SetPendingMessageClock(PendingMessageClock clock) {
    return std::exchange(State().now, clock ? clock : &Clock::now);
}

bool PendingMessagePumpInstalled() { return static_cast<bool>(State().pump); }

void PumpPendingMessages() {
    PumpState& state = State();
    if (!state.pump) return;
    if (RunRecorder* recorder = InstalledRunRecorder()) recorder->NotePump();
    state.pump();
    // Taken after the pump: a dialog opened from the tray menu keeps the run
    // waiting inside it, and that wait is no stretch of work.
    state.lastServed = state.now();
}

void PumpPendingMessagesIfDue() {
    const PumpState& state = State();
    if (!state.pump) return;
    if (state.now() - state.lastServed >= kPendingMessagesDueAfter) PumpPendingMessages();
}

}  // namespace kelvra
