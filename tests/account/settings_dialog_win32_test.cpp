// The settings dialog as the user meets it: opened through EditSettings,
// driven inside its own modal loop with clicks, keys and typing.

#include "common/win32.h"

#include "account/settings_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "account/account_forms_win32.h"
#include "account/dialog_driver_win32.h"
#include "account/settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/pending_messages.h"
#include "common/tools.h"
#include "common/ui_win32.h"
#include "http/service_address.h"
#include "support/account_service_win32.h"
#include "support/message_boxes.h"
#include "support/process_win32.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

using testing::ActWhenDialogOpens;
using testing::Click;
using testing::ColoursOf;
using testing::PressKey;
using testing::TextOf;
using testing::TypeText;

constexpr wchar_t kSettingsCaption[] = L"Settings";
constexpr wchar_t kNewAccountCaption[] = L"Create your Kelvra account";
const wchar_t* const kProxyFields[] = {L"editProxyServer", L"editProxyPort", L"editProxyUsername",
                                       L"editProxyPassword"};

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedFile_ = SettingsFile;
        SettingsFile = dir_ / L"settings.ini";
        UseProxy = false;
        ProxyServer = L"proxy.local";
        ProxyPort = 3128;
        ProxyUsername = L"pu";
        ProxyPassword = L"pp";
        AccountUsername = L"user1";
        AccountPassword = L"secret";
        AccountProfile = L"PC01.user1";
    }
    void TearDown() override { SettingsFile = savedFile_; }

    // Runs EditSettings with the action inside the dialog's modal loop; the
    // action ends by leaving the dialog.
    void Edit(std::function<void(TSettingsForm&)> action) {
        testing::DialogWatchdog watchdog;
        ActWhenDialogOpens(kSettingsCaption, [action](HWND) { action(*SettingsForm); });
        EditSettings();
        EXPECT_EQ(SettingsForm, nullptr);
    }

    static HWND Field(std::wstring_view name) { return SettingsForm->Control(name); }
    static void ShowConnectionPage() {
        // A click on the second tab, where the page control shows it.
        HWND pages = Field(L"PageControl1");
        RECT tab;
        SendMessageW(pages, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&tab));
        const LPARAM point = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
        PostMessageW(pages, WM_LBUTTONDOWN, MK_LBUTTON, point);
        PostMessageW(pages, WM_LBUTTONUP, 0, point);
        testing::Pump();
    }

    testing::SavedSettings saved_;
    testing::TempDir dir_;
    testing::MessageBoxRecorder boxes_;

  private:
    std::wstring savedFile_;
};

TEST_F(SettingsDialogTest, OpensCentredOnTheFirstPageWithTheValuesAndTheFocusInUsername) {
    Edit([](TSettingsForm& form) {
        EXPECT_EQ(form.ShownPage(), L"TabSheet1");
        EXPECT_EQ(GetFocus(), Field(L"editUsername"));
        EXPECT_EQ(form.Text(L"editUsername"), L"user1");
        EXPECT_EQ(form.Text(L"editPassword"), L"secret");
        EXPECT_EQ(form.Text(L"editProfile"), L"PC01.user1");
        EXPECT_FALSE(form.Checked(L"checkProxy"));
        EXPECT_EQ(form.Text(L"editProxyServer"), L"proxy.local");
        EXPECT_EQ(form.Text(L"editProxyPort"), L"3128");
        EXPECT_EQ(form.Text(L"editProxyUsername"), L"pu");
        EXPECT_EQ(form.Text(L"editProxyPassword"), L"pp");
        EXPECT_EQ(form.Text(L"labAccountTest"), L"") << "emptied on show";

        RECT frame;
        GetWindowRect(form.Handle(), &frame);
        EXPECT_NEAR(frame.left + frame.right, GetSystemMetrics(SM_CXSCREEN), 1);
        EXPECT_NEAR(frame.top + frame.bottom, GetSystemMetrics(SM_CYSCREEN), 1);
        EXPECT_EQ(testing::PixelOf(form.Handle(), 4, 4), GetSysColor(COLOR_BTNFACE));
        Click(Field(L"Button2"));
    });
}

