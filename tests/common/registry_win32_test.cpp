// The Win32 registry accessor against the test prefix's real registry: both
// views of the uninstall key, and raw values as hostile writers leave them,
// decoded exactly as the in-memory registry decodes the same bytes.

#include "common/registry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/handles_win32.h"
#include "support/uninstall_keys_win32.h"

namespace kelvra {
namespace {

using testing::UninstallKeys;
using testing::Utf16Bytes;

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(RegistryWin32, TheTwoViewsAreReallyDifferent) {
    UninstallKeys keys32(KEY_WOW64_32KEY);
    UninstallKeys keys64(KEY_WOW64_64KEY);
    const std::wstring only32 = UninstallKeys::UniqueName(L"only32");
    const std::wstring only64 = UninstallKeys::UniqueName(L"only64");
    const std::wstring both = UninstallKeys::UniqueName(L"both");
    const std::wstring path32 = keys32.Create(only32);
    const std::wstring path64 = keys64.Create(only64);
    keys32.SetText(both, L"DisplayName", L"Thirty-two");
    const std::wstring pathBoth = keys64.Create(both);
    keys64.SetText(both, L"DisplayName", L"Sixty-four");

    auto own = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
    auto wide = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Wow64_64);

    EXPECT_TRUE(own->OpenKeyReadOnly(path32));
    EXPECT_FALSE(own->OpenKeyReadOnly(path64));
    EXPECT_TRUE(wide->OpenKeyReadOnly(path64));
    EXPECT_FALSE(wide->OpenKeyReadOnly(path32));

    ASSERT_TRUE(own->OpenKeyReadOnly(pathBoth));
    EXPECT_EQ(own->ReadString(L"DisplayName"), L"Thirty-two");
    ASSERT_TRUE(wide->OpenKeyReadOnly(pathBoth));
    EXPECT_EQ(wide->ReadString(L"DisplayName"), L"Sixty-four");

