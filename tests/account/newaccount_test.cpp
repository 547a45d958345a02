// The account rules and requests over a transport the test controls.

#include "account/newaccount.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/globals.h"
#include "common/pending_messages.h"
#include "common/tools.h"
#include "http/service_address.h"
#include "support/fake_transport.h"
#include "support/message_boxes.h"
#include "support/saved_log.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

TEST(NameRulesTest, NameCharactersAreDotHyphenUnderscoreDigitsAndAsciiLetters) {
    EXPECT_TRUE(HasOnlyNameChars(L"AZaz09-._"));
    EXPECT_TRUE(HasOnlyNameChars(L""));
    for (const wchar_t* text : {L"user one", L"j\u00F6rg", L"a@b", L"a\tb", L"a/b", L"a+b"})
        EXPECT_FALSE(HasOnlyNameChars(text)) << std::string(text, text + wcslen(text));
}

TEST(NameRulesTest, ValidNameIsNotBlankAndHasNoBlankAnywhere) {
    EXPECT_TRUE(IsValidName(L"user1"));
    EXPECT_TRUE(IsValidName(L"PC01.user1"));
    EXPECT_FALSE(IsValidName(L""));
    EXPECT_FALSE(IsValidName(L"   "));
    EXPECT_FALSE(IsValidName(L" user1")) << "trimming decides emptiness only";
    EXPECT_FALSE(IsValidName(L"user1\r\n"));
    EXPECT_FALSE(IsValidName(L"PC01.\u00EBric"));
}

TEST(NameRulesTest, EmailRule) {
    for (const wchar_t* good :
         {L"x@a.bc", L"first.last@mail.example", L"x@abc.de ", L"x@y@abc.de", L"a_b-c@.bcd"})
        EXPECT_TRUE(IsValidEmail(good)) << std::string(good, good + wcslen(good));
    for (const wchar_t* bad :
         {L"x@ab.c", L"x@abc", L"x@abcd", L"x..y@abc.de", L" x@abc.de", L"@abc.de", L"xabc.de", L"",
          L"   ", L"x@abc.d", L"x@ab..cd", L"j\u00F6rg@abc.de"})
        EXPECT_FALSE(IsValidEmail(bad)) << std::string(bad, bad + wcslen(bad));
}

// Boxes captured, settings and service address restored, answers controlled.
class AccountRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetServiceBaseAddress(L"http://service.test");
        AccountUsername = L"user2";
        AccountPassword = L"stored";
        AccountProfile = L"PC01.user1";
        UseProxy = false;
    }

    // The text fields of the one post, in order, as "name=value".
    std::vector<std::string> PostedFields() const {
        std::vector<std::string> fields;
        if (transport_.Posts().size() != 1) return fields;
        const std::string& body = transport_.Posts()[0].body;
        const std::string marker = "name=\"";
        for (auto pos = body.find(marker); pos != std::string::npos; pos = body.find(marker, pos)) {
            pos += marker.size();
            const auto nameEnd = body.find('"', pos);
            const auto valueStart = body.find("\r\n\r\n", nameEnd) + 4;
            const auto valueEnd = body.find("\r\n--", valueStart);
            fields.push_back(body.substr(pos, nameEnd - pos) + "=" +
                             body.substr(valueStart, valueEnd - valueStart));
        }
        return fields;
    }

    testing::SavedSettings saved_;
    testing::FakeTransport transport_;
    testing::MessageBoxRecorder boxes_;
    std::wstring message_ = L"stale";
};

