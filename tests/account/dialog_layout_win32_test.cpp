// Both dialogs checked control by control against the design's rectangles at
// the system's resolution: 96 dpi in the test prefix, and 144 dpi in a second
// run of this program with the prefix's resolution raised.

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
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

// Where the design puts each control, in pixels at 96 dpi relative to its
// parent: written out here, not taken from the tables the dialogs are built
// from, so that a slip in those tables shows. The link and the test result
// label grow to fit their text in the wider Tahoma of the test prefix: from
// their left edge (the link) or their right edge (the right-aligned label),
// top and height unchanged.
enum class Grows { No, FromLeftEdge, FromRightEdge };
struct DesignedRect {
    const wchar_t* name;
    int left, top, width, height;
    Grows grows = Grows::No;
};

constexpr DesignedRect kSettingsDesign[] = {
    {L"PageControl1", 32, 24, 577, 321},
    {L"Label1", 195, 10, 164, 13, Grows::FromLeftEdge},
    {L"GroupBox2", 32, 32, 489, 201},
    {L"editUsername", 32, 48, 169, 21},
    {L"editPassword", 253, 48, 169, 21},
    {L"editProfile", 32, 96, 390, 21},
    {L"labAccountTest", 206, 149, 74, 13, Grows::FromRightEdge},
    {L"butTestAccount", 288, 144, 134, 22},
    {L"GroupBox1", 32, 32, 489, 209},
    {L"checkProxy", 32, 32, 97, 17},
    {L"editProxyServer", 64, 81, 169, 21},
    {L"editProxyPort", 288, 81, 65, 21},
    {L"editProxyUsername", 64, 136, 169, 21},
    {L"editProxyPassword", 287, 136, 169, 21},
    {L"Button1", 534, 368, 75, 25},
    {L"Button2", 438, 368, 75, 25},
};

constexpr DesignedRect kNewAccountDesign[] = {
    {L"GroupBox1", 24, 24, 249, 161},
    {L"editEmail", 32, 48, 185, 21},
    {L"editUsername", 32, 104, 185, 21},
    {L"SpeedButton1", 192, 208, 81, 25},
};

// A design length at the run's resolution, rounded to the nearest pixel; a
// rectangle's edges are scaled one by one, so a width may differ by one.
int Scaled(int pixels, int dpi) { return (pixels * dpi + 48) / 96; }

template <std::size_t N>
void ExpectDesignedDialog(const TForm& form, const wchar_t* caption, int width, int height,
                          const DesignedRect (&design)[N]) {
    const int dpi = form.Dpi();
    EXPECT_EQ(dpi, ExpectedDpi());
    EXPECT_EQ(testing::TextOf(form.Handle()), caption);
    const SIZE client = testing::ClientSize(form.Handle());
    EXPECT_EQ(client.cx, Scaled(width, dpi));
    EXPECT_EQ(client.cy, Scaled(height, dpi));
    for (const DesignedRect& want : design) {
        SCOPED_TRACE(::testing::Message() << std::wstring(want.name));
        HWND control = form.Control(want.name);
        ASSERT_NE(control, nullptr);
        const RECT got = testing::RectRelativeTo(control, GetParent(control));
        const int left = Scaled(want.left, dpi), right = Scaled(want.left + want.width, dpi);
        EXPECT_NEAR(got.top, Scaled(want.top, dpi), 1);
        EXPECT_NEAR(got.bottom - got.top, Scaled(want.height, dpi), 1);
        if (want.grows == Grows::No) {
            EXPECT_NEAR(got.left, left, 1);
            EXPECT_NEAR(got.right - got.left, right - left, 1);
            continue;
        }
        EXPECT_GE(got.right - got.left, right - left - 1);
        if (want.grows == Grows::FromLeftEdge) {
            EXPECT_NEAR(got.left, left, 1);
        } else {
            EXPECT_NEAR(got.right, right, 1);
        }
    }
    // Everything else the tables say (kinds, captions, fonts, styles).
    testing::ExpectFormMatchesItsLayout(form);
}

TEST(DialogLayouts, SettingsDialogSitsWhereTheDesignPutsIt) {
    TSettingsForm form;
    ExpectDesignedDialog(form, L"Settings", 650, 422, kSettingsDesign);
    EXPECT_EQ(form.ShownPage(), L"TabSheet1");
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << "shown only by showing it";
}

TEST(DialogLayouts, NewAccountDialogSitsWhereTheDesignPutsIt) {
    TNewAccountForm form;
    ExpectDesignedDialog(form, L"Create your Kelvra account", 298, 252, kNewAccountDesign);
}

// The kinds the table makes Tab stops are the ones the Tab key walks to.
TEST(DialogLayouts, TabStopsOfTheKindTableAreWhereTheTabKeyGoes) {
    for (const FormLayout* form : {&SettingsFormLayout(), &NewAccountFormLayout()}) {
        std::set<const ControlLayout*> walked;
        for (const std::wstring_view page : {L"", L"TabSheet1", L"TabSheet2"})
            for (const ControlLayout* control : TabSequence(*form, page)) walked.insert(control);
        for (const ControlLayout& control : form->controls) {
            if (control.tabOrder == kNoTabStop) continue;
            EXPECT_EQ(TraitsOfKind(control.kind).tabStop, walked.count(&control) == 1)
                << std::string(control.name.begin(), control.name.end());
        }
    }
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
                                     L" --gtest_filter=DialogLayouts.*SitsWhereTheDesignPutsIt");
        SetEnvironmentVariableW(L"KELVRA_EXPECTED_DPI", nullptr);
    }
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ] 2 tests."), std::string::npos) << result.output;
}

}  // namespace
}  // namespace kelvra
