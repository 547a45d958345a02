#pragma once
// Switches the log while it exists and puts the values before it back when it
// goes, also after a failed expectation: on, written into a folder with the
// version "2.0" in its stamps, or off.

#include <string>

#include "common/globals.h"

namespace kelvra::testing {

class LogSwitch {
  public:
    // An empty folder: the log off.
    explicit LogSwitch(const std::wstring& folder)
        : enabled_(LogEnabled), folder_(AppDataDir), version_(AppVersion) {
        LogEnabled = !folder.empty();
        if (folder.empty()) return;
        AppDataDir = folder;
        AppVersion = L"2.0";
    }
    ~LogSwitch() {
        LogEnabled = enabled_;
        AppDataDir = folder_;
        AppVersion = version_;
    }
    LogSwitch(const LogSwitch&) = delete;
    LogSwitch& operator=(const LogSwitch&) = delete;

  private:
    bool enabled_;
    std::wstring folder_, version_;
};

}  // namespace kelvra::testing
