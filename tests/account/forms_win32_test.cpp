// The form machinery on a small form of its own: form variables, the modal
// loop and its owner, and the enabled look of controls.

#include "account/forms_win32.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "account/account_forms_win32.h"
#include "account/dialog_driver_win32.h"
#include "common/tools.h"
#include "common/ui_handles_win32.h"

namespace kelvra {
namespace {

using testing::ActWhenDialogOpens;
using testing::ColoursOf;
using testing::DialogWatchdog;

constexpr ControlLayout kProbeControls[] = {
    {L"editName", ControlKind::LabelledEdit, L"", L"Name", {16, 32, 120, 21}, 0},
    {L"ButtonOk",
     ControlKind::PushButton,
     L"",
     L"OK",
     {16, 64, 75, 25},
     1,
     ControlEvent::None,
     L"",
     ModalResult::Ok},
};
const FormLayout kProbeLayout{
    L"ProbeForm", L"Probe form", FormBorder::Dialog, 220, 110, L"Tahoma", 8,
    L"FormShow",  kProbeControls};

class TProbeForm;
std::unique_ptr<TProbeForm> ProbeForm;

// What the probe form's show handler does, and what its destructor saw.
struct ProbeScript {
    bool raiseOnShow = false;
    HWND shownWindow = nullptr;
    bool destroyed = false;
    bool variableEmptyWhenDestroyed = false;
};
ProbeScript probeScript;

class TProbeForm : public TForm {
  public:
    TProbeForm() : TForm(kProbeLayout, {{L"FormShow", [this] { FormShow(); }}}) {}
    ~TProbeForm() override {
        probeScript.destroyed = true;
        probeScript.variableEmptyWhenDestroyed = ProbeForm == nullptr;
    }
    void FormShow() {
        probeScript.shownWindow = Handle();
        if (probeScript.raiseOnShow) throw std::runtime_error("show failed");
    }
};

class FormMachineryTest : public ::testing::Test {
  protected:
    void SetUp() override { probeScript = {}; }
    void TearDown() override { ProbeForm.reset(); }
    static void CloseWithOk(HWND) { testing::Click(ProbeForm->Control(L"ButtonOk")); }

