// Application records read from uninstall entries laid out in the in-memory
// registry, their first filter, and the run's list of records.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/registry_text.h"
#include "common/tools.h"
#include "inventory/kv_objs.h"
#include "support/fixed_clock.h"
#include "support/message_boxes.h"
#include "support/saved_log.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

constexpr auto kMachine = RegistryRoot::LocalMachine;
constexpr auto kOwn = RegistryView::Own;

std::wstring EntryPath(std::wstring_view keyName) {
    return std::wstring(kUninstallKey) + L"\\" + std::wstring(keyName);
}

class AppRecordTest : public ::testing::Test {
  protected:
    void Text(std::wstring_view key, std::wstring_view name, std::wstring_view text,
              RegistryType type = RegistryType::String) {
        registry_.SetString(kMachine, kOwn, EntryPath(key), name, text, type);
    }
    void Number(std::wstring_view key, std::wstring_view name, std::uint32_t value) {
        registry_.SetDWord(kMachine, kOwn, EntryPath(key), name, value);
    }
    void Raw(std::wstring_view key, std::wstring_view name, RegistryType type, std::string bytes) {
        registry_.SetRaw(kMachine, kOwn, EntryPath(key), name, type, std::move(bytes));
    }

    // Reads the entry into a new record; kept_ tells what the filter said.
    std::unique_ptr<TApp> Read(std::wstring_view key) {
        auto app = std::make_unique<TApp>(EntryPath(key), key);
        kept_ = app->ReadFromRegistry(*accessor_);
        EXPECT_EQ(accessor_->CurrentPath(), L"") << "the record leaves no key open";
        return app;
    }

    static std::vector<std::wstring> VersionTexts(const TApp& app) {
        std::vector<std::wstring> texts;
        for (std::size_t i = 0; i < app.Versions.Count(); ++i)
            texts.push_back(app.Versions.GetVersionText(i));
        return texts;
    }

    MemoryRegistry registry_;
    std::unique_ptr<RegistryAccessor> accessor_ = registry_.CreateAccessor(kMachine, kOwn);
    testing::MessageBoxRecorder boxes_;
    testing::LogSwitch log_{L""};
    bool kept_ = false;
};

TEST_F(AppRecordTest, MissingKeyIsRejectedWithoutChangingTheRecord) {
    const auto app = Read(L"Absent");
    EXPECT_FALSE(kept_);
    EXPECT_TRUE(app->regDisplayName.empty()) << "not even the (key name) fallback";
    EXPECT_EQ(app->Versions.Count(), 0u);
}

TEST_F(AppRecordTest, TextsLoseTheirQuotesAndSurroundingBlanks) {
    Text(L"App", L"DisplayName", L"  \"My App\"  ");
    Text(L"App", L"UninstallString", L"\"C:\\Program Files\\App\\uninst.exe\" /S");
    Text(L"App", L"DisplayIcon", L"\t\"C:\\Program Files\\App\\app.exe\",0\r\n");
    Text(L"App", L"InstallLocation", L"%ProgramFiles%\\App", RegistryType::ExpandString);
    const auto app = Read(L"App");
    EXPECT_TRUE(kept_);
    EXPECT_EQ(app->regDisplayName.str(), L"My App");
    EXPECT_EQ(app->regUninstallString.str(), L"C:\\Program Files\\App\\uninst.exe /S");
    EXPECT_EQ(app->regDisplayIcon.str(), L"C:\\Program Files\\App\\app.exe,0");
    EXPECT_EQ(app->regInstallLocation.str(), L"%ProgramFiles%\\App") << "never expanded";
    EXPECT_TRUE(app->executablePath.empty());
    EXPECT_TRUE(app->niceName.empty());
}

TEST_F(AppRecordTest, LongTextsAreCutTo255Bytes) {
    Text(L"App", L"DisplayName", std::wstring(300, L'N'));
    Text(L"App", L"InstallLocation", L"C:\\" + std::wstring(64 * 1024, L'd'));
    const auto app = Read(L"App");
    EXPECT_EQ(app->regDisplayName.str(), std::wstring(300, L'N').substr(0, 255));
    EXPECT_EQ(app->regInstallLocation.bytes().size(), 255u);
}

TEST_F(AppRecordTest, FirstFilterRejectsHotfixesAndOfficeParts) {
    const struct {
        const wchar_t* displayName;
        bool kept;
    } cases[] = {
        {L"Microsoft Office Professional Plus 2010", false},
        {L"microsoft office 2010", false},
        {L"  Microsoft Office Word MUI  ", false},
        {L"Microsoft Office", true},
        {L"Microsoft OfficeXP", true},
        {L"Update for Microsoft Office", true},
        {L"Update for Microsoft Office 2010 (KB2553347) 32-Bit Edition", false},
        {L"Security Update (kb123)", false},
        {L"Hotfix KB123", true},
        {L"Magic ISO Maker 5.5", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.displayName);
        Text(L"App", L"DisplayName", c.displayName);
        Read(L"App");
        EXPECT_EQ(kept_, c.kept);
    }
}