TEST_F(AccountRequestTest, LocalCheckOfTheStoredValuesSendsNothing) {
    EXPECT_TRUE(TestAccount(false, L"", L"", L"", message_));
    EXPECT_EQ(message_, L"");
    EXPECT_TRUE(transport_.Posts().empty());
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AccountRequestTest, EachValueFailsWithItsOwnMessageAndNoBox) {
    struct Case {
        const wchar_t *user, *password, *profile, *message;
    };
    for (const Case& c : {Case{L"user one", L"pw", L"PC01", L"No valid username"},
                          Case{L" user1", L"pw", L"PC01", L"No valid username"},
                          Case{L"user1", L"", L"PC01", L"No valid password"},
                          Case{L"user1", L"pw", L"PC01 desk", L"No valid profile-name"},
                          Case{L"user1", L"pw", L"PC\u00EB.root", L"No valid profile-name"},
                          Case{L"user1", L"pw", L"", L"No valid profile-name"}}) {
        EXPECT_FALSE(TestAccount(true, c.user, c.password, c.profile, message_));
        EXPECT_EQ(message_, c.message);
    }
    EXPECT_TRUE(TestAccount(false, L"user1", L" ", L"PC01", message_)) << "any password passes";
    EXPECT_TRUE(transport_.Posts().empty());
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AccountRequestTest, EmptyUserNameChecksAllThreeStoredValues) {
    AccountUsername.clear();
    EXPECT_FALSE(TestAccount(false, L"", L"pw", L"PC01", message_));
    EXPECT_EQ(message_, L"No valid username");

    AccountUsername = L"user2";
    AccountProfile = L"bad profile";
    EXPECT_FALSE(TestAccount(false, L"", L"typed", L"Typed.Profile", message_));
    EXPECT_EQ(message_, L"No valid profile-name") << "the typed profile is not used";

    AccountProfile = L"PC01.user1";
    EXPECT_TRUE(TestAccount(true, L"", L"typed", L"Typed.Profile", message_));
    EXPECT_EQ(PostedFields(), (std::vector<std::string>{"username=user2", "password=stored",
                                                        "profile=PC01.user1"}));
}

TEST_F(AccountRequestTest, ServiceAnswerDecidesResultMessageAndBox) {
    struct Case {
        const char* answer;
        bool result;
        const wchar_t* message;
        const wchar_t* box;  // nullptr: none
    };
    for (const Case& c : {Case{" OK\r\n", true, L"Account settings are correct!", nullptr},
                          Case{"ok", false, L"ok", L"ok"},
                          Case{"\r\n Unknown user \r\n", false, L"Unknown user", L"Unknown user"},
                          Case{" \r\n", false, L"Unable to connect", kCannotConnectMessage}}) {
        transport_.Answer(200, c.answer);
        boxes_.clear();
        EXPECT_EQ(TestAccount(true, L"user1", L"pw", L"PC01", message_), c.result) << c.answer;
        EXPECT_EQ(message_, c.message);
        ASSERT_EQ(boxes_.size(), c.box ? 1u : 0u) << c.answer;
        if (c.box) {
            EXPECT_EQ(boxes_[0].text, c.box);
            EXPECT_EQ(boxes_[0].caption, L"Error");
            EXPECT_EQ(boxes_[0].style, kMbOk | kMbIconError);
        }
    }
    EXPECT_EQ(transport_.Posts().back().url, L"http://service.test/kv2/account_test.php");

    transport_.Fail();
    EXPECT_FALSE(TestAccount(true, L"user1", L"pw", L"PC01", message_));
    EXPECT_EQ(message_, L"Unable to connect") << "a failed post is an empty answer";
}

TEST_F(AccountRequestTest, PostThatRaisesMeansErrorConnectingWithoutABox) {
    testing::TempDir dir;
    const testing::LogSwitch log(dir / L"gone\\");  // the trace log cannot be written there
    EXPECT_FALSE(TestAccount(true, L"user1", L"pw", L"PC01", message_));
    EXPECT_EQ(message_, L"Error connecting!");
    EXPECT_TRUE(boxes_.empty());
}

// Records what the request does to its button, and when it pumps the
// pending messages (through the pump it installs while it exists).
class RecordingButton final : public CreateAccountButton {
  public:
    explicit RecordingButton(const testing::FakeTransport& transport)
        : previousPump_(SetPendingMessagePump([this, &transport] {
              events.push_back("pump after " + std::to_string(transport.Posts().size()) + " posts");
          })) {}
    ~RecordingButton() override { SetPendingMessagePump(std::move(previousPump_)); }
    void SetEnabled(bool enabled) override { events.push_back(enabled ? "enable" : "disable"); }
    void SetCaption(const std::wstring& caption) override {
        events.push_back("caption " + std::string(caption.begin(), caption.end()));
    }
    std::vector<std::string> events;

