#pragma once
// Takes every message box the program shows while it exists: records it,
// answers it (OK, or what onBox says) and puts the handler before it back on
// destruction, so that no test ever blocks on a modal box.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/scope.h"
#include "common/tools.h"

namespace kelvra::testing {

class MessageBoxRecorder {
  public:
    MessageBoxRecorder()
        : installed_([this](const MessageBoxRequest& box) {
              boxes_.push_back(box);
              return onBox ? onBox(box) : 1;
          }) {}
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // Runs for each box once it is recorded; returns the button pressed.
    std::function<int(const MessageBoxRequest&)> onBox;

    bool empty() const { return boxes_.empty(); }
    std::size_t size() const { return boxes_.size(); }
    const MessageBoxRequest& operator[](std::size_t i) const { return boxes_[i]; }
    auto begin() const { return boxes_.begin(); }
    auto end() const { return boxes_.end(); }
    void clear() { boxes_.clear(); }

    // The boxes' texts, in the order shown.
    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> texts;
        for (const MessageBoxRequest& box : boxes_) texts.push_back(box.text);
        return texts;
    }

  private:
    std::vector<MessageBoxRequest> boxes_;
    ScopedHook<&SetMessageBoxHandler> installed_;
};

}  // namespace kelvra::testing