TEST_F(AppRecordTest, KeyNameStandsInForAMissingDisplayName) {
    registry_.AddKey(kMachine, kOwn, EntryPath(L"KB123456"));
    const auto hotfix = Read(L"KB123456");
    EXPECT_EQ(hotfix->regDisplayName.str(), L"(KB123456)");
    EXPECT_FALSE(kept_);

    Text(L"{GUID-1}", L"DisplayName", L" \"\" ");
    const auto unnamed = Read(L"{GUID-1}");
    EXPECT_EQ(unnamed->regDisplayName.str(), L"({GUID-1})")
        << "a name of quotes and blanks is empty";
    EXPECT_TRUE(kept_);
}

TEST_F(AppRecordTest, DisplayVersionAndMajorMinorAreRegistryCandidates) {
    Text(L"App", L"DisplayVersion", L" \"1.2.3\" ");
    Number(L"App", L"VersionMajor", 5);
    Number(L"App", L"VersionMinor", 2);
    const auto app = Read(L"App");
    ASSERT_EQ(app->Versions.Count(), 2u);
    EXPECT_EQ(app->Versions.GetVersionText(0), L"1.2.3");
    EXPECT_EQ(app->Versions.GetFetch(0), EntryPath(L"App"));
    EXPECT_EQ(app->Versions.GetVersionText(1), L"5.2");
    EXPECT_EQ(app->Versions.GetFetch(1), EntryPath(L"App") + L" (MajorMinor)");
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(app->Versions.GetVersionType(i), TVersionType::Registry);
        EXPECT_EQ(app->Versions.GetVersion(i).Points, 0);
    }
}

TEST_F(AppRecordTest, MajorMinorNeedsAPositiveMajor) {
    const struct {
        const wchar_t* name;
        std::uint32_t major, minor;
        std::vector<std::wstring> versions;
    } cases[] = {
        {L"MinorZero",
         5,
         0,
         {L"5.0"}},  // the major alone; the cleaning gives a lone digit its ".0"
        {L"MajorZero", 0, 3, {}},
        {L"MinorNegative", 7, 0xFFFFFFFFu, {L"7.0"}},
        {L"MajorNegative", 0xFFFFFFFEu, 4, {}},
        {L"Large", 12, 34, {L"12.34"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name);
        Number(c.name, L"VersionMajor", c.major);
        Number(c.name, L"VersionMinor", c.minor);
        EXPECT_EQ(VersionTexts(*Read(c.name)), c.versions);
    }
    // Only a minor, or nothing at all: no candidate.
    Number(L"OnlyMinor", L"VersionMinor", 3);
    EXPECT_TRUE(VersionTexts(*Read(L"OnlyMinor")).empty());
    registry_.AddKey(kMachine, kOwn, EntryPath(L"Bare"));
    EXPECT_TRUE(VersionTexts(*Read(L"Bare")).empty());
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AppRecordTest, TextNumbersAreReadByTheirDigits) {
    Text(L"Dotted", L"VersionMajor", L"5.1");
    EXPECT_EQ(VersionTexts(*Read(L"Dotted")), (std::vector<std::wstring>{L"51"}));

    Text(L"Words", L"VersionMajor", L"none");
    Number(L"Words", L"VersionMinor", 2);
    EXPECT_TRUE(VersionTexts(*Read(L"Words")).empty());

    Text(L"Huge", L"VersionMajor", L"99999999999");
    EXPECT_TRUE(VersionTexts(*Read(L"Huge")).empty()) << "past 2147483647 reads as -1";
    EXPECT_TRUE(boxes_.empty()) << "text numbers never show the box";
}

TEST_F(AppRecordTest, NumberOfAnotherTypeShowsTheErrorBoxAndIsSkipped) {
    Text(L"App", L"DisplayVersion", L"2.0");
    Raw(L"App", L"VersionMajor", RegistryType::Binary, std::string("\x05\x00\x00\x00", 4));
    Number(L"App", L"VersionMinor", 1);
    const auto app = Read(L"App");
    EXPECT_TRUE(kept_);
    EXPECT_EQ(VersionTexts(*app), (std::vector<std::wstring>{L"2.0"}))
        << "DisplayVersion still counts";
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, app->RegistryPath.str() + L" - VersionMajor");
    EXPECT_EQ(boxes_[0].caption, L"Error");
    EXPECT_EQ(boxes_[0].style, kMbOk | kMbIconError);

    // Every other type ends the same way, and both numbers are read.
    boxes_.clear();
    Number(L"Other", L"VersionMajor", 3);
    Raw(L"Other", L"VersionMinor", RegistryType::QWord, std::string(8, '\x01'));
    EXPECT_EQ(VersionTexts(*Read(L"Other")), (std::vector<std::wstring>{L"3.0"}));
    Raw(L"Other", L"VersionMajor", RegistryType::MultiString,
        EncodeRegistryText(L"5") + std::string(2, '\0'));
    Text(L"Other", L"VersionMinor", L"5", RegistryType::ExpandString);
    EXPECT_TRUE(VersionTexts(*Read(L"Other")).empty());
    ASSERT_EQ(boxes_.size(), 3u);
    EXPECT_EQ(boxes_[0].text, EntryPath(L"Other") + L" - VersionMinor");
    EXPECT_EQ(boxes_[1].text, EntryPath(L"Other") + L" - VersionMajor");
    EXPECT_EQ(boxes_[2].text, EntryPath(L"Other") + L" - VersionMinor");
}

