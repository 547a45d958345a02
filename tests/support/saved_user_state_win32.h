#pragma once
// The per-user state of the tray program in the test prefix, put aside for
// one test and put back afterwards: the data folder (local application data
// + "Kelvra\") and the autostart value "Kelvra2" under the current user's Run
// key. The tray program takes no arguments and always uses these two, so its
// tests use the real ones of the prefix.

#include <optional>
#include <string>

namespace kelvra::testing {

class SavedUserState {
  public:
    // Moves an existing data folder aside (the test starts without one) and
    // remembers the autostart value.
    SavedUserState();
    // Removes what the test left in the data folder, moves the old one back
    // and restores (or removes) the autostart value.
    ~SavedUserState();
    SavedUserState(const SavedUserState&) = delete;
    SavedUserState& operator=(const SavedUserState&) = delete;

    // The data folder with its trailing backslash.
    const std::wstring& DataFolder() const { return dataFolder_; }

    // The autostart value as it is now; nothing when there is none.
    static std::optional<std::wstring> AutostartValue();

  private:
    std::wstring dataFolder_;
    std::wstring parked_;
    bool hadFolder_ = false;
    std::optional<std::wstring> autostart_;
};

// Removes a folder with everything in it; true when it is gone.
bool RemoveFolderTree(const std::wstring& folder);

}  // namespace kelvra::testing
