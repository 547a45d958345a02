#pragma once
// Work that must happen however a scope ends, written where the scope begins
// instead of as a guard struct for the one occasion; and a process-wide hook
// installed for the length of a scope.

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

namespace scope_detail {
template <class Setter>
struct HookSetter;
template <class Hook, class Argument>
struct HookSetter<Hook (*)(Argument)> {
    using Installed = Hook;
};
}  // namespace scope_detail

// Installs a process-wide hook through its setter (one of the Set…
// functions of the hooks that docs/architecture.md lists, each of which
// returns what it replaced) and puts back the one it replaced when the scope
// ends. Scopes that install the same hook must end in the reverse order of
// their start, as scopes do.
template <auto Set>
class [[nodiscard]] ScopedHook {
  public:
    using Installed = typename scope_detail::HookSetter<decltype(Set)>::Installed;

    template <class Hook>
    explicit ScopedHook(Hook&& hook) : previous_(Set(std::forward<Hook>(hook))) {}
    ~ScopedHook() { Set(std::move(previous_)); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

    // The hook that was installed before this one.
    const Installed& previous() const { return previous_; }

  private:
    Installed previous_;
};

}  // namespace kelvra