TEST_F(AppRecordTest, TextsOfAnotherTypeReadAsEmpty) {
    for (const wchar_t* name : {L"DisplayName", L"DisplayIcon", L"UninstallString",
                                L"InstallLocation", L"DisplayVersion"})
        Number(L"App", name, 7);
    const auto app = Read(L"App");
    EXPECT_TRUE(kept_);
    EXPECT_EQ(app->regDisplayName.str(), L"(App)");
    EXPECT_TRUE(app->regDisplayIcon.empty());
    EXPECT_TRUE(app->regUninstallString.empty());
    EXPECT_TRUE(app->regInstallLocation.empty());
    EXPECT_EQ(app->Versions.Count(), 0u);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AppRecordTest, KeysWhoseNamesTheShortTextCannotHoldAreStillRead) {
    // Characters outside the code page, and a name too long for the 255 bytes
    // of RegistryPath: the record opens the key it was given, not its
    // reduced copy, which names no key.
    const std::wstring foreign = L"\u4e2d\u6587\u8f6f\u4ef6";
    const std::wstring longName(230, L'L');
    Text(foreign, L"DisplayName", L"Foreign App");
    Text(longName, L"DisplayName", L"Long App");
    Text(longName.substr(0, 203), L"DisplayName", L"Wrong App");

    EXPECT_EQ(Read(foreign)->regDisplayName.str(), L"Foreign App");
    EXPECT_TRUE(kept_);
    const auto app = Read(longName);
    EXPECT_EQ(app->regDisplayName.str(), L"Long App");
    EXPECT_EQ(app->RegistryPath.bytes().size(), 255u);
}

// With logging on, the reading leaves the developer's trace in the log.
class AppRecordTraceTest : public AppRecordTest {
  protected:
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        const std::wstring path = dir_ / L"logreg.txt";
        if (!FileExists(path)) return lines;
        const std::string text = ReadFileBytes(path);
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find("\r\n", start);
            lines.push_back(text.substr(start + 28, end - start - 28));  // without the stamp
            start = end + 2;
        }
        return lines;
    }

    testing::TempDir dir_;
    testing::LogSwitch traceLog_{dir_.path()};
    testing::FixedClock clock_;
};

TEST_F(AppRecordTraceTest, EachTextReadIsTracedWithItsRawValue) {
    Text(L"App", L"DisplayName", L" \"Magic ISO Maker\" ");
    Number(L"App", L"DisplayIcon", 1);
    Text(L"App", L"UninstallString", L"u.exe");
    Read(L"App");
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "TRegistry.ReadString[DisplayName]",
                              "TRegistry.ReadString[DisplayName]  \"Magic ISO Maker\" ",
                              "TRegistry.ReadString[DisplayIcon]",
                              "exception: Invalid data type for 'DisplayIcon'",
                              "TRegistry.ReadString[UninstallString]",
                              "TRegistry.ReadString[UninstallString] u.exe",
                              "TRegistry.ReadString[InstallLocation]",
                              "TRegistry.ReadString[InstallLocation] ",
                              "TRegistry.ReadString[DisplayVersion]",
                              "TRegistry.ReadString[DisplayVersion] ",
                              "a",
                          }));
}

TEST_F(AppRecordTraceTest, ErrorBoxOfANumberIsLoggedToo) {
    Raw(L"App", L"VersionMajor", RegistryType::Binary, "\x01");
    Read(L"App");
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App - VersionMajor");
    EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(AppRecordTraceTest, UnwritableLogEndsTheReadingWithTheKeyClosed) {
    Text(L"App", L"DisplayName", L"App");
    AppDataDir = dir_ / L"missing\\";
    auto app = std::make_unique<TApp>(EntryPath(L"App"), L"App");
    EXPECT_THROW(app->ReadFromRegistry(*accessor_), FileError);
    EXPECT_EQ(accessor_->CurrentPath(), L"");
}

}  // namespace
}  // namespace kelvra