    ASSERT_TRUE(own->OpenKeyReadOnly(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    const auto ownNames = own->GetKeyNames();
    EXPECT_TRUE(Contains(ownNames, only32));
    EXPECT_FALSE(Contains(ownNames, only64));
    ASSERT_TRUE(wide->OpenKeyReadOnly(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    const auto wideNames = wide->GetKeyNames();
    EXPECT_TRUE(Contains(wideNames, only64));
    EXPECT_FALSE(Contains(wideNames, only32));
    EXPECT_TRUE(Contains(wideNames, both));
}

TEST(RegistryWin32, OpeningAMissingKeyCreatesNothing) {
    const std::wstring path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                              UninstallKeys::UniqueName(L"absent");
    auto own = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
    EXPECT_FALSE(own->OpenKeyReadOnly(path));
    EXPECT_EQ(own->CurrentPath(), L"");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    if (key) RegCloseKey(key);
}

TEST(RegistryWin32, AValueReadOnceNeverAnswersForAnotherKey) {
    // One read answers a value's existence, type and data; it must not
    // outlive its key, nor answer for another value.
    UninstallKeys keys(KEY_WOW64_32KEY);
    const std::wstring first = UninstallKeys::UniqueName(L"first");
    const std::wstring second = UninstallKeys::UniqueName(L"second");
    const std::wstring firstPath = keys.Create(first);
    const std::wstring secondPath = keys.Create(second);
    keys.SetDWord(first, L"VersionMajor", 5);
    keys.SetText(first, L"VersionMinor", L"7");
    keys.SetText(second, L"VersionMajor", L"6.1");

    auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
    ASSERT_TRUE(registry->OpenKeyReadOnly(firstPath));
    EXPECT_TRUE(registry->ValueExists(L"VersionMajor"));
    EXPECT_EQ(registry->GetDataType(L"VersionMajor"), RegistryType::DWord);
    EXPECT_EQ(registry->ReadInteger(L"VersionMajor"), 5);
    EXPECT_EQ(registry->GetDataType(L"VersionMinor"), RegistryType::String);
    EXPECT_EQ(registry->ReadString(L"VersionMinor"), L"7");
    EXPECT_EQ(registry->ReadInteger(L"VersionMajor"), 5) << "after another value";

    ASSERT_TRUE(registry->OpenKeyReadOnly(secondPath));
    EXPECT_EQ(registry->GetDataType(L"VersionMajor"), RegistryType::String);
    EXPECT_EQ(registry->ReadString(L"VersionMajor"), L"6.1");
    EXPECT_THROW(registry->ReadInteger(L"VersionMajor"), RegistryError);
    EXPECT_FALSE(registry->ValueExists(L"VersionMinor"));

    registry->CloseKey();
    EXPECT_FALSE(registry->ValueExists(L"VersionMajor"));
    EXPECT_EQ(registry->ReadString(L"VersionMajor"), L"");
}

struct RawCase {
    const wchar_t* name;
    DWORD type;
    std::string bytes;
};

// The same bytes through advapi32 and through the in-memory registry.
class RawValuesWin32 : public ::testing::Test {
  protected:
    void SetUp() override { path_ = keys_.Create(entry_); }

    void Store(const RawCase& value) {
        keys_.SetRaw(entry_, value.name, value.type, value.bytes);
        memory_.SetRaw(RegistryRoot::LocalMachine, RegistryView::Own, path_, value.name,
                       static_cast<RegistryType>(value.type), value.bytes);
    }

    std::unique_ptr<RegistryAccessor> Real() {
        auto accessor = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
        EXPECT_TRUE(accessor->OpenKeyReadOnly(path_));
        return accessor;
    }
    std::unique_ptr<RegistryAccessor> Memory() {
        auto accessor = memory_.CreateAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
        EXPECT_TRUE(accessor->OpenKeyReadOnly(path_));
        return accessor;
    }

    UninstallKeys keys_{KEY_WOW64_32KEY};
    const std::wstring entry_ = UninstallKeys::UniqueName(L"raw");
    std::wstring path_;
    MemoryRegistry memory_;
};

TEST_F(RawValuesWin32, HostileTextDecodesAlikeInBothAccessors) {
    const std::wstring big(64 * 1024, L'x');
    struct TextCase {
        RawCase value;
        std::wstring expected;
    };
    std::vector<TextCase> cases;
    const auto add = [&](const wchar_t* name, DWORD type, std::string bytes,
                         std::wstring expected) {
        cases.push_back({{name, type, std::move(bytes)}, std::move(expected)});
    };
    add(L"Plain", REG_SZ, Utf16Bytes(L"My App") + std::string(2, '\0'), L"My App");
    add(L"NoTerminator", REG_SZ, Utf16Bytes(L"abc"), L"abc");
    add(L"OddLength", REG_SZ, Utf16Bytes(L"abc") + "d", L"abc");
    add(L"EmbeddedNul", REG_SZ,
        Utf16Bytes(L"visible") + std::string(2, '\0') + Utf16Bytes(L"hidden"), L"visible");
    add(L"Big", REG_SZ, Utf16Bytes(big), big);
    add(L"Expand", REG_EXPAND_SZ, Utf16Bytes(L"%SystemRoot%\\system32") + std::string(2, '\0'),
        L"%SystemRoot%\\system32");
    add(L"Empty", REG_SZ, "", L"");
    add(L"Foreign", REG_SZ, Utf16Bytes(L"\u4e2d\u6587 \u03a9"), L"\u4e2d\u6587 \u03a9");
    for (const auto& c : cases) Store(c.value);
    auto real = Real();
    auto memory = Memory();
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.value.name);
        EXPECT_EQ(real->GetDataType(c.value.name), static_cast<RegistryType>(c.value.type));
        EXPECT_EQ(real->ReadString(c.value.name), c.expected);
        EXPECT_EQ(memory->ReadString(c.value.name), c.expected);
    }
    EXPECT_EQ(real->ReadString(L"Missing"), L"");
    EXPECT_FALSE(real->ValueExists(L"Missing"));
    EXPECT_EQ(real->GetDataType(L"Missing"), RegistryType::None);
}

TEST_F(RawValuesWin32, NumbersAndWrongTypesFailAlikeInBothAccessors) {
    const DWORD seven = 7, minus = 0xFFFFFFFFu;
    const RawCase values[] = {
        {L"Seven", REG_DWORD, std::string(reinterpret_cast<const char*>(&seven), 4)},
        {L"Minus", REG_DWORD, std::string(reinterpret_cast<const char*>(&minus), 4)},
        {L"ShortDWord", REG_DWORD, std::string("\x05\x00", 2)},
        {L"Binary", REG_BINARY, std::string("\x05\x00\x00\x00", 4)},
        {L"QWord", REG_QWORD, std::string("\x05\x00\x00\x00\x00\x00\x00\x00", 8)},
        {L"Multi", REG_MULTI_SZ, Utf16Bytes(L"a") + std::string(4, '\0')},
        {L"Text", REG_SZ, Utf16Bytes(L"5") + std::string(2, '\0')},
    };
    for (const auto& v : values) Store(v);
    auto real = Real();
    auto memory = Memory();
    for (RegistryAccessor* reg : {real.get(), memory.get()}) {
        EXPECT_EQ(reg->ReadInteger(L"Seven"), 7);
        EXPECT_EQ(reg->ReadInteger(L"Minus"), -1);
        for (const wchar_t* name :
             {L"ShortDWord", L"Binary", L"QWord", L"Multi", L"Text", L"Missing"}) {
            SCOPED_TRACE(::testing::Message() << name);
            EXPECT_THROW(reg->ReadInteger(name), RegistryError);
        }
        for (const wchar_t* name : {L"Seven", L"Binary", L"QWord", L"Multi"}) {
            SCOPED_TRACE(::testing::Message() << name);
            try {
                reg->ReadString(name);
                ADD_FAILURE() << "no error for a text read of a non-text value";
            } catch (const RegistryError& error) {
                EXPECT_EQ(std::string(error.what()).rfind("Invalid data type for '", 0), 0u)
                    << error.what();
            }
        }
    }
}

}  // namespace
}  // namespace kelvra
