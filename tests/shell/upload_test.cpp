// PostData and UploadInventory over a transport the test controls.

#include "shell/upload.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/files.h"
#include "common/globals.h"
#include "http/service_address.h"
#include "support/fake_transport.h"
#include "support/fixed_clock.h"
#include "support/saved_log.h"
#include "support/saved_settings.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

constexpr char kB[] = "--------120626140509042";

std::string TextPart(const std::string& name, const std::string& value) {
    return std::string("--") + kB + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}

std::string Ansi(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class PostDataTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::SavedSettings::ClearProxy(); }

    const HttpPost& OnlyPost() const {
        EXPECT_EQ(transport_.Posts().size(), 1u);
        return transport_.Posts().back();
    }

    testing::SavedSettings saved_;
    testing::FakeTransport transport_;
    testing::TempDir dir_;
    testing::FixedClock clock_;
};

TEST_F(PostDataTest, FileMarkerSendsTheNamedFileAfterTheTextFields) {
    const std::wstring path = dir_ / L"dump_PC01_0.txt";
    WriteFileBytes(path, "Editor\t1.2\r\n");
    EXPECT_EQ(PostData(L"http://service.test/kv2/account_post.php",
                       {L"username", L"password", L"profile", L"apps"},
                       {L"user1", L"pw", L"PC01.user1", L"[FILE]" + path}, 3),
              L"OK");
    EXPECT_EQ(OnlyPost().url, L"http://service.test/kv2/account_post.php");
    EXPECT_EQ(OnlyPost().body,
              TextPart("username", "user1") + TextPart("password", "pw") +
                  TextPart("profile", "PC01.user1") + "--" + kB +
                  "\r\nContent-Disposition: form-data; name=\"apps\"; filename=\"" + Ansi(path) +
                  "\"\r\nContent-Type: text/plain\r\n\r\nEditor\t1.2\r\n\r\n--" + kB + "--\r\n");
}

TEST_F(PostDataTest, FileEntryWithoutAnExistingFileIsLeftOut) {
    // The empty path, a missing file and a folder.
    for (const std::wstring& value :
         {std::wstring(L"[FILE]"), L"[FILE]" + (dir_ / L"missing.txt"), L"[FILE]" + dir_.path()}) {
        PostData(L"http://service.test/x", {L"apps", L"d"}, {value, L"kept"}, 0);
        EXPECT_EQ(transport_.Posts().back().body, TextPart("d", "kept") + "--" + kB + "--\r\n")
            << Ansi(value);
    }
}

// Only the named file entry may send a file; anywhere else the marker is
// text like any other, and a marker of another letter case is text anyway.
TEST_F(PostDataTest, MarkerOutsideTheFileEntryIsSentAsTyped) {
    const std::wstring path = dir_ / L"secret.txt";
    WriteFileBytes(path, "secret");
    const std::vector<std::wstring> values = {L"[FILE]" + path, L"[file]" + path,
                                              L" [FILE]" + path};
    const std::string typed = TextPart("a", "[FILE]" + Ansi(path)) +
                              TextPart("b", "[file]" + Ansi(path)) +
                              TextPart("c", " [FILE]" + Ansi(path)) + "--" + kB + "--\r\n";
    PostData(L"http://service.test/x", {L"a", L"b", L"c"}, values);
    EXPECT_EQ(transport_.Posts().back().body, typed) << "no file entry";
    PostData(L"http://service.test/x", {L"a", L"b", L"c"}, values, 1);
    EXPECT_EQ(transport_.Posts().back().body, typed) << "the file entry in lower case";

    // The upload: account values that start with the marker stay text.
    AccountUsername = L"[FILE]" + path;
    AccountPassword = L"[FILE]" + path;
    AccountProfile = L"[FILE]" + path;
    const std::wstring payload = dir_ / L"dump_P_0.txt";
    WriteFileBytes(payload, "Editor\t1.2\r\n");
    ASSERT_TRUE(UploadInventory(payload).sent);
    const std::string& body = transport_.Posts().back().body;
    EXPECT_TRUE(body.starts_with(TextPart("username", "[FILE]" + Ansi(path)) +
                                 TextPart("password", "[FILE]" + Ansi(path)) +
                                 TextPart("profile", "[FILE]" + Ansi(path))))
        << body;
    EXPECT_EQ(body.find("secret\r\n"), std::string::npos) << body;
    EXPECT_NE(body.find("filename=\"" + Ansi(payload) + "\""), std::string::npos) << body;
}

TEST_F(PostDataTest, EveryFailureIsAnEmptyAnswer) {
    transport_.Answer(404, "Not Found");
    EXPECT_EQ(PostData(L"http://service.test/x", {L"a"}, {L"b"}), L"");
    transport_.Fail("connection refused");
    EXPECT_EQ(PostData(L"http://service.test/x", {L"a"}, {L"b"}), L"");
    transport_.Answer(200, "OK");
    EXPECT_EQ(PostData(L"not an address", {L"a"}, {L"b"}), L"");
    EXPECT_EQ(PostData(L"http://service.test/x", {L"a", L"b"}, {L"only one"}), L"")
        << "more names than values";
    EXPECT_EQ(transport_.Posts().size(), 2u);
}

