// The upload through the real WinHTTP client to the account-service
// stand-in, directly and through tinyproxy, with the proxy of the settings.

#include "shell/upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "common/clock.h"
#include "common/files.h"
#include "common/globals.h"
#include "http/service_address.h"
#include "support/account_service_win32.h"
#include "support/fixed_clock.h"
#include "support/saved_log.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

using testing::AccountService;
using testing::kAccountServiceScript;

constexpr char kB[] = "--------120626140509042";

std::string Ansi(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class UploadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::SavedSettings::ClearProxy();
        AccountUsername = L"user1";
        AccountPassword = L"pass word";
        AccountProfile = L"PC01.user1";
    }

    // A payload as a run writes it, with bytes a text conversion would harm.
    std::wstring Payload(const AccountService& service) {
        const std::wstring path = service.Folder() / L"dump_PC01.user1_0.txt";
        WriteFileBytes(path, kPayload);
        return path;
    }

    std::string ExpectedBody(const std::wstring& payload) const {
        const std::string b = kB;
        return "--" + b + "\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\nuser1\r\n" +
               "--" + b +
               "\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\npass word\r\n" + "--" +
               b + "\r\nContent-Disposition: form-data; name=\"profile\"\r\n\r\nPC01.user1\r\n" +
               "--" + b + "\r\nContent-Disposition: form-data; name=\"apps\"; filename=\"" +
               Ansi(payload) + "\"\r\nContent-Type: text/plain\r\n\r\n" + kPayload + "\r\n" + "--" +
               b + "--\r\n";
    }

    // The service at "localhost" behind the proxy on 127.0.0.1 with the
    // stand-in's credentials. Named, not 127.0.0.1: Wine sends a relative
    // request line when the target's host text equals the proxy's.
    static void ReachThroughTheProxy(const AccountService& service) {
        SetServiceBaseAddress(service.BaseAddress(L"localhost"));
        UseProxy = true;
        ProxyServer = L"127.0.0.1";
        ProxyPort = service.ProxyPort();
        ProxyUsername = L"alice";
        ProxyPassword = L"s3cret";
    }

    static std::string BodyOf(const std::string& raw) {
        return raw.substr(raw.find("\r\n\r\n") + 4);
    }

    const std::string kPayload{"Caf\xE9 Editor\t1.2.3\r\nTools\t\r\n\0\x1A--\r\n", 33};
    testing::SavedSettings saved_;
    testing::FixedClock clock_;
};

TEST_F(UploadTest, ArrivesExactlyAsTheFormIsWritten) {
    AccountService service({kAccountServiceScript, {}});
    SetServiceBaseAddress(service.BaseAddress());
    const std::wstring payload = Payload(service);

    const UploadResult result = UploadInventory(payload);
    EXPECT_TRUE(result.sent);
    EXPECT_EQ(result.answer, L"OK");

    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& raw = requests[0];
    const std::string body = BodyOf(raw);
    EXPECT_EQ(body, ExpectedBody(payload));
    // Besides the form's type only what WinHTTP sends of its own accord.
    std::vector<std::string> head;
    for (std::size_t pos = 0; pos < raw.size() - body.size() - 2;) {
        const auto next = raw.find("\r\n", pos);
        head.push_back(raw.substr(pos, next - pos));
        pos = next + 2;
    }
    std::sort(head.begin() + 1, head.end());
    EXPECT_EQ(head, (std::vector<std::string>{
                        "POST /kv2/account_post.php HTTP/1.1",
                        "Connection: Keep-Alive",
                        "Content-Length: " + std::to_string(body.size()),
                        std::string("Content-Type: multipart/form-data; boundary=") + kB,
                        "Host: 127.0.0.1:" + std::to_string(service.Port()),
                        "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
                    }));
}

TEST_F(UploadTest, UseProxyWithoutAServerGoesStraightToTheService) {
    AccountService service({kAccountServiceScript, {}});
    SetServiceBaseAddress(service.BaseAddress());
    UseProxy = true;
    ProxyPort = 3128;
    ProxyUsername = L"alice";

    EXPECT_EQ(UploadInventory(Payload(service)).answer, L"OK");
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].starts_with("POST /kv2/account_post.php HTTP/1.1\r\n"));
    EXPECT_EQ(requests[0].find("Proxy-Authorization"), std::string::npos);
}

class UploadThroughProxyTest : public UploadTest {
  protected:
    void SetUp() override {
        UploadTest::SetUp();
        ReachThroughTheProxy(service_);
    }

    AccountService service_{{kAccountServiceScript, "alice:s3cret"}};
};

