#include "shell/scan_options.h"

#include <gtest/gtest.h>

namespace kelvra {
namespace {

TEST(ScanOptionsTest, UploadTakesItsServiceAndAccountValues) {
    const ScanOptionsResult parsed =
        ParseScanOptions({L"--upload", L"--service", L"http://127.0.0.1:8080", L"--user", L"user1",
                          L"--password", L"p w", L"--profile", L"PC01"});
    ASSERT_EQ(parsed.error, L"");
    EXPECT_TRUE(parsed.options.upload);
    EXPECT_EQ(parsed.options.service, L"http://127.0.0.1:8080");
    EXPECT_EQ(parsed.options.user, L"user1");
    EXPECT_EQ(parsed.options.password, L"p w");
    EXPECT_EQ(parsed.options.profile, L"PC01");

    const ScanOptionsResult plain = ParseScanOptions({L"--upload"});
    EXPECT_EQ(plain.error, L"");
    EXPECT_FALSE(plain.options.service || plain.options.user || plain.options.password);
    EXPECT_FALSE(ParseScanOptions({}).options.upload);
    const ScanOptionsResult shown =
        ParseScanOptions({L"--show-upload", L"--scope", L"user", L"--password", L"pw"});
    EXPECT_EQ(shown.error, L"");
    EXPECT_TRUE(shown.options.showUpload && !shown.options.upload);
    EXPECT_TRUE(WritesRunFiles(shown.options));
    EXPECT_EQ(ParseScanOptions({L"--upload", L"--password", L""}).error, L"")
        << "an empty password is the account check's business";
}

TEST(ScanOptionsTest, TimingsNeedAFile) {
    const ScanOptionsResult parsed =
        ParseScanOptions({L"--timings", L"C:\\t.txt", L"--profile", L"P"});
    ASSERT_EQ(parsed.error, L"");
    EXPECT_EQ(parsed.options.timings, L"C:\\t.txt");
    EXPECT_FALSE(ParseScanOptions({}).options.timings);
    EXPECT_NE(ParseScanOptions({L"--timings", L""}).error, L"");
    EXPECT_NE(ParseScanOptions({L"--timings"}).error, L"");
}

TEST(ScanOptionsTest, JsonTakesAFileOrStandardOutputAndQuietStandsAlone) {
    const ScanOptionsResult parsed = ParseScanOptions({L"--json", L"-", L"--quiet"});
    ASSERT_EQ(parsed.error, L"");
    EXPECT_EQ(parsed.options.json, L"-");
    EXPECT_TRUE(parsed.options.quiet);
    EXPECT_EQ(ParseScanOptions({L"-q", L"--json", L"C:\\scan.json"}).options.json,
              L"C:\\scan.json");
    EXPECT_FALSE(ParseScanOptions({}).options.json || ParseScanOptions({}).options.quiet);
    EXPECT_NE(ParseScanOptions({L"--json", L""}).error, L"");
    EXPECT_NE(ParseScanOptions({L"--json"}).error, L"");
    const std::wstring usage = ScanUsage();
    EXPECT_NE(usage.find(L"--json FILE"), std::wstring::npos);
    EXPECT_NE(usage.find(L"--quiet"), std::wstring::npos);
}

TEST(ScanOptionsTest, UploadValuesWithoutUploadOrUnusableAreRefused) {
    for (const auto& args : std::vector<std::vector<std::wstring>>{
             {L"--service", L"http://127.0.0.1:8080"},
             {L"--user", L"user1"},
             {L"--password", L"pw"},
             {L"--upload", L"--service", L"127.0.0.1:8080"},
             {L"--upload", L"--service", L"http://127.0.0.1:8080/kv2"},
             {L"--upload", L"--service", L"ftp://host"},
             {L"--upload", L"--user", L""},
             {L"--upload", L"--service"},
             {L"--upload", L"--show-upload"}}) {
        EXPECT_NE(ParseScanOptions(args).error, L"") << args.size();
    }
}

}  // namespace
}  // namespace kelvra
