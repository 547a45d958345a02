// Application records read from real uninstall entries of the test prefix,
// in the view each pass of the run uses, with values written raw.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/globals.h"
#include "common/tools.h"
#include "inventory/kv_objs.h"
#include "support/message_boxes.h"
#include "support/saved_log.h"
#include "support/uninstall_keys_win32.h"

namespace kelvra {
namespace {

using testing::UninstallKeys;
using testing::Utf16Bytes;

constexpr const wchar_t* kTextNames[] = {L"DisplayName", L"DisplayIcon", L"UninstallString",
                                         L"InstallLocation", L"DisplayVersion"};
constexpr const wchar_t* kNumberNames[] = {L"VersionMajor", L"VersionMinor"};

class AppRecordWin32 : public ::testing::Test {
  protected:
    // Reads the entry as the run's pass over the given view would.
    std::unique_ptr<TApp> Read(const std::wstring& keyName, RegistryView view, bool* kept) {
        auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, view);
        auto app = std::make_unique<TApp>(std::wstring(kUninstallKey) + L"\\" + keyName, keyName);
        *kept = app->ReadFromRegistry(*registry);
        EXPECT_EQ(registry->CurrentPath(), L"");
        return app;
    }

    UninstallKeys keys32_{KEY_WOW64_32KEY};
    UninstallKeys keys64_{KEY_WOW64_64KEY};
    testing::MessageBoxRecorder boxes_;
    testing::LogSwitch log_{L""};
};

TEST_F(AppRecordWin32, EachViewGivesItsOwnRecord) {
    const std::wstring both = UninstallKeys::UniqueName(L"both");
    const std::wstring only64 = UninstallKeys::UniqueName(L"only64");
    keys32_.SetText(both, L"DisplayName", L"Tool (32-bit)");
    keys32_.SetText(both, L"DisplayVersion", L"1.0.32");
    keys64_.SetText(both, L"DisplayName", L"Tool (64-bit)");
    keys64_.SetText(both, L"DisplayVersion", L"1.0.64");
    keys64_.SetDWord(both, L"VersionMajor", 1);
    keys64_.SetText(only64, L"DisplayName", L"Wide Only");

    bool kept = false;
    const auto own = Read(both, RegistryView::Own, &kept);
    EXPECT_TRUE(kept);
    EXPECT_EQ(own->regDisplayName.str(), L"Tool (32-bit)");
    ASSERT_EQ(own->Versions.Count(), 1u);
    EXPECT_EQ(own->Versions.GetVersionText(0), L"1.0.32");

    const auto wide = Read(both, RegistryView::Wow64_64, &kept);
    EXPECT_TRUE(kept);
    EXPECT_EQ(wide->regDisplayName.str(), L"Tool (64-bit)");
    ASSERT_EQ(wide->Versions.Count(), 2u);
    EXPECT_EQ(wide->Versions.GetVersionText(0), L"1.0.64");
    EXPECT_EQ(wide->Versions.GetVersionText(1), L"1.0");

    const auto missing = Read(only64, RegistryView::Own, &kept);
    EXPECT_FALSE(kept) << "the 32-bit view has no such entry";
    EXPECT_TRUE(missing->regDisplayName.empty());
    Read(only64, RegistryView::Wow64_64, &kept);
    EXPECT_TRUE(kept);
}

TEST_F(AppRecordWin32, CarelessTextValuesAreReadSafely) {
    const std::wstring key = UninstallKeys::UniqueName(L"careless");
    keys32_.SetRaw(key, L"DisplayName", REG_SZ, Utf16Bytes(L"  \"Raw App\""));  // no terminator
    keys32_.SetRaw(key, L"DisplayIcon", REG_SZ,
                   Utf16Bytes(L"icon.exe,0") + "\x01");  // odd byte count
    keys32_.SetRaw(
        key, L"UninstallString", REG_SZ,
        Utf16Bytes(L"\"C:\\App\\uninst.exe\" /S") + std::string(2, '\0') + Utf16Bytes(L"/hidden"));
    keys32_.SetText(key, L"InstallLocation", L"%SystemRoot%\\App\\", REG_EXPAND_SZ);
    keys32_.SetRaw(key, L"DisplayVersion", REG_SZ,
                   Utf16Bytes(L"2.5" + std::wstring(32 * 1024, L'0')));

    bool kept = false;
    const auto app = Read(key, RegistryView::Own, &kept);
    EXPECT_TRUE(kept);
    EXPECT_EQ(app->regDisplayName.str(), L"Raw App");
    EXPECT_EQ(app->regDisplayIcon.str(), L"icon.exe,0");
    EXPECT_EQ(app->regUninstallString.str(), L"C:\\App\\uninst.exe /S");
    EXPECT_EQ(app->regInstallLocation.str(), L"%SystemRoot%\\App\\") << "never expanded";
    ASSERT_EQ(app->Versions.Count(), 1u);
    EXPECT_EQ(app->Versions.GetVersion(0).Version.bytes().size(), 255u);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AppRecordWin32, LongDisplayNameIsCutTo255Characters) {
    const std::wstring key = UninstallKeys::UniqueName(L"long");
    keys32_.SetText(key, L"DisplayName", std::wstring(64 * 1024, L'N'));
    bool kept = false;
    EXPECT_EQ(Read(key, RegistryView::Own, &kept)->regDisplayName.str(), std::wstring(255, L'N'));
}

TEST_F(AppRecordWin32, EveryTypeUnderEveryNameNeitherStopsNorCorruptsTheReading) {
    // Each type under all seven names: text names read only text (expandable
    // text unexpanded); number names read REG_SZ digits and REG_DWORD, and
    // any other type shows the box, once per name.
    const struct {
        const wchar_t* suffix;
        DWORD type;
        std::string bytes;
        bool readsAsText;  // the text names hold "5.1"
        std::size_t boxes;
        std::vector<std::wstring> versions;
    } kinds[] = {
        {L"sz", REG_SZ, Utf16Bytes(L"5.1") + std::string(2, '\0'), true, 0, {L"5.1", L"51.51"}},
        {L"expand", REG_EXPAND_SZ, Utf16Bytes(L"5.1") + std::string(2, '\0'), true, 2, {L"5.1"}},
        {L"dword", REG_DWORD, std::string("\x05\x00\x00\x00", 4), false, 0, {L"5.5"}},
        {L"binary", REG_BINARY, std::string("\x05\x00\x00\x00", 4), false, 2, {}},
        {L"qword", REG_QWORD, std::string("\x05\x00\x00\x00\x00\x00\x00\x00", 8), false, 2, {}},
        {L"multi", REG_MULTI_SZ, Utf16Bytes(L"5.1") + std::string(4, '\0'), false, 2, {}},
        {L"none", REG_NONE, "5", false, 2, {}},
        {L"bigendian", REG_DWORD_BIG_ENDIAN, std::string("\x00\x00\x00\x05", 4), false, 2, {}},
        {L"link", REG_LINK, Utf16Bytes(L"\\Registry\\Machine"), false, 2, {}},
        {L"resources", REG_RESOURCE_LIST, std::string(16, '\0'), false, 2, {}},
        {L"empty", REG_BINARY, "", false, 2, {}},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(::testing::Message() << kind.suffix);
        boxes_.clear();
        const std::wstring key = UninstallKeys::UniqueName(kind.suffix);
        for (const wchar_t* name : kTextNames) keys64_.SetRaw(key, name, kind.type, kind.bytes);
        for (const wchar_t* name : kNumberNames) keys64_.SetRaw(key, name, kind.type, kind.bytes);

        bool kept = false;
        const auto app = Read(key, RegistryView::Wow64_64, &kept);
        EXPECT_TRUE(kept);
        const std::wstring text = kind.readsAsText ? L"5.1" : L"";
        EXPECT_EQ(app->regDisplayName.str(), kind.readsAsText ? text : L"(" + key + L")");
        EXPECT_EQ(app->regDisplayIcon.str(), text);
        EXPECT_EQ(app->regUninstallString.str(), text);
        EXPECT_EQ(app->regInstallLocation.str(), text);
        std::vector<std::wstring> versions;
        for (std::size_t i = 0; i < app->Versions.Count(); ++i)
            versions.push_back(app->Versions.GetVersionText(i));
        EXPECT_EQ(versions, kind.versions);
        ASSERT_EQ(boxes_.size(), kind.boxes);
        if (kind.boxes == 2) {
            EXPECT_EQ(boxes_[0].text, app->RegistryPath.str() + L" - VersionMajor");
            EXPECT_EQ(boxes_[1].text, app->RegistryPath.str() + L" - VersionMinor");
            EXPECT_EQ(boxes_[0].caption, L"Error");
        }
    }
}

TEST_F(AppRecordWin32, UninstallKeyListsTheTestEntries) {
    const std::wstring key = UninstallKeys::UniqueName(L"listed");
    keys32_.SetText(key, L"DisplayName", L"Listed");
    auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
    ASSERT_TRUE(registry->OpenKeyReadOnly(kUninstallKey));
    const auto names = registry->GetKeyNames();
    EXPECT_NE(std::find(names.begin(), names.end(), key), names.end());
}

}  // namespace
}  // namespace kelvra