  private:
    PendingMessagePump previousPump_;
};

using Events = std::vector<std::string>;

TEST_F(AccountRequestTest, CreateAccountChecksTheAddressBeforeTheName) {
    RecordingButton button(transport_);
    CreateAccount(L"x@abc", L"user one", button);
    CreateAccount(L"x@abc.de", L"user one", button);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, L"The emailaddress you specified seems to be invalid!");
    EXPECT_EQ(boxes_[1].text, L"The username you specified seems to be invalid!");
    EXPECT_EQ(boxes_[1].caption, L"Error");
    EXPECT_TRUE(transport_.Posts().empty());
    EXPECT_EQ(button.events, (Events{"disable", "caption create", "enable", "disable",
                                     "caption create", "enable"}));
}

TEST_F(AccountRequestTest, CreateAccountShowsTheServicesAnswerAsItIs) {
    transport_.Answer(200, " Account created.\r\nCheck your mail. ");
    RecordingButton button(transport_);
    CreateAccount(L"x@abc.de ", L"newuser", button);

    EXPECT_EQ(transport_.Posts()[0].url, L"http://service.test/kv2/account_new.php");
    EXPECT_EQ(PostedFields(), (std::vector<std::string>{"email=x@abc.de ", "username=newuser"}));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L" Account created.\r\nCheck your mail. ");
    EXPECT_EQ(boxes_[0].caption, ApplicationTitle());
    EXPECT_EQ(boxes_[0].style, kMbOk);
    EXPECT_EQ(button.events, (Events{"disable", "caption working...", "pump after 0 posts",
                                     "caption create", "enable"}));
    EXPECT_EQ(AccountUsername, L"user2") << "nothing is stored";
}

TEST_F(AccountRequestTest, CreateAccountWithoutAnswerCannotConnect) {
    transport_.Fail();
    RecordingButton button(transport_);
    CreateAccount(L"x@abc.de", L"newuser", button);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, kCannotConnectMessage);
    EXPECT_EQ(boxes_[0].caption, L"Error");
}

TEST_F(AccountRequestTest, CreateAccountRestoresTheButtonWhenAnErrorPasses) {
    testing::TempDir dir;
    const testing::LogSwitch log(dir / L"gone\\");
    RecordingButton button(transport_);
    EXPECT_ANY_THROW(CreateAccount(L"x@abc.de", L"newuser", button));
    ASSERT_GE(button.events.size(), 2u);
    EXPECT_EQ(button.events.back(), "enable");
    EXPECT_EQ(button.events[button.events.size() - 2], "caption create");
}

TEST_F(AccountRequestTest, AccountPageAddress) {
    AccountUsername.clear();
    EXPECT_EQ(AccountPageUrl(), L"");
    AccountUsername = L"user1";
    EXPECT_EQ(AccountPageUrl(), L"http://service.test/account/user1/");
    AccountUsername = L"First.Last-2_x";
    EXPECT_EQ(AccountPageUrl(), L"http://service.test/account/First.Last-2_x/");
}

TEST_F(AccountRequestTest, AccountPageAddressEscapesWhatIsNoNameCharacter) {
    // The address reaches a browser's command line: nothing in the name may
    // end the argument, add another, or leave the account path.
    AccountUsername = L"a b\"/../x?y=1&z%";
    EXPECT_EQ(AccountPageUrl(), L"http://service.test/account/a%20b%22%2F..%2Fx%3Fy%3D1%26z%25/");
    AccountUsername = L"j\u00F6rg\U0001F600";
    EXPECT_EQ(AccountPageUrl(), L"http://service.test/account/j%C3%B6rg%F0%9F%98%80/");
}

}  // namespace
}  // namespace kelvra
