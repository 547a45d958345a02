#include "http/formdata.h"

#include <gtest/gtest.h>

#include "common/files.h"
#include "http/mediatype.h"
#include "support/fixed_clock.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

TEST(FormBoundaryTest, IsEightHyphensAndTheLocalTimeInFixedWidth) {
    EXPECT_EQ(FormBoundary({2026, 12, 6, 14, 5, 9, 42}), "--------120626140509042");
    EXPECT_EQ(FormBoundary({2000, 1, 2, 3, 4, 5, 6}), "--------010200030405006");
    EXPECT_EQ(FormBoundary({1999, 10, 31, 23, 59, 59, 999}), "--------103199235959999");
}

TEST(FormBoundaryTest, FormWithoutTimeTakesTheClock) {
    const FormData form = [] {
        const testing::FixedClock clock(LocalTime{2026, 7, 1, 0, 0, 0, 1});
        return FormData();
    }();
    EXPECT_EQ(form.Boundary(), "--------070126000000001");
    EXPECT_EQ(form.ContentType(), L"multipart/form-data; boundary=--------070126000000001");
}

class FormBodyTest : public ::testing::Test {
  protected:
    FormData form_{LocalTime{2026, 12, 6, 14, 5, 9, 42}};
    testing::TempDir dir_;
};

TEST_F(FormBodyTest, PartsFollowInOrderAndTheClosingLineEnds) {
    const std::string fileBytes("line 1\r\n\0\xFF\r\n", 12);
    const std::wstring path = dir_ / L"dump_PC01_0.txt";
    WriteFileBytes(path, fileBytes);
    form_.AddField(L"username", L"user1");
    form_.AddFile(L"apps", path, L"text/plain");
    form_.AddField(L"profile", L"");

    const std::string b = "--------120626140509042";
    const std::string pathText(path.begin(), path.end());
    EXPECT_EQ(form_.Body(),
              "--" + b + "\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\nuser1\r\n" +
                  "--" + b + "\r\nContent-Disposition: form-data; name=\"apps\"; filename=\"" +
                  pathText + "\"\r\nContent-Type: text/plain\r\n\r\n" + fileBytes + "\r\n" + "--" +
                  b + "\r\nContent-Disposition: form-data; name=\"profile\"\r\n\r\n\r\n" + "--" +
                  b + "--\r\n");
    EXPECT_EQ(form_.PartCount(), 3u);
}

TEST_F(FormBodyTest, EmptyFormIsTheClosingLineAlone) {
    EXPECT_EQ(form_.Body(), "----------120626140509042--\r\n");
}

TEST_F(FormBodyTest, TextGoesOutInTheAnsiCodePageAsItStands) {
    form_.AddField(L"na\"me", L"caf\u00E9 \"quoted\"\r\nnext");
    const std::string body = form_.Body();
    EXPECT_NE(body.find("name=\"na\"me\"\r\n\r\ncaf\xE9 \"quoted\"\r\nnext\r\n"), std::string::npos)
        << body;
}

TEST_F(FormBodyTest, BoundaryThatAPartHoldsIsLengthenedUntilNoPartHoldsIt) {
    const std::string clock = "--------120626140509042";
    const std::wstring path = dir_ / L"payload.txt";
    WriteFileBytes(path,
                   "App\t1.0\r\n--" + clock + "0\r\nContent-Disposition: form-data; name=\"x\"");
    form_.AddField(L"password", L"a\r\n--" + std::wstring(clock.begin(), clock.end()) + L"--\r\n");
    form_.AddFile(L"apps", path, L"text/plain");
    const std::string body = form_.Body();
    EXPECT_EQ(form_.Boundary(), clock + "1");
    EXPECT_EQ(form_.ContentType(),
              L"multipart/form-data; boundary=" + std::wstring(clock.begin(), clock.end()) + L"1");
    EXPECT_EQ(body.rfind("--" + clock + "1\r\nContent-Disposition: form-data; name=\"password\""),
              0u);
    EXPECT_TRUE(body.ends_with("\r\n--" + clock + "1--\r\n"));

    // A form whose parts do not hold it keeps the clock's boundary.
    FormData plain{LocalTime{2026, 12, 6, 14, 5, 9, 42}};
    plain.AddField(L"username", L"user1");
    plain.Body();
    EXPECT_EQ(plain.Boundary(), clock);
}

TEST_F(FormBodyTest, FileIsReadWhenTheBodyIsMade) {
    const std::wstring path = dir_ / L"later.txt";
    form_.AddFile(L"apps", path, L"text/plain");
    EXPECT_THROW(form_.Body(), FileError);
    WriteFileBytes(path, "now");
    EXPECT_NE(form_.Body().find("\r\n\r\nnow\r\n"), std::string::npos);
}

TEST(MediaTypeTest, KnownExtensionsInAnyCase) {
    EXPECT_EQ(MediaTypeForPath(L"C:\\Users\\a\\Kelvra\\dump_PC01_3.txt"), L"text/plain");
    EXPECT_EQ(MediaTypeForPath(L"report.HTML"), L"text/html");
    EXPECT_EQ(MediaTypeForPath(L"a.b.xml"), L"text/xml");
    EXPECT_EQ(MediaTypeForPath(L"logo.PNG"), L"image/png");
    EXPECT_EQ(MediaTypeForPath(L"photo.jpeg"), L"image/jpeg");
    EXPECT_EQ(MediaTypeForPath(L"data.json"), L"application/json");
}

TEST(MediaTypeTest, EverythingElseIsAnOctetStream) {
    EXPECT_EQ(MediaTypeForPath(L"setup.exe"), L"application/octet-stream");
    EXPECT_EQ(MediaTypeForPath(L"README"), L"application/octet-stream");
    EXPECT_EQ(MediaTypeForPath(L"name."), L"application/octet-stream");
    EXPECT_EQ(MediaTypeForPath(L""), L"application/octet-stream");
    // A dot in a folder name is no extension.
    EXPECT_EQ(MediaTypeForPath(L"C:\\my.txt\\payload"), L"application/octet-stream");
    EXPECT_EQ(MediaTypeForPath(L"/tmp/my.txt/payload"), L"application/octet-stream");
}

}  // namespace
}  // namespace kelvra