TEST_F(SettingsDialogTest, ProxyFieldsAreGreyOnTheDialogColourUntilUseProxyIsTicked) {
    const auto expectLook = [](bool enabled) {
        for (const wchar_t* name : kProxyFields) {
            SCOPED_TRACE(std::string(name, name + wcslen(name)));
            HWND field = Field(name);
            EXPECT_EQ(IsWindowEnabled(field) != FALSE, enabled);
            // A disabled edit asks for the static colours, an enabled one for
            // the edit colours.
            const auto colours = ColoursOf(field, enabled ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC);
            const COLORREF background = GetSysColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE);
            EXPECT_EQ(colours.text, enabled ? GetSysColor(COLOR_WINDOWTEXT) : RGB(128, 128, 128));
            EXPECT_EQ(colours.background, background);
            EXPECT_EQ(colours.brush, background);
            RECT client;
            GetClientRect(field, &client);
            EXPECT_EQ(testing::PixelOf(field, client.right - 2, client.bottom / 2), background);
        }
        EXPECT_TRUE(IsWindowEnabled(Field(L"checkProxy")));
    };
    Edit([&](TSettingsForm& form) {
        ShowConnectionPage();
        EXPECT_EQ(form.ShownPage(), L"TabSheet2");
        expectLook(false);
        Click(Field(L"checkProxy"));
        EXPECT_TRUE(form.Checked(L"checkProxy"));
        expectLook(true);
        Click(Field(L"checkProxy"));
        expectLook(false);
        Click(Field(L"Button2"));
    });

    UseProxy = true;
    Edit([&](TSettingsForm&) {
        ShowConnectionPage();
        expectLook(true);
        Click(Field(L"Button2"));
    });
}

TEST_F(SettingsDialogTest, TypingInAnAccountFieldEmptiesTheTestResultAndTypingElsewhereDoesNot) {
    UseProxy = true;
    Edit([](TSettingsForm& form) {
        for (const wchar_t* name : {L"editUsername", L"editPassword", L"editProfile"}) {
            form.SetText(L"labAccountTest", L"Account settings are correct!");
            TypeText(Field(name), L"x");
            EXPECT_EQ(form.Text(L"labAccountTest"), L"") << std::string(name, name + wcslen(name));
        }
        form.SetText(L"labAccountTest", L"Account settings are correct!");
        ShowConnectionPage();
        for (const wchar_t* name : kProxyFields) TypeText(Field(name), L"1");
        Click(Field(L"checkProxy"));
        EXPECT_EQ(form.Text(L"labAccountTest"), L"Account settings are correct!");
        Click(Field(L"Button2"));
    });
}

TEST_F(SettingsDialogTest, SaveWritesTheEightKeysAsTypedAndReloadsThem) {
    ProxyPort = 0;
    Edit([](TSettingsForm&) {
        TypeText(Field(L"editUsername"), L"2");
        ShowConnectionPage();
        Click(Field(L"checkProxy"));
        TypeText(Field(L"editProxyPort"), L"x1F90");
        Click(Field(L"Button1"));
    });
    EXPECT_EQ(ReadFileBytes(SettingsFile),
              "[Proxy]\r\nUse proxy=1\r\nServer=proxy.local\r\nPort=0x1F90\r\nUsername=pu\r\n"
              "Password=pp\r\n\r\n[Account]\r\nUsername=user12\r\nPassword=secret\r\n"
              "Profile=PC01.user1\r\n");
    EXPECT_TRUE(UseProxy);
    EXPECT_EQ(ProxyPort, 8080);
    EXPECT_EQ(AccountUsername, L"user12");
}

