#pragma once
// Work that must happen however a scope ends, written where the scope begins
// instead of as a guard struct for the one occasion.

#include <exception>
#include <utility>

namespace kelvra {

// Runs the action when the scope ends, by return or by exception. Its error
// passes on, except while another error is on its way out: that one ended
// the scope and is the one reported, and the action's own is dropped.
template <class Action>
class [[nodiscard]] ScopeExit {
  public:
    explicit ScopeExit(Action action)
        : action_(std::move(action)), pending_(std::uncaught_exceptions()) {}
    ~ScopeExit() noexcept(false) {
        if (std::uncaught_exceptions() > pending_) {
            try {
                action_();
            } catch (...) {
            }
        } else {
            action_();
        }
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

  private:
    Action action_;
    int pending_;
};

}  // namespace kelvra
