// The WinHTTP client against a real server: the account-service stand-in,
// and tinyproxy in front of it.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/clock.h"
#include "common/files.h"
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
constexpr char kBoundary[] = "--------120626140509042";

// The head of a raw request, split into its request line and header lines.
struct RequestHead {
    std::string line;
    std::vector<std::string> headers;
    std::string body;
};

RequestHead Split(const std::string& raw) {
    RequestHead head;
    const auto end = raw.find("\r\n\r\n");
    head.body = end == std::string::npos ? "" : raw.substr(end + 4);
    std::string text = raw.substr(0, end);
    std::size_t pos = 0;
    for (bool first = true;; first = false) {
        const auto next = text.find("\r\n", pos);
        const std::string piece = text.substr(pos, next - pos);
        (first ? head.line : head.headers.emplace_back()) = piece;
        if (next == std::string::npos) break;
        pos = next + 2;
    }
    return head;
}

bool HasHeader(const RequestHead& head, const std::string& line) {
    for (const auto& h : head.headers)
        if (h == line) return true;
    return false;
}

bool HasHeaderNamed(const RequestHead& head, const std::string& prefix) {
    for (const auto& h : head.headers)
        if (h.starts_with(prefix)) return true;
    return false;
}

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

TEST_F(WinHttpTest, FormArrivesByteForByteWithOnlyTheExpectedHeaders) {
    const std::string fileBytes("Editor\t1.2\r\nNUL\0and \xFF bytes\r\n--", 32);
    const std::wstring path = service_.Folder() / L"dump_PC01_0.txt";
    WriteFileBytes(path, fileBytes);
    FormData form(kCreated);
    form.AddField(L"username", L"user1");
    form.AddField(L"password", L"p w");
    form.AddFile(L"apps", path, L"text/plain");

    EXPECT_EQ(client_.Post(service_.BaseAddress() + L"/kv2/account_post.php", form), L"OK");

    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const RequestHead head = Split(requests[0]);
    EXPECT_EQ(head.line, "POST /kv2/account_post.php HTTP/1.1");
    EXPECT_TRUE(HasHeader(head, "User-Agent: Mozilla/3.0 (compatible; Indy Library)"));
    EXPECT_TRUE(HasHeader(head, std::string("Content-Type: multipart/form-data; boundary=") + kBoundary));
    EXPECT_TRUE(HasHeader(head, "Host: 127.0.0.1:" + std::to_string(service_.Port())));
    EXPECT_TRUE(HasHeader(head, "Content-Length: " + std::to_string(head.body.size())));
    EXPECT_FALSE(HasHeaderNamed(head, "Proxy-Authorization"));
    EXPECT_FALSE(HasHeaderNamed(head, "Cookie"));
    const std::string b = kBoundary;
    EXPECT_EQ(head.body,
              "--" + b + "\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\nuser1\r\n" +
              "--" + b + "\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\np w\r\n" +
              "--" + b + "\r\nContent-Disposition: form-data; name=\"apps\"; filename=\"" +
              WideToAnsiForTest(path) + "\"\r\nContent-Type: text/plain\r\n\r\n" + fileBytes +
              "\r\n--" + b + "--\r\n");
}

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
    service_.AnswerRaw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nOK, and");
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
    // TLS towards a plain server that waits for a request head: the
    // handshake never completes and the limits end it.
    UseQuickLimits();
    EXPECT_LT(SecondsToFail(L"https://127.0.0.1:" + std::to_wstring(service_.Port()) + L"/x"), 10.0);
}

// ---- through a proxy -------------------------------------------------------

TEST_F(WinHttpTest, NamedProxyGetsBasicCredentialsWithTheFirstRequest) {
    // The stand-in plays the proxy here, so the request is seen as sent.
    client_.SetProxy(L"127.0.0.1", service_.Port(), L"alice", L"s3cret");
    client_.SetBasicProxyAuthentication(true);
    FormData form(kCreated);
    form.AddField(L"username", L"user1");
    EXPECT_EQ(client_.Post(L"http://localhost:8999/kv2/account_test.php", form), L"OK");

    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const RequestHead head = Split(requests[0]);
    EXPECT_EQ(head.line, "POST http://localhost:8999/kv2/account_test.php HTTP/1.1");
    EXPECT_TRUE(HasHeader(head, "Proxy-Authorization: Basic YWxpY2U6czNjcmV0"));
}

TEST_F(WinHttpTest, ProxyWithoutBasicAuthenticationGetsNoCredentials) {
    client_.SetProxy(L"127.0.0.1", service_.Port(), L"", L"s3cret");
    FormData form(kCreated);
    form.AddField(L"username", L"user1");
    EXPECT_EQ(client_.Post(L"http://localhost:8999/kv2/account_test.php", form), L"OK");
    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(HasHeaderNamed(Split(requests[0]), "Proxy-Authorization"));
}

class TinyproxyTest : public ::testing::Test {
protected:
    std::wstring PostThroughProxy(const std::wstring& user, const std::wstring& password) {
        HttpClient client;
        client.SetProxy(L"127.0.0.1", service_.ProxyPort(), user, password);
        client.SetBasicProxyAuthentication(true);
        FormData form(kCreated);
        form.AddField(L"username", L"user1");
        // Wine sends a relative request line when the target's host text is
        // the proxy's, so the service is addressed by name.
        return client.Post(service_.BaseAddress(L"localhost") + L"/kv2/account_test.php", form);
    }

    static int RequestLines(const std::string& log) {
        int count = 0;
        for (auto pos = log.find("Request (file descriptor"); pos != std::string::npos;
             pos = log.find("Request (file descriptor", pos + 1))
            ++count;
        return count;
    }

    AccountService service_{{kAccountServiceScript, "alice:s3cret"}};
};

TEST_F(TinyproxyTest, PostPassesWithCredentialsOnTheFirstRequest) {
    EXPECT_EQ(PostThroughProxy(L"alice", L"s3cret"), L"OK");
    const auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(Split(requests[0]).body.starts_with(std::string("--") + kBoundary));
    // One request line: the proxy never had to ask for the credentials.
    EXPECT_EQ(RequestLines(service_.ProxyLog()), 1) << service_.ProxyLog();
}

TEST_F(TinyproxyTest, WrongCredentialsFailAndNothingArrives) {
    EXPECT_THROW(PostThroughProxy(L"alice", L"wrong"), HttpError);
    EXPECT_TRUE(service_.Requests().empty());
}

}  // namespace
}  // namespace kelvra