TEST_F(SettingsDialogTest, CancelAndTheCloseBoxWriteNothingAndReloadTheFile) {
    Edit([](TSettingsForm&) {
        TypeText(Field(L"editUsername"), L"2");
        Click(Field(L"Button2"));
    });
    EXPECT_FALSE(FileExists(SettingsFile));
    EXPECT_EQ(AccountUsername, L"") << "reloaded from the missing file";

    SaveSettings({L"0", L"file.proxy", L"81", L"", L"", L"fileuser", L"filepw", L"FILE.pc"});
    const std::string before = ReadFileBytes(SettingsFile);
    for (const UINT how : {WM_CLOSE, WM_SYSCOMMAND}) {
        AccountUsername = L"memory";
        Edit([how](TSettingsForm& form) {
            EXPECT_EQ(form.Text(L"editUsername"), L"memory");
            TypeText(Field(L"editUsername"), L"2");
            // The close box and the system menu's Close.
            PostMessageW(form.Handle(), how, how == WM_SYSCOMMAND ? SC_CLOSE : 0, 0);
            testing::Pump();
        });
        EXPECT_EQ(ReadFileBytes(SettingsFile), before);
        EXPECT_EQ(AccountUsername, L"fileuser");
        EXPECT_EQ(ProxyPort, 81);
    }
}

TEST_F(SettingsDialogTest, NeitherEnterNorEscapeClosesTheDialog) {
    Edit([](TSettingsForm& form) {
        for (const UINT key : {VK_RETURN, VK_ESCAPE}) {
            PressKey(key);
            EXPECT_TRUE(form.IsShowingModally());
            EXPECT_TRUE(IsWindowVisible(form.Handle()));
        }
        ShowConnectionPage();
        SetFocus(Field(L"checkProxy"));
        PressKey(VK_ESCAPE);
        PressKey(VK_RETURN);
        EXPECT_TRUE(form.IsShowingModally());
        Click(Field(L"Button2"));
    });
    EXPECT_FALSE(FileExists(SettingsFile));
}

TEST_F(SettingsDialogTest, TabWalksTheLaidOutOrderSkippingGreyedFieldsAndCtrlTabTurnsPages) {
    Edit([](TSettingsForm& form) {
        const auto walk = [](bool backwards, std::vector<const wchar_t*> names) {
            for (const wchar_t* name : names) {
                PressKey(VK_TAB, backwards);
                EXPECT_EQ(GetFocus(), Field(name)) << std::string(name, name + wcslen(name));
            }
        };
        walk(false, {L"editPassword", L"editProfile", L"Button1", L"Button2", L"PageControl1",
                     L"editUsername"});
        walk(true, {L"PageControl1", L"Button2"});

        PressKey(VK_TAB, false, true);
        EXPECT_EQ(form.ShownPage(), L"TabSheet2");
        SetFocus(Field(L"PageControl1"));
        walk(false, {L"checkProxy", L"Button1"});
        Click(Field(L"checkProxy"));
        walk(false, {L"editProxyServer", L"editProxyPort", L"editProxyUsername",
                     L"editProxyPassword", L"Button1"});
        PressKey(VK_TAB, true, true);
        EXPECT_EQ(form.ShownPage(), L"TabSheet1");
        Click(Field(L"Button2"));
    });
}

TEST_F(SettingsDialogTest, FailedSaveRaisesToTheCallerAfterFreeingTheDialogWithoutReloading) {
    SettingsFile = dir_ / L"missing\\settings.ini";
    HWND dialog = nullptr;
    testing::DialogWatchdog watchdog;
    ActWhenDialogOpens(kSettingsCaption, [&](HWND window) {
        dialog = window;
        Click(Field(L"Button1"));
    });
    try {
        EditSettings();
        ADD_FAILURE() << "the save did not fail";
    } catch (const KelvraError& error) {
        EXPECT_EQ(error.message(), L"Unable to write to " + SettingsFile);
    }
    EXPECT_EQ(SettingsForm, nullptr);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(ProxyPort, 3128) << "a reload would have read the defaults";
}

