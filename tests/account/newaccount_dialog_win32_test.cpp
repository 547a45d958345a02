// The new-account dialog, opened the user's way through the settings
// dialog's link, against the account-service stand-in.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "account/account_forms_win32.h"
#include "account/dialog_driver_win32.h"
#include "account/settings_dialog.h"
#include "common/globals.h"
#include "common/tools.h"
#include "http/service_address.h"
#include "support/account_service_win32.h"
#include "support/message_boxes.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

using testing::ActWhenDialogOpens;
using testing::Click;
using testing::TextOf;
using testing::TypeText;

class NewAccountDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedFile_ = SettingsFile;
        SettingsFile = dir_ / L"settings.ini";
        boxes_.onBox = [this](const MessageBoxRequest&) {
            HWND button = NewAccountForm ? NewAccountForm->Control(L"SpeedButton1") : nullptr;
            buttonAtBox_.push_back(TextOf(button) +
                                   (IsWindowEnabled(button) ? L"" : L" (disabled)"));
            return onBox_ ? onBox_() : 1;
        };
        SetServiceBaseAddress(service_.BaseAddress());
        UseProxy = false;
        AccountUsername = L"user1";
    }
    void TearDown() override { SettingsFile = savedFile_; }

    // Opens the settings dialog, follows its link and runs the action in the
    // new-account dialog's loop; the action's last step closes that dialog.
    void WithNewAccountDialog(std::function<void(TNewAccountForm&)> action) {
        testing::DialogWatchdog watchdog;
        ActWhenDialogOpens(L"Settings", [&](HWND) {
            ActWhenDialogOpens(L"Create your Kelvra account",
                               [&](HWND) { action(*NewAccountForm); });
            Click(SettingsForm->Control(L"Label1"));
            usernameAfterwards_ = SettingsForm->Text(L"editUsername");
            Click(SettingsForm->Control(L"Button2"));
        });
        EditSettings();
    }

    static HWND Field(std::wstring_view name) { return NewAccountForm->Control(name); }
    static void Create() { Click(Field(L"SpeedButton1")); }
    static void Fill(std::wstring_view email, std::wstring_view username) {
        SetWindowTextW(Field(L"editEmail"), L"");
        SetWindowTextW(Field(L"editUsername"), L"");
        TypeText(Field(L"editEmail"), email);
        TypeText(Field(L"editUsername"), username);
    }
    static void ExpectButtonBack() {
        EXPECT_EQ(TextOf(Field(L"SpeedButton1")), L"create");
        EXPECT_TRUE(IsWindowEnabled(Field(L"SpeedButton1")));
    }

    testing::SavedSettings saved_;
    testing::TempDir dir_;
    testing::AccountService service_{{testing::kAccountServiceScript, {}}};
    testing::MessageBoxRecorder boxes_;
    std::vector<std::wstring> buttonAtBox_;
    std::function<int()> onBox_;
    std::wstring usernameAfterwards_;

  private:
    std::wstring savedFile_;
};

TEST_F(NewAccountDialogTest, CreateShowsTheServicesAnswerAndLeavesTheSettingsAsTheyWere) {
    service_.Answer(200, "Account created, check your mail");
    WithNewAccountDialog([](TNewAccountForm& form) {
        EXPECT_EQ(GetFocus(), Field(L"editEmail"));
        Fill(L"new@example.net ", L"newuser");
        Create();
        ExpectButtonBack();
        EXPECT_EQ(GetFocus(), Field(L"editUsername")) << "the flat button takes no focus";
        EXPECT_TRUE(form.IsShowingModally()) << "the dialog stays open";
        PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Account created, check your mail");
    EXPECT_EQ(boxes_[0].caption, ApplicationTitle()) << "a plain notice";
    EXPECT_EQ(buttonAtBox_[0], L"working... (disabled)");

    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].starts_with("POST /kv2/account_new.php "));
    EXPECT_NE(requests[0].find("name=\"email\"\r\n\r\nnew@example.net \r\n"), std::string::npos)
        << "sent as typed";
    EXPECT_NE(requests[0].find("name=\"username\"\r\n\r\nnewuser\r\n"), std::string::npos);
    EXPECT_EQ(usernameAfterwards_, L"user1");
}

TEST_F(NewAccountDialogTest, InvalidAddressOrNameIsRefusedWithoutAsking) {
    WithNewAccountDialog([](TNewAccountForm& form) {
        Fill(L"user1", L"newuser");
        Create();
        ExpectButtonBack();
        Fill(L"new@example.net", L"new user");
        Create();
        ExpectButtonBack();
        PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    });
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, L"The emailaddress you specified seems to be invalid!");
    EXPECT_EQ(boxes_[1].text, L"The username you specified seems to be invalid!");
    EXPECT_EQ(boxes_[1].caption, L"Error");
    EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(NewAccountDialogTest, ErrorEscapingTheRequestIsShownAndTheButtonComesBack) {
    service_.Answer(200, "Account created");
    onBox_ = [calls = 0]() mutable -> int {
        if (calls++ == 0) throw std::runtime_error("the box failed");
        return 1;
    };
    WithNewAccountDialog([](TNewAccountForm& form) {
        Fill(L"new@example.net", L"newuser");
        Create();
        ExpectButtonBack();
        EXPECT_TRUE(form.IsShowingModally());
        PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    });
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, L"the box failed");
    EXPECT_EQ(boxes_[1].style, kMbOk | kMbIconError);
}

}  // namespace
}  // namespace kelvra
