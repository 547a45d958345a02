// The account test and the new-account request against the account-service
// stand-in, through the real WinHTTP client.

#include "support/account_service_win32.h"

#include <gtest/gtest.h>

#include <vector>

#include "account/newaccount.h"
#include "common/globals.h"
#include "common/tools.h"
#include "http/service_address.h"
#include "support/message_boxes.h"
#include "support/saved_settings.h"

namespace kelvra {
namespace {

using testing::AccountService;
using testing::kAccountServiceScript;

class AccountServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseProxy = false;
        SetServiceBaseAddress(service_.BaseAddress());
    }

    bool Test() { return TestAccount(true, L"user1", L"pw", L"PC01.user1", message_); }

    static std::string BodyOf(const std::string& raw) {
        return raw.substr(raw.find("\r\n\r\n") + 4);
    }

    testing::SavedSettings saved_;
    AccountService service_{{kAccountServiceScript, {}}};
    testing::MessageBoxRecorder boxes_;
    std::wstring message_;
};

TEST_F(AccountServiceTest, OkAmidBlanksAndLineEndsAcceptsTheAccount) {
    service_.Answer(200, "  OK\r\n");
    EXPECT_TRUE(Test());
    EXPECT_EQ(message_, L"Account settings are correct!");
    EXPECT_TRUE(boxes_.empty());

    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].starts_with("POST /kv2/account_test.php HTTP/1.1\r\n"));
    const std::string body = BodyOf(requests[0]);
    const auto user = body.find("name=\"username\"\r\n\r\nuser1\r\n");
    const auto password = body.find("name=\"password\"\r\n\r\npw\r\n");
    const auto profile = body.find("name=\"profile\"\r\n\r\nPC01.user1\r\n");
    EXPECT_LT(user, password);
    EXPECT_LT(password, profile);
    EXPECT_NE(profile, std::string::npos) << body;
}

TEST_F(AccountServiceTest, LowerCaseOkIsShownAsAnError) {
    service_.Answer(200, "ok");
    EXPECT_FALSE(Test());
    EXPECT_EQ(message_, L"ok");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"ok");
    EXPECT_EQ(boxes_[0].caption, L"Error");
}

TEST_F(AccountServiceTest, EmptyAnswerErrorStatusAndNoServiceAllMeanUnableToConnect) {
    service_.Answer(200, "");
    EXPECT_FALSE(Test());
    EXPECT_EQ(message_, L"Unable to connect");
    service_.Answer(500, "OK");
    EXPECT_FALSE(Test());
    EXPECT_EQ(message_, L"Unable to connect");
    SetServiceBaseAddress(L"http://127.0.0.1:" + std::to_wstring(testing::UnusedLoopbackPort()));
    EXPECT_FALSE(Test());
    EXPECT_EQ(message_, L"Unable to connect");

    ASSERT_EQ(boxes_.size(), 3u);
    for (const auto& box : boxes_) {
        EXPECT_EQ(box.text, kCannotConnectMessage);
        EXPECT_EQ(box.caption, L"Error");
    }
}

class NullButton final : public CreateAccountButton {
  public:
    void SetEnabled(bool) override {}
    void SetCaption(const std::wstring&) override {}
};

TEST_F(AccountServiceTest, NewAccountAnswerIsShownAsANotice) {
    service_.Answer(200, "Welcome, newuser!", "text/plain; charset=utf-8");
    NullButton button;
    CreateAccount(L"new.user@mail.example", L"newuser", button);

    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Welcome, newuser!");
    EXPECT_EQ(boxes_[0].style, kMbOk);
    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].starts_with("POST /kv2/account_new.php HTTP/1.1\r\n"));
    const std::string body = BodyOf(requests[0]);
    EXPECT_NE(body.find("name=\"email\"\r\n\r\nnew.user@mail.example\r\n"), std::string::npos);
    EXPECT_NE(body.find("name=\"username\"\r\n\r\nnewuser\r\n"), std::string::npos);
}

TEST_F(AccountServiceTest, NewAccountWithoutServiceCannotConnect) {
    SetServiceBaseAddress(L"http://127.0.0.1:" + std::to_wstring(testing::UnusedLoopbackPort()));
    NullButton button;
    CreateAccount(L"new.user@mail.example", L"newuser", button);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, kCannotConnectMessage);
    EXPECT_EQ(boxes_[0].caption, L"Error");
}

}  // namespace
}  // namespace kelvra
