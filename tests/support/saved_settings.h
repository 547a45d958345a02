#pragma once
// Saves the process-wide settings values (and the service address) when
// created and puts them back when destroyed, so a test may set them freely.

#include <string>

#include "common/globals.h"
#include "http/service_address.h"

namespace kelvra::testing {

class SavedSettings {
  public:
    SavedSettings()
        : useProxy_(UseProxy),
          proxyServer_(ProxyServer),
          proxyPort_(ProxyPort),
          proxyUsername_(ProxyUsername),
          proxyPassword_(ProxyPassword),
          accountUsername_(AccountUsername),
          accountPassword_(AccountPassword),
          accountProfile_(AccountProfile),
          service_(ServiceBaseAddress()) {}
    ~SavedSettings() {
        UseProxy = useProxy_;
        ProxyServer = proxyServer_;
        ProxyPort = proxyPort_;
        ProxyUsername = proxyUsername_;
        ProxyPassword = proxyPassword_;
        AccountUsername = accountUsername_;
        AccountPassword = accountPassword_;
        AccountProfile = accountProfile_;
        SetServiceBaseAddress(service_ == BuildServiceBaseAddress() ? L"" : service_);
    }
    SavedSettings(const SavedSettings&) = delete;

    // No proxy, as in a settings file without one.
    static void ClearProxy() {
        UseProxy = false;
        ProxyServer.clear();
        ProxyPort = 0;
        ProxyUsername.clear();
        ProxyPassword.clear();
    }

    SavedSettings& operator=(const SavedSettings&) = delete;

  private:
    bool useProxy_;
    std::wstring proxyServer_;
    int proxyPort_;
    std::wstring proxyUsername_, proxyPassword_;
    std::wstring accountUsername_, accountPassword_, accountProfile_;
    std::wstring service_;
};

}  // namespace kelvra::testing