TEST_F(SettingsDialogTest, SecondRequestWhileOpenLeavesTheOpenDialogAlone) {
    Edit([](TSettingsForm& form) {
        TypeText(Field(L"editUsername"), L"2");
        EditSettings();
        ASSERT_EQ(SettingsForm.get(), &form);
        EXPECT_TRUE(form.IsShowingModally());
        EXPECT_EQ(form.Text(L"editUsername"), L"user12");
        Click(Field(L"Button1"));
    });
    EXPECT_EQ(AccountUsername, L"user12");
}

TEST_F(SettingsDialogTest, LinkIsBlueUnderlinedWithAHandAndDisabledWhileItsDialogIsOpen) {
    Edit([](TSettingsForm& form) {
        HWND link = Field(L"Label1");
        EXPECT_EQ(ColoursOf(link, WM_CTLCOLORSTATIC).text, RGB(0, 0, 255));
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0)), sizeof(font),
                   &font);
        EXPECT_TRUE(font.lfUnderline);
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        SendMessageW(GetParent(link), WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

        TypeText(Field(L"editProfile"), L"X");
        bool linkEnabled = true;
        bool settingsEnabled = true;
        HWND newAccountOwner = nullptr;
        ActWhenDialogOpens(kNewAccountCaption, [&](HWND newAccount) {
            linkEnabled = IsWindowEnabled(link);
            settingsEnabled = IsWindowEnabled(form.Handle());
            newAccountOwner = GetWindow(newAccount, GW_OWNER);
            EXPECT_EQ(GetFocus(), NewAccountForm->Control(L"editEmail"));
            PostMessageW(newAccount, WM_CLOSE, 0, 0);
        });
        Click(link);
        EXPECT_FALSE(linkEnabled);
        EXPECT_FALSE(settingsEnabled);
        EXPECT_EQ(newAccountOwner, form.Handle());
        EXPECT_EQ(NewAccountForm, nullptr);
        EXPECT_TRUE(IsWindowEnabled(link));
        EXPECT_TRUE(IsWindowEnabled(form.Handle()));
        EXPECT_EQ(form.Text(L"editProfile"), L"PC01.user1X");
        Click(Field(L"Button2"));
    });
}

// ---- the test button against the account-service stand-in --------------------

class AccountTestButtonTest : public SettingsDialogTest {
  protected:
    void SetUp() override {
        SettingsDialogTest::SetUp();
        SetServiceBaseAddress(service_.BaseAddress());
    }

    // The test button as a box sees it, while the request is under way.
    struct ButtonState {
        std::wstring caption;
        bool enabled = true;
    };
    void RecordButtonAtEachBox() {
        boxes_.onBox = [this](const MessageBoxRequest&) {
            HWND button = Field(L"butTestAccount");
            buttonAtBox_.push_back({TextOf(button), IsWindowEnabled(button) != FALSE});
            return 1;
        };
    }
    static void ExpectResult(const TSettingsForm& form, const std::wstring& text, COLORREF colour) {
        HWND label = Field(L"labAccountTest");
        EXPECT_EQ(form.Text(L"labAccountTest"), text);
        EXPECT_EQ(ColoursOf(label, WM_CTLCOLORSTATIC).text, colour);
        HWND button = Field(L"butTestAccount");
        EXPECT_EQ(TextOf(button), L"test account settings");
        EXPECT_TRUE(IsWindowEnabled(button));
    }

    testing::AccountService service_{{testing::kAccountServiceScript, {}}};
    std::vector<ButtonState> buttonAtBox_;
};

