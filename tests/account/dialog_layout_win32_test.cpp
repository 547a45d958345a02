// Both dialogs built from their tables, checked control by control at the
// system's resolution: 96 dpi in the test prefix, and 144 dpi in a second
// run of this program with the prefix's resolution raised.

#include <gtest/gtest.h>

#include <string>

#include "account/account_forms_win32.h"
#include "account/dialog_driver_win32.h"
#include "common/handles_win32.h"
#include "support/process_win32.h"

namespace kelvra {
namespace {

// The resolution this run expects: 96, or what the run that started it says.
int ExpectedDpi() {
    wchar_t text[16] = {};
    const DWORD length = GetEnvironmentVariableW(L"KELVRA_EXPECTED_DPI", text, 16);
    return length > 0 && length < 16 ? std::stoi(text) : kDesignDpi;
}

TEST(DialogLayouts, SettingsDialogSitsAtItsTableRectangles) {
    TSettingsForm form;
    EXPECT_EQ(form.Dpi(), ExpectedDpi());
    testing::ExpectFormMatchesItsLayout(form);
    EXPECT_EQ(form.ShownPage(), L"TabSheet1");
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << "shown only by showing it";
}

TEST(DialogLayouts, NewAccountDialogSitsAtItsTableRectangles) {
    TNewAccountForm form;
    EXPECT_EQ(form.Dpi(), ExpectedDpi());
    testing::ExpectFormMatchesItsLayout(form);
}

// The prefix's resolution, for the programs started while this exists.
class SystemDpi {
  public:
    explicit SystemDpi(DWORD dpi) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
        DWORD size = sizeof(saved_);
        hadValue_ = RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&saved_), &size) == ERROR_SUCCESS;
        RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                       sizeof(dpi));
    }
    ~SystemDpi() {
        if (hadValue_)
            RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved_),
                           sizeof(saved_));
        else
            RegDeleteValueW(key_, L"LogPixels");
        RegCloseKey(key_);
    }
    SystemDpi(const SystemDpi&) = delete;
    SystemDpi& operator=(const SystemDpi&) = delete;

  private:
    HKEY key_ = nullptr;
    DWORD saved_ = 0;
    bool hadValue_ = false;
};

TEST(DialogLayouts, BothDialogsScaleWithTheSystemResolution) {
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);

    testing::ProgramResult result;
    {
        const SystemDpi dpi(144);
        SetEnvironmentVariableW(L"KELVRA_EXPECTED_DPI", L"144");
        result = testing::RunProgram(testing::Quoted(self) +
                                     L" --gtest_filter=DialogLayouts.*SitsAtItsTableRectangles");
        SetEnvironmentVariableW(L"KELVRA_EXPECTED_DPI", nullptr);
    }
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ] 2 tests."), std::string::npos) << result.output;
}

}  // namespace
}  // namespace kelvra
