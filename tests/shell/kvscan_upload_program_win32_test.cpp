// kvscan.exe --upload from the outside: a run of the test prefix, then the
// payload posted to the account-service stand-in.

#include <gtest/gtest.h>

#include "common/textconv.h"
#include "shell/kvscan_machine_win32.h"
#include "support/account_service_win32.h"

namespace kelvra {
namespace {

using testing::AccountService;

class KvscanUpload : public testing::KvscanMachine {
  protected:
    testing::ProgramResult Scan(const std::wstring& arguments) { return Kvscan(arguments); }

    void StoreAccount(const std::string& user, const std::string& password) {
        WriteFileBytes(data_ / L"settings.ini", "[Account]\r\nUsername=" + user + "\r\nPassword=" +
                                                    password + "\r\nProfile=PC01\r\n");
    }

    std::string Address() const { return WideToAnsi(service_.BaseAddress()); }

    AccountService service_{{testing::kAccountServiceScript, {}}};
};

TEST_F(KvscanUpload, PostsThePayloadOfTheRunWithTheStoredAccount) {
    StoreAccount("user1", "pw");
    const auto result = Scan(L"--upload --service " + service_.BaseAddress());
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_NE(result.output.find("\r\nUpload: answered by " + Address() +
                                 "/kv2/account_post.php\r\nAnswer: OK\r\n"),
              std::string::npos)
        << result.output;

    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& raw = requests[0];
    const std::wstring payload = PathOf(L"PC01", L".txt");
    EXPECT_NE(raw.find("name=\"username\"\r\n\r\nuser1\r\n"), std::string::npos);
    EXPECT_NE(raw.find("name=\"password\"\r\n\r\npw\r\n"), std::string::npos);
    EXPECT_NE(raw.find("name=\"profile\"\r\n\r\nPC01\r\n"), std::string::npos);
    EXPECT_NE(
        raw.find("name=\"apps\"; filename=\"" + WideToAnsi(payload) +
                 "\"\r\nContent-Type: text/plain\r\n\r\n" + ReadFileBytes(payload) + "\r\n--"),
        std::string::npos)
        << raw;

    // --show-upload prints that request, the password masked, and sends
    // nothing: the real request's head, line by line (its boundary and
    // length aside, which differ from run to run), and its body's parts.
    const auto shown = Scan(L"--show-upload --service " + service_.BaseAddress());
    ASSERT_EQ(shown.exitCode, 0u) << shown.output;
    EXPECT_EQ(service_.Requests().size(), 1u);
    const std::string head = raw.substr(0, raw.find("\r\n\r\n") + 2);
    for (std::size_t at = 0, end; (end = head.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        std::string line = head.substr(at, end - at);
        if (line.starts_with("Content-Type:") || line.starts_with("Content-Length:"))
            line = line.substr(0, line.find(':') + 2);
        EXPECT_NE(shown.output.find("\r\n" + line), std::string::npos) << line << shown.output;
    }
    EXPECT_NE(shown.output.find("name=\"username\"\r\n\r\nuser1\r\n"), std::string::npos);
    EXPECT_NE(shown.output.find("name=\"password\"\r\n\r\n********\r\n"), std::string::npos)
        << shown.output;
    EXPECT_EQ(shown.output.find("\r\n\r\npw\r\n"), std::string::npos) << shown.output;
    const std::wstring shownPayload = PathOf(L"PC01", L".txt", 1);  // the second run's
    EXPECT_NE(shown.output.find("name=\"apps\"; filename=\"" + WideToAnsi(shownPayload) +
                                "\"\r\nContent-Type: text/plain\r\n\r\n" +
                                ReadFileBytes(shownPayload) + "\r\n--"),
              std::string::npos)
        << shown.output;

    // The service's text reaches the terminal with its control characters
    // written out: no title change, no colour, no forged line.
    service_.Answer(200, "OK\x1b]0;owned\x07\x1b[31m\r\nOK: 99");
    const auto hostile = Scan(L"--upload --service " + service_.BaseAddress());
    EXPECT_NE(hostile.output.find("\r\nAnswer: OK\\x1b]0;owned\\x07\\x1b[31m\\x0d\\x0aOK: 99\r\n"),
              std::string::npos)
        << hostile.output;
}

TEST_F(KvscanUpload, GivenValuesWinAndNoAnswerHasItsExitCode) {
    StoreAccount("stored", "stored");
    service_.Answer(500, "broken");
    const auto result = Scan(L"--upload --service " + service_.BaseAddress() +
                             L" --user given --password \"g w\" --profile Desk");
    EXPECT_EQ(result.exitCode, 3u) << result.output;
    EXPECT_NE(result.output.find("Upload: no answer from " + Address()), std::string::npos)
        << result.output;
    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("name=\"username\"\r\n\r\ngiven\r\n"), std::string::npos);
    EXPECT_NE(requests[0].find("name=\"password\"\r\n\r\ng w\r\n"), std::string::npos);
    EXPECT_NE(requests[0].find("name=\"profile\"\r\n\r\nDesk\r\n"), std::string::npos);
}

TEST_F(KvscanUpload, AccountThatFailsTheLocalCheckIsNotSent) {
    const auto result = Scan(L"--upload --service " + service_.BaseAddress());
    EXPECT_EQ(result.exitCode, 1u) << result.output;
    EXPECT_NE(result.output.find("not uploaded: No valid username"), std::string::npos)
        << result.output;
    EXPECT_TRUE(service_.Requests().empty());
}

}  // namespace
}  // namespace kelvra