// The proxy credentials of the settings go to the proxy only when the proxy
// itself asks for them (407 to a HEAD of an address under .invalid, which no
// other server can answer), and never reach anyone else: not through a proxy
// that needs none (which would pass a header on), not a service that answers
// 407 to everything, not inside an https tunnel. Each upload reaches the
// service at most once, also when the proxy resets it (the service may
// already have it; a reset is no request for credentials), and each refusal
// leaves one line in the log. Twice each, so that a second post cannot ride
// on the first one's connection.
TEST_F(UploadTest, ProxyCredentialsOnlyAnswerTheProxysChallengeAndNeverReachTheService) {
    enum Proxy { kAsks, kNeedsNone, kStandIn };  // kStandIn: the stand-in is the proxy
    const struct {
        const char* what;
        Proxy proxy;
        bool https;
        const char* answer;  // the stand-in's: "" OK, "407", or "reset VERB"
        bool posted;         // each upload arrives, once
        const char* logged;  // the log's line of the failure, "" none
    } cases[] = {
        {"a proxy that asks, http", kAsks, false, "", true, ""},
        {"a proxy that asks, https", kAsks, true, "", true, ""},
        {"a proxy that needs none, http", kNeedsNone, false, "", true, ""},
        {"a proxy that needs none, https", kNeedsNone, true, "", true, ""},
        {"a service that answers 407, http", kNeedsNone, false, "407", true,
         "Proxy: 407 to the post, but the proxy did not ask"},
        {"a service that answers 407, https", kNeedsNone, true, "407", true,
         "Proxy: 407 to the post, but the proxy did not ask"},
        {"a proxy that answers 407 to everything", kStandIn, false, "407", true,
         "Proxy: 407 to the post with the credentials"},
        {"a proxy that resets the check", kStandIn, false, "reset HEAD", false,
         "Proxy: the check of the proxy failed"},
        {"a proxy that needs none and resets the post", kStandIn, false, "reset POST", true, ""},
    };
    // Before the process first uses a certificate store.
    const testing::TrustedCertificate trusted(testing::kLocalhostCertificate);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AccountService service({kAccountServiceScript, c.proxy == kAsks ? "alice:s3cret" : "",
                                c.https ? testing::kLocalhostCertificate : "",
                                c.proxy == kNeedsNone});
        ReachThroughTheProxy(service);
        // It records whatever a proxy would get, headers and all.
        if (c.proxy == kStandIn) ProxyPort = service.Port();
        const std::string answer = c.answer;
        if (answer == "407") service.Answer(407, "Proxy Authentication Required");
        if (answer.starts_with("reset ")) service.ResetRequestsOf(answer.substr(6));
        const std::wstring payload = Payload(service);
        const testing::TempDir logDir;
        const testing::LogSwitch log(logDir.path());
        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE(round);
            const bool ok = c.proxy != kStandIn && answer.empty();
            EXPECT_EQ(UploadInventory(payload).answer, ok ? L"OK" : L"");
            std::vector<std::string> posts;
            for (const std::string& request : service.Requests()) {
                if (request.starts_with("POST ")) posts.push_back(request);
                // Only the proxy may get them, and only after its 407 to the check.
                if (c.proxy == kStandIn && request.starts_with("POST ") && answer == "407")
                    continue;
                EXPECT_EQ(request.find("Proxy-Authorization"), std::string::npos) << request;
                EXPECT_EQ(request.find("YWxpY2U6czNjcmV0"), std::string::npos);
                // The check never reaches the service.
                if (!request.starts_with("POST "))
                    EXPECT_TRUE(c.proxy == kStandIn &&
                                request.starts_with("HEAD http://kelvra-proxy-check.invalid:80/ "))
                        << request;
            }
            ASSERT_EQ(posts.size(), c.posted ? static_cast<std::size_t>(round) : 0u)
                << "each upload at most once";
            if (c.posted) EXPECT_EQ(BodyOf(posts.back()), ExpectedBody(payload));
        }
        const std::string lines = ReadFileBytes(logDir / L"logreg.txt");
        std::size_t refusals = 0;
        for (auto at = lines.find("> Proxy: "); at != std::string::npos;
             at = lines.find("> Proxy: ", at + 1))
            ++refusals;
        EXPECT_EQ(refusals, *c.logged ? 2u : 0u) << lines;
        if (*c.logged) EXPECT_NE(lines.find(c.logged), std::string::npos) << lines;
        if (c.https) {
            const std::string proxyLog = service.ProxyLog();
            EXPECT_NE(proxyLog.find("CONNECT localhost:" + std::to_string(service.Port())),
                      std::string::npos)
                << proxyLog;
        }
    }
}

TEST_F(UploadThroughProxyTest, RefusedCredentialsGiveAnEmptyAnswer) {
    ProxyPassword = L"wrong";
    EXPECT_EQ(UploadInventory(Payload(service_)).answer, L"");
    ProxyUsername.clear();  // no credentials at all
    EXPECT_EQ(UploadInventory(Payload(service_)).answer, L"");
    EXPECT_TRUE(service_.Requests().empty());
}

}  // namespace
}  // namespace kelvra
