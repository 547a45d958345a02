#pragma once
// A test's own uninstall entries in the test prefix's registry: created under
// Software\Microsoft\Windows\CurrentVersion\Uninstall of HKLM in one view
// (or of HKCU, the user's own installs),
// written value by value with the raw registry calls, and deleted with all
// their values when the owner goes.

#include "common/win32.h"

#include <string>
#include <string_view>
#include <vector>

namespace kelvra::testing {

class UninstallKeys {
  public:
    // view: KEY_WOW64_32KEY or KEY_WOW64_64KEY; root: the hive.
    explicit UninstallKeys(REGSAM view, HKEY root = HKEY_LOCAL_MACHINE);
    ~UninstallKeys();
    UninstallKeys(const UninstallKeys&) = delete;
    UninstallKeys& operator=(const UninstallKeys&) = delete;

    // A name no other test process uses: "KelvraTest-<process id>-<suffix>".
    static std::wstring UniqueName(std::wstring_view suffix);

    // Creates the entry (if new) and returns its path below the hive.
    std::wstring Create(const std::wstring& keyName);

    // Raw bytes exactly as given, under any type.
    void SetRaw(const std::wstring& keyName, const std::wstring& valueName, DWORD type,
                const std::string& bytes);
    // Text with its terminator, as a well-behaved writer stores it.
    void SetText(const std::wstring& keyName, const std::wstring& valueName, std::wstring_view text,
                 DWORD type = REG_SZ);
    void SetDWord(const std::wstring& keyName, const std::wstring& valueName, DWORD value);

  private:
    REGSAM view_;
    HKEY root_;
    std::vector<std::wstring> created_;
};

// The text's UTF-16LE bytes without a terminator.
std::string Utf16Bytes(std::wstring_view text);

}  // namespace kelvra::testing