TEST_F(AccountTestButtonTest, GreenOnOkForTheFieldsAsTypedAndRedForALocalFault) {
    service_.Answer(200, "OK");
    AccountPassword = L"";
    Edit([](TSettingsForm& form) {
        Click(Field(L"butTestAccount"));
        ExpectResult(form, L"No valid password", RGB(255, 0, 0));
        EXPECT_EQ(GetFocus(), Field(L"editUsername")) << "the flat button takes no focus";

        TypeText(Field(L"editPassword"), L"typed");
        TypeText(Field(L"editUsername"), L"x");
        Click(Field(L"butTestAccount"));
        ExpectResult(form, L"Account settings are correct!", RGB(0, 128, 0));
        // The label grew to the left of the button for its longer text.
        RECT label;
        RECT button;
        GetWindowRect(Field(L"labAccountTest"), &label);
        GetWindowRect(Field(L"butTestAccount"), &button);
        EXPECT_LE(label.right, button.left);
        Click(Field(L"Button2"));
    });
    EXPECT_TRUE(boxes_.empty());
    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u) << "the local fault asked nothing";
    EXPECT_NE(requests[0].find("name=\"username\"\r\n\r\nuser1x\r\n"), std::string::npos);
    EXPECT_NE(requests[0].find("name=\"password\"\r\n\r\ntyped\r\n"), std::string::npos);
}

TEST_F(AccountTestButtonTest, RedWithTheServicesTextAndWorkingCaptionWhileTheBoxShows) {
    service_.Answer(200, "Unknown user\r\n");
    RecordButtonAtEachBox();
    Edit([](TSettingsForm& form) {
        Click(Field(L"butTestAccount"));
        ExpectResult(form, L"Unknown user", RGB(255, 0, 0));
        Click(Field(L"Button2"));
    });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Unknown user");
    ASSERT_EQ(buttonAtBox_.size(), 1u);
    EXPECT_EQ(buttonAtBox_[0].caption, L"working ...");
    EXPECT_FALSE(buttonAtBox_[0].enabled);
}

// In the tray program the wait for a slow service serves the window
// messages: the dialog stays alive meanwhile, and the button stays disabled
// until the answer is in.
TEST_F(AccountTestButtonTest, ASlowServiceLeavesTheDialogServedAndTheButtonDisabled) {
    service_.AnswerDripping("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK",
                            0.02);
    std::vector<ButtonState> whileServed;
    const auto previous = SetPendingMessagePump([&] {
        HWND button = Field(L"butTestAccount");
        whileServed.push_back({TextOf(button), IsWindowEnabled(button) != FALSE});
        PumpWindowMessages();
    });
    Edit([](TSettingsForm& form) {
        Click(Field(L"butTestAccount"));
        ExpectResult(form, L"Account settings are correct!", RGB(0, 128, 0));
        Click(Field(L"Button2"));
    });
    SetPendingMessagePump(previous);
    ASSERT_FALSE(whileServed.empty()) << "messages were served while the service dripped";
    for (const ButtonState& state : whileServed) {
        EXPECT_EQ(state.caption, L"working ...");
        EXPECT_FALSE(state.enabled);
    }
}

TEST_F(AccountTestButtonTest, ErrorEscapingTheTestIsShownAndTheButtonComesBack) {
    service_.Answer(200, "Unknown user");
    boxes_.onBox = [calls = 0](const MessageBoxRequest&) mutable -> int {
        if (calls++ == 0) throw std::runtime_error("the box failed");
        return 1;
    };
    Edit([](TSettingsForm& form) {
        Click(Field(L"butTestAccount"));
        ExpectResult(form, L"", GetSysColor(COLOR_WINDOWTEXT));
        EXPECT_TRUE(form.IsShowingModally());
        Click(Field(L"Button2"));
    });
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, L"the box failed");
    EXPECT_EQ(boxes_[1].caption, ApplicationTitle());
    EXPECT_EQ(boxes_[1].style, kMbOk | kMbIconError);
}

}  // namespace
}  // namespace kelvra