TEST_F(PostDataTest, ProxyOnlyWithUseProxyAServerAndAPortOfZeroOrMore) {
    struct Case {
        bool use;
        const wchar_t* server;
        int port;
        bool proxied;
    };
    const Case cases[] = {{false, L"proxy.lan", 3128, false},
                          {true, L"", 3128, false},
                          {true, L"proxy.lan", -1, false},
                          {true, L"proxy.lan", 0, true},
                          {true, L"proxy.lan", 3128, true}};
    for (const Case& c : cases) {
        UseProxy = c.use;
        ProxyServer = c.server;
        ProxyPort = c.port;
        PostData(L"http://service.test/x", {L"a"}, {L"b"});
        const auto& proxy = transport_.Posts().back().proxy;
        EXPECT_EQ(proxy.has_value(), c.proxied) << c.use << Ansi(c.server) << c.port;
        if (proxy) {
            EXPECT_EQ(proxy->host, L"proxy.lan");
            EXPECT_EQ(proxy->port, c.port);
        }
    }
}

TEST_F(PostDataTest, ProxyCredentialsOnlyWithAProxyUserName) {
    UseProxy = true;
    ProxyServer = L"proxy.lan";
    ProxyPort = 3128;
    ProxyPassword = L"s3cret";
    PostData(L"http://service.test/x", {L"a"}, {L"b"});
    ProxyUsername = L"alice";
    PostData(L"http://service.test/x", {L"a"}, {L"b"});
    ASSERT_EQ(transport_.Posts().size(), 2u);
    EXPECT_EQ(transport_.Posts()[0].proxy->username, L"");
    EXPECT_EQ(transport_.Posts()[1].proxy->username, L"alice");
    EXPECT_EQ(transport_.Posts()[1].proxy->password, L"s3cret");
}

TEST_F(PostDataTest, LogGetsTheTwoLinesAndNothingAboutAFailure) {
    transport_.Fail("connection refused");
    {
        const testing::LogSwitch log(dir_.path());
        PostData(L"http://service.test/x", {L"a"}, {L"b"});
    }

    const std::string log = ReadFileBytes(dir_ / L"logreg.txt");
    EXPECT_NE(log.find("> PostData START\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("> PostData EINDE\r\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

TEST_F(PostDataTest, UploadSendsThePayloadWithTheAccountOfTheSettings) {
    SetServiceBaseAddress(L"http://service.test");
    AccountUsername = L"user1";
    AccountPassword = L"pw";
    AccountProfile = L"PC01.user1";
    const std::wstring payload = dir_ / L"dump_PC01.user1_0.txt";
    WriteFileBytes(payload, "Editor\t1.2\r\n");

    const UploadResult result = UploadInventory(payload);
    EXPECT_TRUE(result.sent);
    EXPECT_EQ(result.answer, L"OK");
    EXPECT_EQ(OnlyPost().url, L"http://service.test/kv2/account_post.php");
    EXPECT_TRUE(OnlyPost().body.starts_with(TextPart("username", "user1") +
                                            TextPart("password", "pw") +
                                            TextPart("profile", "PC01.user1")));
    EXPECT_NE(OnlyPost().body.find("name=\"apps\"; filename=\"" + Ansi(payload) + "\""),
              std::string::npos);

    // A post that fails was still sent: the answer is empty.
    transport_.Fail("connection refused");
    const UploadResult failed = UploadInventory(payload);
    EXPECT_TRUE(failed.sent);
    EXPECT_EQ(failed.answer, L"");
}

TEST_F(PostDataTest, UploadOfAMissingPayloadSendsNothing) {
    const UploadResult result = UploadInventory(dir_ / L"dump_gone_0.txt", {L"u", L"p", L"q"});
    EXPECT_FALSE(result.sent);
    EXPECT_TRUE(transport_.Posts().empty());
    EXPECT_FALSE(UploadInventory(L"").sent);
}

TEST(ShownUploadRequestTest, RequestAsItGoesWithThePasswordsMasked) {
    const std::string body = TextPart("username", "password") + TextPart("password", "s3cr\r\nt") +
                             TextPart("profile", "password") + "--" + kB + "--\r\n";
    const std::string masked = TextPart("username", "password") + TextPart("password", "********") +
                               TextPart("profile", "password") + "--" + kB + "--\r\n";
    const std::wstring type = L"multipart/form-data; boundary=" + std::wstring(kB, kB + 23);
    struct Case {
        std::wstring url;
        std::optional<HttpProxy> proxy;
        std::string requestLine;
        std::string host;
    };
    const HttpProxy proxy{L"proxy.lan", 3128, L"puser", L"ppass"};
    for (const Case& c :
         std::vector<Case>{{L"http://svc.test/kv2/account_post.php",
                            {},
                            "POST /kv2/account_post.php",
                            "svc.test"},
                           {L"http://127.0.0.1:8080/kv2/account_post.php",
                            {},
                            "POST /kv2/account_post.php",
                            "127.0.0.1:8080"},
                           {L"https://svc.test:443/kv2/account_post.php",
                            {},
                            "POST /kv2/account_post.php",
                            "svc.test"},
                           // A proxy needs the whole address; an https request goes inside
                           // its tunnel with the path alone.
                           {L"http://svc.test/kv2/account_post.php", proxy,
                            "POST http://svc.test/kv2/account_post.php", "svc.test"},
                           {L"https://svc.test:8443/kv2/account_post.php", proxy,
                            "POST /kv2/account_post.php", "svc.test:8443"}}) {
        const HttpPost post{c.url, L"Kelvra/2.0", type, body, c.proxy};
        const std::string shown = ShownUploadRequest(post);
        EXPECT_EQ(shown, c.requestLine + " HTTP/1.1\r\nContent-Type: " + Ansi(type) +
                             "\r\nUser-Agent: Kelvra/2.0\r\nHost: " + c.host +
                             "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: Keep-Alive\r\n\r\n" + masked)
            << Ansi(c.url);
        EXPECT_EQ(shown.find("ppass"), std::string::npos);
    }
}

}  // namespace
}  // namespace kelvra
