#pragma once
// The inventory run keeps the user interface alive by serving pending window
// messages: at the fixed points of the run, and in between wherever a stretch
// of work could otherwise keep the tray waiting too long. The tray program
// installs the real pump; the default does nothing.

#include <chrono>
#include <functional>

namespace kelvra {

using PendingMessagePump = std::function<void()>;

// Installs a pump (empty: none); returns the one installed before.
PendingMessagePump SetPendingMessagePump(PendingMessagePump pump);

// Whether a pump is installed: a wait that would otherwise block the thread
// serves messages only then.
bool PendingMessagePumpInstalled();

// Serves the pending messages now.
void PumpPendingMessages();

// Serves them only when the last serving lies at least this long back. Cheap
// enough to call after every small piece of work: a clock read when a pump
// is installed, nothing else.
inline constexpr std::chrono::milliseconds kPendingMessagesDueAfter{20};
void PumpPendingMessagesIfDue();

// The clock that decides when a serving is due; tests install one they move
// by hand. Null restores the steady clock. Returns the one installed before.
using PendingMessageClock = std::chrono::steady_clock::time_point (*)();
PendingMessageClock SetPendingMessageClock(PendingMessageClock clock);

}  // namespace kelvra
