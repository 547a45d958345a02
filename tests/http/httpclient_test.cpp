#include "http/httpclient.h"

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/utf8.h"
#include "http/service_address.h"
#include "support/fake_transport.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

class HttpClientTest : public ::testing::Test {
  protected:
    std::wstring Post() { return client_.Post(L"http://service.test/kv2/x.php", form_); }

    testing::FakeTransport transport_;
    HttpClient client_;
    FormData form_{LocalTime{2026, 12, 6, 14, 5, 9, 42}};
};

TEST_F(HttpClientTest, SendsTheFormDirectlyWithTheProgramsUserAgent) {
    form_.AddField(L"username", L"user1");
    EXPECT_EQ(Post(), L"OK");
    ASSERT_EQ(transport_.Posts().size(), 1u);
    const HttpPost& post = transport_.Posts()[0];
    EXPECT_EQ(post.url, L"http://service.test/kv2/x.php");
    EXPECT_EQ(post.userAgent, L"Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(post.contentType, L"multipart/form-data; boundary=--------120626140509042");
    EXPECT_EQ(post.body, form_.Body());
    EXPECT_FALSE(post.proxy.has_value());
}

TEST_F(HttpClientTest, ProxyCredentialsGoOutOnlyWithBasicAuthenticationOn) {
    client_.SetProxy(L"proxy.lan", 3128, L"alice", L"s3cret");
    Post();
    client_.SetBasicProxyAuthentication(true);
    Post();
    ASSERT_EQ(transport_.Posts().size(), 2u);
    const auto& without = transport_.Posts()[0].proxy;
    const auto& with = transport_.Posts()[1].proxy;
    ASSERT_TRUE(without && with);
    EXPECT_EQ(without->host, L"proxy.lan");
    EXPECT_EQ(without->port, 3128);
    EXPECT_EQ(without->username, L"");
    EXPECT_EQ(without->password, L"");
    EXPECT_EQ(with->username, L"alice");
    EXPECT_EQ(with->password, L"s3cret");
}

TEST_F(HttpClientTest, ProxyPortOutsideSixteenBitsSendsNothing) {
    client_.SetProxy(L"proxy.lan", 65536 + 3128, L"", L"");
    EXPECT_THROW(Post(), HttpError);
    client_.SetProxy(L"proxy.lan", -2, L"", L"");
    EXPECT_THROW(Post(), HttpError);
    EXPECT_TRUE(transport_.Posts().empty());
}

TEST_F(HttpClientTest, StatusOutside200To299IsAnError) {
    for (unsigned status : {200u, 204u, 299u}) {
        transport_.Answer(status, "fine");
        EXPECT_EQ(Post(), L"fine") << status;
    }
    for (unsigned status : {0u, 199u, 300u, 302u, 401u, 404u, 407u, 500u}) {
        transport_.Answer(status, "error page");
        EXPECT_THROW(Post(), HttpError) << status;
    }
}

TEST_F(HttpClientTest, OversizedBodyAndTransportFailuresAreErrors) {
    transport_.Answer(200, std::string(kMaxAnswerBytes + 1, 'x'));
    EXPECT_THROW(Post(), HttpError);
    transport_.Fail();
    EXPECT_THROW(Post(), HttpError);
}

TEST_F(HttpClientTest, UnreadableFilePartSendsNothing) {
    testing::TempDir dir;
    form_.AddFile(L"apps", dir / L"missing.txt", L"text/plain");
    EXPECT_THROW(Post(), FileError);
    EXPECT_TRUE(transport_.Posts().empty());
}

TEST(BasicAuthorizationTest, EncodesUserColonPasswordInBase64) {
    EXPECT_EQ(BasicAuthorization(L"Aladdin", L"open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(BasicAuthorization(L"a", L""), "Basic YTo=");
    EXPECT_EQ(BasicAuthorization(L"", L""), "Basic Og==");
    EXPECT_EQ(BasicAuthorization(L"j\u00F6", L"x"), "Basic avY6eA==") << "ANSI, not UTF-8";
}

TEST(AnswerTextTest, Utf8WhenTheContentTypeSaysSo) {
    const std::string body = "caf\xC3\xA9";
    EXPECT_EQ(AnswerText(body, "text/plain; charset=utf-8"), L"caf\u00E9");
    EXPECT_EQ(AnswerText(body, "text/plain;charset=\"UTF-8\""), L"caf\u00E9");
    EXPECT_EQ(AnswerText(body, "text/html; q=1; Charset = UTF8 "), L"caf\u00E9");
    EXPECT_EQ(AnswerText("\xEF\xBB\xBFOK", ""), L"OK") << "a byte-order mark says so too";
}

TEST(AnswerTextTest, AnsiCodePageOtherwise) {
    EXPECT_EQ(AnswerText("caf\xE9", "text/html"), L"caf\u00E9");
    EXPECT_EQ(AnswerText("caf\xE9", "text/html; charset=iso-8859-1"), L"caf\u00E9");
    EXPECT_EQ(AnswerText("OK", ""), L"OK");
    EXPECT_EQ(AnswerText("utf-8", "text/plain; name=charset"), L"utf-8");
}

TEST(Utf8Test, DecodesAndEncodesEveryLength) {
    const std::string bytes = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::wstring text = L"A\u00E9\u20AC\U0001F600";
    EXPECT_EQ(Utf8ToWide(bytes), text);
    EXPECT_EQ(WideToUtf8(text), bytes);
}

TEST(Utf8Test, BrokenSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              L"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide("\xC3"), L"\uFFFD") << "truncated at the end";
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD") << "overlong";
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD") << "encoded surrogate";
    EXPECT_EQ(Utf8ToWide("\xE2\x82"
                         "A"),
              L"\uFFFD\uFFFDA");
}

TEST(HttpUrlTest, SplitsSchemeHostPortAndPath) {
    const HttpUrl plain = ParseHttpUrl(L"http://service.test/kv2/account_post.php");
    EXPECT_FALSE(plain.secure);
    EXPECT_EQ(plain.host, L"service.test");
    EXPECT_EQ(plain.port, 80);
    EXPECT_EQ(plain.path, L"/kv2/account_post.php");

    const HttpUrl secure = ParseHttpUrl(L"HTTPS://127.0.0.1:8443?x=1#top");
    EXPECT_TRUE(secure.secure);
    EXPECT_EQ(secure.host, L"127.0.0.1");
    EXPECT_EQ(secure.port, 8443);
    EXPECT_EQ(secure.path, L"/?x=1");
    EXPECT_EQ(ParseHttpUrl(L"https://h").port, 443);
}

TEST(HttpUrlTest, RefusesWhatItCannotPostTo) {
    for (const wchar_t* url :
         {L"ftp://h/x", L"service.test/x", L"http://", L"http:///x", L"http://h:/x", L"http://h:0/",
          L"http://h:65536/", L"http://h:8x/", L"http://user:pw@h/", L"http://a b/"})
        EXPECT_THROW(ParseHttpUrl(url), HttpError) << std::string(url, url + wcslen(url));
}

TEST(ServiceAddressTest, BuildAddressUnlessOverriddenForTheProcess) {
    testing::SavedSettings saved;
    SetServiceBaseAddress(L"");
    EXPECT_EQ(ServiceBaseAddress(), BuildServiceBaseAddress());
    EXPECT_TRUE(IsServiceBaseAddress(BuildServiceBaseAddress()));

    SetServiceBaseAddress(L"https://127.0.0.1:8443/");
    EXPECT_EQ(ServiceAddress(L"/kv2/account_test.php"),
              L"https://127.0.0.1:8443/kv2/account_test.php");
    SetServiceBaseAddress(L"");
    EXPECT_EQ(ServiceBaseAddress(), BuildServiceBaseAddress());
}

TEST(ServiceAddressTest, BaseAddressIsSchemeHostAndPortOnly) {
    EXPECT_TRUE(IsServiceBaseAddress(L"http://localhost:8080"));
    EXPECT_TRUE(IsServiceBaseAddress(L"https://service.test/"));
    EXPECT_FALSE(IsServiceBaseAddress(L"http://service.test/kv2"));
    EXPECT_FALSE(IsServiceBaseAddress(L"http://service.test?x"));
    EXPECT_FALSE(IsServiceBaseAddress(L"service.test"));
    EXPECT_FALSE(IsServiceBaseAddress(L""));
}

}  // namespace
}  // namespace kelvra