    DialogWatchdog watchdog_;
};

TEST_F(FormMachineryTest, FormWhoseLayoutNamesAMissingHandlerIsNotBuilt) {
    EXPECT_THROW(TForm(SettingsFormLayout(), {{L"FormShow", [] {}}}), std::logic_error);
    EXPECT_NO_THROW(TProbeForm());
}

TEST_F(FormMachineryTest, EveryControlAccessorRejectsAnUnknownName) {
    TProbeForm form;
    EXPECT_THROW(form.Text(L"NoSuchControl"), std::logic_error);
    EXPECT_THROW(form.SetText(L"NoSuchControl", L"x"), std::logic_error);
    EXPECT_THROW(form.Checked(L"NoSuchControl"), std::logic_error);
    EXPECT_THROW(form.SetChecked(L"NoSuchControl", true), std::logic_error);
}

TEST_F(FormMachineryTest, RunModalFormFreesTheFormAlsoWhenShowingRaises) {
    ActWhenDialogOpens(L"Probe form", CloseWithOk);
    EXPECT_EQ(RunModalForm(ProbeForm), ModalResult::Ok);
    EXPECT_EQ(ProbeForm, nullptr);
    EXPECT_TRUE(probeScript.destroyed);
    EXPECT_FALSE(IsWindow(probeScript.shownWindow));

    probeScript = {};
    probeScript.raiseOnShow = true;
    EXPECT_THROW(RunModalForm(ProbeForm), std::runtime_error);
    EXPECT_EQ(ProbeForm, nullptr);
    EXPECT_TRUE(probeScript.destroyed);
    EXPECT_FALSE(IsWindow(probeScript.shownWindow));
}

TEST_F(FormMachineryTest, ShowFormModalFreesOnlyWhenAskedAndFreeFormEmptiesTheVariableFirst) {
    CreateForm(ProbeForm);
    ActWhenDialogOpens(L"Probe form", CloseWithOk);
    EXPECT_EQ(ShowFormModal(ProbeForm, false), ModalResult::Ok);
    ASSERT_NE(ProbeForm, nullptr);
    EXPECT_FALSE(IsWindowVisible(ProbeForm->Handle())) << "hidden once closed";

    ActWhenDialogOpens(L"Probe form", [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
    EXPECT_EQ(ShowFormModal(ProbeForm, true), ModalResult::Cancel) << "the close box is Cancel";
    EXPECT_EQ(ProbeForm, nullptr);
    EXPECT_TRUE(probeScript.destroyed);
    EXPECT_TRUE(probeScript.variableEmptyWhenDestroyed);
}

TEST_F(FormMachineryTest, OwnerIsDisabledWhileTheFormShowsAndEnabledAfterwards) {
    UniqueHwnd owner(CreateWindowExW(0, L"Static", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                     nullptr, nullptr, nullptr, nullptr));
    const ScopedHook<&SetApplicationWindow> application(owner.get());
    CreateForm(ProbeForm);
    EXPECT_EQ(GetWindow(ProbeForm->Handle(), GW_OWNER), owner.get());

    bool ownerEnabledMeanwhile = true;
    HWND nestedOwner = nullptr;
    ActWhenDialogOpens(L"Probe form", [&](HWND) {
        ownerEnabledMeanwhile = IsWindowEnabled(owner.get());
        // A form created while this one shows belongs to it.
        TProbeForm nested;
        nestedOwner = GetWindow(nested.Handle(), GW_OWNER);
        CloseWithOk(nullptr);
    });
    ShowFormModal(ProbeForm, true);
    EXPECT_FALSE(ownerEnabledMeanwhile);
    EXPECT_TRUE(IsWindowEnabled(owner.get()));
    EXPECT_EQ(nestedOwner, probeScript.shownWindow);
}

TEST_F(FormMachineryTest, QuitRequestEndsTheLoopAsCancelAndStaysForTheOuterLoop) {
    ActWhenDialogOpens(L"Probe form", [](HWND) { PostQuitMessage(7); });
    EXPECT_EQ(RunModalForm(ProbeForm), ModalResult::Cancel);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

TEST_F(FormMachineryTest, EnabledLookKeepsOnlyTheRadioButtonProperInTheDialogColour) {
    CreateForm(ProbeForm);
    HWND form = ProbeForm->Handle();
    // A class built on the button class is not the radio button proper.
    WNDCLASSEXW button{};
    button.cbSize = sizeof(button);
    ASSERT_TRUE(GetClassInfoExW(nullptr, L"Button", &button));
    button.lpszClassName = L"KelvraTestRadio";
    button.hInstance = GetModuleHandleW(nullptr);
    RegisterClassExW(&button);

    const auto make = [form](const wchar_t* windowClass, DWORD style) {
        return CreateWindowExW(0, windowClass, L"x", WS_CHILD | WS_VISIBLE | style, 0, 0, 40, 20,
                               form, nullptr, GetModuleHandleW(nullptr), nullptr);
    };
    HWND radio = make(L"BUTTON", BS_AUTORADIOBUTTON);
    HWND plainRadio = make(L"Button", BS_RADIOBUTTON);
    HWND check = make(L"Button", BS_AUTOCHECKBOX);
    HWND derived = make(L"KelvraTestRadio", BS_AUTORADIOBUTTON);
    HWND edit = ProbeForm->Control(L"editName");
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF window = GetSysColor(COLOR_WINDOW);

    for (HWND control : {radio, plainRadio, check, derived, edit})
        SetControlEnabledLook(control, true, RGB(1, 2, 3));
    EXPECT_EQ(ColoursOf(radio, WM_CTLCOLORSTATIC).background, face);
    EXPECT_EQ(ColoursOf(plainRadio, WM_CTLCOLORSTATIC).background, face);
    EXPECT_EQ(ColoursOf(check, WM_CTLCOLORSTATIC).background, window);
    EXPECT_EQ(ColoursOf(derived, WM_CTLCOLORSTATIC).background, window);
    const auto editColours = ColoursOf(edit, WM_CTLCOLOREDIT);
    EXPECT_EQ(editColours.background, window);
    EXPECT_EQ(editColours.brush, window);
    EXPECT_EQ(editColours.text, GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_TRUE(IsWindowEnabled(edit));

    for (HWND control : {radio, check, edit}) {
        SetControlEnabledLook(control, false, RGB(1, 2, 3));
        EXPECT_FALSE(IsWindowEnabled(control));
        const auto colours = ColoursOf(control, WM_CTLCOLORSTATIC);
        EXPECT_EQ(colours.background, face);
        EXPECT_EQ(colours.brush, face);
        EXPECT_EQ(colours.text, RGB(1, 2, 3));
    }
    ProbeForm.reset();
    UnregisterClassW(L"KelvraTestRadio", GetModuleHandleW(nullptr));
}

}  // namespace
}  // namespace kelvra
