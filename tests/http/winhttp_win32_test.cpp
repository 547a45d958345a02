// The WinHTTP client against a real server, the account-service stand-in:
// statuses, answer sizes and encodings, time limits, garbage. The whole
// upload, byte for byte, and the credentials that go to a named proxy only
// when it asks for them (through tinyproxy) are checked in the shell's tests.

#include "common/win32.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <chrono>
#include <optional>
#include <string>

#include "common/clock.h"
#include "http/formdata.h"
#include "http/httpclient.h"
#include "http/transport.h"
#include "support/account_service_win32.h"

namespace kelvra {
namespace {

using testing::AccountService;
using testing::kAccountServiceScript;
using Clock = std::chrono::steady_clock;

const LocalTime kCreated{2026, 12, 6, 14, 5, 9, 42};

class WinHttpTest : public ::testing::Test {
  protected:
    std::wstring Post(const std::wstring& path = L"/kv2/account_test.php") {
        FormData form(kCreated);
        form.AddField(L"username", L"user1");
        return client_.Post(service_.BaseAddress() + path, form);
    }

    // Runs the post and reports how long it took; a post that should fail
    // must fail with HttpError, never hang or crash.
    double SecondsToFail(const std::wstring& url) {
        FormData form(kCreated);
        form.AddField(L"a", L"b");
        const auto start = Clock::now();
        EXPECT_THROW(client_.Post(url, form), HttpError) << "url " << WideToAnsiForTest(url);
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    static std::string WideToAnsiForTest(const std::wstring& text) {
        return std::string(text.begin(), text.end());
    }

    // Short limits, so that a test of a wait that runs out stays short.
    void UseQuickLimits() {
        HttpTimeouts quick;
        quick.resolveMs = quick.connectMs = quick.sendMs = 2000;
        quick.receiveMs = 1500;
        quick.totalReadMs = 3000;
        previous_ = SetHttpTransport(MakePlatformTransport(quick));
        replaced_ = true;
    }
    void TearDown() override {
        if (replaced_) SetHttpTransport(previous_);
    }

    AccountService service_{{kAccountServiceScript, {}}};
    HttpClient client_;
    std::shared_ptr<HttpTransport> previous_;
    bool replaced_ = false;
};

TEST_F(WinHttpTest, OnlyA2xxAnswerGivesItsBody) {
    service_.Answer(201, "made");
    EXPECT_EQ(Post(), L"made");

    service_.Answer(404, "gone");
    EXPECT_THROW(Post(), HttpError);
    service_.Answer(500, "broken");
    EXPECT_THROW(Post(), HttpError);

    // Not followed: the redirect target would show up as another request.
    service_.AnswerRaw("HTTP/1.1 302 Found\r\nLocation: " +
                       std::string(WideToAnsiForTest(service_.BaseAddress())) +
                       "/elsewhere\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_THROW(Post(), HttpError);
    EXPECT_EQ(service_.Requests().size(), 4u);
}

TEST_F(WinHttpTest, AnswerIsUtf8OnlyWhenItSaysSo) {
    service_.Answer(200, "caf\xC3\xA9", "text/plain; charset=UTF-8");
    EXPECT_EQ(Post(), L"caf\u00E9");
    service_.Answer(200, "caf\xE9", "text/html");
    EXPECT_EQ(Post(), L"caf\u00E9") << "Windows-1252 in the test prefix";
}

TEST_F(WinHttpTest, AnswerLargerThanOneMebibyteIsRefused) {
    service_.AnswerLarge(kMaxAnswerBytes, false);
    EXPECT_EQ(Post().size(), kMaxAnswerBytes);

    service_.AnswerLarge(kMaxAnswerBytes + 1, false);
    EXPECT_THROW(Post(), HttpError);
    // Without an announced length the read stops at the limit.
    service_.AnswerLarge(8 * kMaxAnswerBytes, true);
    EXPECT_THROW(Post(), HttpError);
}

TEST_F(WinHttpTest, AnswerCutShortIsAFailure) {
    service_.AnswerRaw(
        "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nOK, and");
    EXPECT_THROW(Post(), HttpError);
}

TEST_F(WinHttpTest, SilentServerIsGivenUpWithinTheTimeLimits) {
    UseQuickLimits();
    service_.AnswerNothing();

    const double seconds = SecondsToFail(service_.BaseAddress() + L"/kv2/account_test.php");
    EXPECT_GE(seconds, 1.0);
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(service_.Requests().size(), 1u) << "the request itself went out whole";
}

TEST_F(WinHttpTest, UnreachableServiceFailsAtOnce) {
    const int port = testing::UnusedLoopbackPort();
    EXPECT_LT(SecondsToFail(L"http://127.0.0.1:" + std::to_wstring(port) + L"/kv2/x.php"), 5.0);
    // A host name that does not resolve (".invalid" never does).
    EXPECT_LT(SecondsToFail(L"http://service.kelvra.invalid/kv2/x.php"), 5.0);
    // TLS towards a plain server that waits for a request head: the
    // handshake never completes and the limits end it.
    UseQuickLimits();
    EXPECT_LT(SecondsToFail(L"https://127.0.0.1:" + std::to_wstring(service_.Port()) + L"/x"),
              10.0);
}

// ---- answers a service should never give ----------------------------------

TEST_F(WinHttpTest, AnswerDrippingAByteAtATimeIsGivenUpWithinTheTimeLimits) {
    UseQuickLimits();
    // Each byte comes well within the wait for the next piece; only the
    // limits on the whole exchange can end it.
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n";
    service_.AnswerDripping(head + std::string(100000, 'x'), 0.02);
    const std::wstring url = service_.BaseAddress() + L"/kv2/account_test.php";
    EXPECT_LT(SecondsToFail(url), 15.0) << "a body dripping in";
    service_.AnswerDripping("HTTP/1.1 200 OK\r\nX-Filler: " + std::string(100000, 'a'), 0.02);
    EXPECT_LT(SecondsToFail(url), 15.0) << "a head that never ends";
}

TEST_F(WinHttpTest, AnswerOfAGibibyteIsRefusedAndNeverHeld) {
    constexpr std::size_t kGibibyte = std::size_t{1} << 30;
    service_.AnswerLarge(kGibibyte, false);  // announced: refused before a byte is read
    EXPECT_THROW(Post(), HttpError);
    service_.AnswerLarge(kGibibyte, true);  // not announced: the read stops at the limit
    EXPECT_THROW(Post(), HttpError);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory));
    EXPECT_LT(memory.PeakWorkingSetSize, std::size_t{128} << 20)
        << "the process never held the answer";
}

TEST_F(WinHttpTest, GarbageInsteadOfAnAnswerIsAFailureOrItsText) {
    using namespace std::string_literals;
    // What each answer gives: a failure, or exactly the bytes that came as
    // text (one character a byte), never more and never a made-up "OK".
    const struct {
        std::string answer;
        std::optional<std::wstring> text;  // none: HttpError
    } cases[] = {
        {"\x00\xFF\xFE\x01 no protocol at all \r\n\r\n\x7F"s, std::nullopt},
        {"HTTP/1.1 OK OK\r\n\r\n", std::nullopt},
        // A length that is no number: read to the close.
        {"HTTP/1.1 200 OK\r\nContent-Length: 12x\r\nConnection: close\r\n\r\nOK", L"OK"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\nzz\r\nOK\r\n",
         std::nullopt},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n\x00\xFF\r\n"s,
         L"\x00\xFF\r\n"s},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "answer " << ::testing::PrintToString(c.answer));
        service_.AnswerRaw(c.answer);
        if (!c.text) {
            EXPECT_THROW(Post(), HttpError);
            continue;
        }
        std::wstring text;
        EXPECT_NO_THROW(text = Post());
        EXPECT_EQ(text, *c.text);
    }
}

}  // namespace
}  // namespace kelvra
