#pragma once
// The inventory run keeps the user interface alive by serving pending window
// messages: at the fixed points of the run, and in between wherever a stretch
// of work could otherwise keep the tray waiting too long. The tray program
// installs the real pump; the default does nothing.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <iterator>
#include <vector>

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

// std::stable_sort in pieces, with the pending messages served between them:
// runs of a few hundred items are sorted, then merged pairwise, the earlier
// run first on equal items. For a strict weak order the result is the one
// std::stable_sort gives, which the sort of thousands of records by a
// locale's comparison would otherwise keep the tray waiting for in one call.
template <class T, class Less>
void StableSortPumpingMessages(std::vector<T>& items, Less less) {
    constexpr std::size_t kRun = 256;
    const std::size_t count = items.size();
    for (std::size_t at = 0; at < count; at += kRun) {
        const auto first = items.begin() + static_cast<std::ptrdiff_t>(at);
        std::stable_sort(first, first + static_cast<std::ptrdiff_t>(std::min(kRun, count - at)),
                         less);
        PumpPendingMessagesIfDue();
    }
    if (count <= kRun) return;
    std::vector<T> merged;
    merged.reserve(count);
    for (std::size_t width = kRun; width < count; width *= 2) {
        for (std::size_t at = 0; at < count; at += 2 * width) {
            const auto first =
                std::make_move_iterator(items.begin() + static_cast<std::ptrdiff_t>(at));
            const auto middle = std::make_move_iterator(
                items.begin() + static_cast<std::ptrdiff_t>(std::min(at + width, count)));
            const auto last = std::make_move_iterator(
                items.begin() + static_cast<std::ptrdiff_t>(std::min(at + 2 * width, count)));
            std::merge(first, middle, middle, last, std::back_inserter(merged), less);
            PumpPendingMessagesIfDue();
        }
        items.swap(merged);
        merged.clear();
    }
}

}  // namespace kelvra
