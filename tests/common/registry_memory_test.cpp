// The in-memory registry and the decoding both accessors share: raw value
// bytes as a careless or hostile writer may leave them.

#include <gtest/gtest.h>

#include <cwchar>

#include "common/registry.h"
#include "common/registry_text.h"

namespace kelvra {
namespace {

constexpr auto kMachine = RegistryRoot::LocalMachine;
constexpr auto kOwn = RegistryView::Own;
constexpr wchar_t kKey[] = L"Software\\Test\\Entry";

std::string Utf16(std::wstring_view text) {
    std::string bytes = EncodeRegistryText(text);
    bytes.resize(bytes.size() - 2);  // without the terminator
    return bytes;
}

class MemoryRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { registry_.AddKey(kMachine, kOwn, kKey); }

    std::unique_ptr<RegistryAccessor> OpenEntry() {
        auto accessor = registry_.CreateAccessor(kMachine, kOwn);
        EXPECT_TRUE(accessor->OpenKeyReadOnly(kKey));
        return accessor;
    }

    void SetRaw(std::wstring_view name, RegistryType type, std::string bytes) {
        registry_.SetRaw(kMachine, kOwn, kKey, name, type, std::move(bytes));
    }

    MemoryRegistry registry_;
};

TEST_F(MemoryRegistryTest, TextIsReadUpToTheFirstNulWhateverTheLayout) {
    SetRaw(L"NoTerminator", RegistryType::String, Utf16(L"abc"));
    SetRaw(L"OddLength", RegistryType::String, Utf16(L"abc") + "d");
    SetRaw(L"OddTerminated", RegistryType::String, EncodeRegistryText(L"ab") + "x");
    SetRaw(L"EmbeddedNul", RegistryType::String,
           Utf16(L"visible") + std::string(2, '\0') + Utf16(L"hidden"));
    SetRaw(L"Empty", RegistryType::String, "");
    SetRaw(L"OneByte", RegistryType::String, "A");
    SetRaw(L"NulOnly", RegistryType::String, std::string(2, '\0'));
    SetRaw(L"Expand", RegistryType::ExpandString, EncodeRegistryText(L"%SystemRoot%\\x.exe"));

    auto reg = OpenEntry();
    EXPECT_EQ(reg->ReadString(L"NoTerminator"), L"abc");
    EXPECT_EQ(reg->ReadString(L"OddLength"), L"abc") << "half a code unit is dropped";
    EXPECT_EQ(reg->ReadString(L"OddTerminated"), L"ab");
    EXPECT_EQ(reg->ReadString(L"EmbeddedNul"), L"visible");
    EXPECT_EQ(reg->ReadString(L"Empty"), L"");
    EXPECT_EQ(reg->ReadString(L"OneByte"), L"");
    EXPECT_EQ(reg->ReadString(L"NulOnly"), L"");
    EXPECT_EQ(reg->ReadString(L"Expand"), L"%SystemRoot%\\x.exe") << "never expanded";
    EXPECT_EQ(reg->ReadString(L"Missing"), L"") << "a missing value is empty text";
}

TEST_F(MemoryRegistryTest, LongAndNonAsciiTextsComeBackWhole) {
    const std::wstring big(32 * 1024, L'x');
    const std::wstring foreign = L"\u4e2d\u6587 caf\u00e9 \u03a9";
    registry_.SetString(kMachine, kOwn, kKey, L"Big", big);
    registry_.SetString(kMachine, kOwn, kKey, L"Foreign", foreign);
    auto reg = OpenEntry();
    EXPECT_EQ(reg->ReadString(L"Big"), big);
    EXPECT_EQ(reg->ReadString(L"Foreign"), foreign);
}

TEST_F(MemoryRegistryTest, SurrogatePairsAndLoneHalvesDecodeSafely) {
    // U+1F600 as its two UTF-16 halves, then a high half with no partner.
    const std::string pair = std::string("\x3d\xd8\x00\xde", 4);
    const std::string lone = std::string("\x3d\xd8", 2);
    const std::wstring decoded = DecodeRegistryText(pair + lone + Utf16(L"!"));
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(decoded, std::wstring(L"\xd83d\xde00\xd83d!"));
    } else {
        ASSERT_EQ(decoded.size(), 3u);
        EXPECT_EQ(static_cast<std::uint32_t>(decoded[0]), 0x1F600u);
        EXPECT_EQ(static_cast<std::uint32_t>(decoded[1]), 0xD83Du);
        EXPECT_EQ(decoded[2], L'!');
    }
    EXPECT_EQ(DecodeRegistryText(lone), std::wstring(1, static_cast<wchar_t>(0xD83D)));
}

TEST_F(MemoryRegistryTest, WrongTypesRaiseTheInvalidDataTypeError) {
    SetRaw(L"Binary", RegistryType::Binary, "\x05\x00\x00\x00");
    SetRaw(L"QWord", RegistryType::QWord, std::string(8, '\x01'));
    SetRaw(L"Multi", RegistryType::MultiString, EncodeRegistryText(L"a") + std::string(2, '\0'));
    registry_.SetDWord(kMachine, kOwn, kKey, L"Number", 7);
    registry_.SetString(kMachine, kOwn, kKey, L"Text", L"7");
    auto reg = OpenEntry();

    for (const wchar_t* name : {L"Binary", L"QWord", L"Multi", L"Number"}) {
        try {
            reg->ReadString(name);
            ADD_FAILURE() << "no error for a text read of a non-text value";
        } catch (const RegistryError& error) {
            EXPECT_EQ(
                std::string(error.what()),
                "Invalid data type for '" + std::string(name, name + std::wcslen(name)) + "'");
        }
    }
    for (const wchar_t* name : {L"Binary", L"QWord", L"Multi", L"Text"})
        EXPECT_THROW(reg->ReadInteger(name), RegistryError);
    EXPECT_THROW(reg->ReadInteger(L"Missing"), RegistryError);
}

TEST_F(MemoryRegistryTest, DWordsAreSignedAndMustBeFourBytes) {
    registry_.SetDWord(kMachine, kOwn, kKey, L"Seven", 7);
    registry_.SetDWord(kMachine, kOwn, kKey, L"MinusOne", 0xFFFFFFFFu);
    SetRaw(L"Short", RegistryType::DWord, "\x05\x00");
    SetRaw(L"Long", RegistryType::DWord, std::string("\x05\x00\x00\x00\x00\x00\x00\x00", 8));
    SetRaw(L"Empty", RegistryType::DWord, "");
    auto reg = OpenEntry();
    EXPECT_EQ(reg->ReadInteger(L"Seven"), 7);
    EXPECT_EQ(reg->ReadInteger(L"MinusOne"), -1);
    EXPECT_THROW(reg->ReadInteger(L"Short"), RegistryError);
    EXPECT_THROW(reg->ReadInteger(L"Long"), RegistryError);
    EXPECT_THROW(reg->ReadInteger(L"Empty"), RegistryError);
}

TEST_F(MemoryRegistryTest, NamesIgnoreCaseAndTypesAreReported) {
    registry_.SetDWord(kMachine, kOwn, kKey, L"VersionMajor", 5);
    registry_.SetString(kMachine, kOwn, kKey, L"DisplayName", L"App", RegistryType::ExpandString);
    SetRaw(L"Nothing", RegistryType::None, "");
    auto accessor = registry_.CreateAccessor(kMachine, kOwn);
    ASSERT_TRUE(accessor->OpenKeyReadOnly(L"SOFTWARE\\test\\ENTRY"));
    EXPECT_EQ(accessor->CurrentPath(), L"SOFTWARE\\test\\ENTRY") << "the path as given";
    EXPECT_TRUE(accessor->ValueExists(L"versionmajor"));
    EXPECT_EQ(accessor->GetDataType(L"VERSIONMAJOR"), RegistryType::DWord);
    EXPECT_EQ(accessor->GetDataType(L"displayname"), RegistryType::ExpandString);
    EXPECT_TRUE(accessor->ValueExists(L"Nothing")) << "a REG_NONE value exists";
    EXPECT_FALSE(accessor->ValueExists(L"Missing"));
    EXPECT_EQ(accessor->GetDataType(L"Missing"), RegistryType::None);
}

TEST_F(MemoryRegistryTest, KeysOpenReadOnlyAndViewsAreSeparate) {
    registry_.AddKey(kMachine, kOwn, L"Software\\Test\\Entry\\Zeta");
    registry_.AddKey(kMachine, kOwn, L"Software\\Test\\Entry\\alpha");
    registry_.AddKey(kMachine, kOwn, L"Software\\Test\\Entry\\Beta\\Deeper");
    registry_.AddKey(kMachine, RegistryView::Wow64_64, L"Software\\Only64");

    auto own = registry_.CreateAccessor(kMachine, kOwn);
    EXPECT_FALSE(own->OpenKeyReadOnly(L"Software\\Only64"));
    EXPECT_FALSE(own->OpenKeyReadOnly(L"Software\\Only64")) << "a failed open creates nothing";
    EXPECT_EQ(own->CurrentPath(), L"");
    EXPECT_FALSE(registry_.CreateAccessor(RegistryRoot::CurrentUser, kOwn)->OpenKeyReadOnly(kKey));
    EXPECT_TRUE(registry_.CreateAccessor(kMachine, RegistryView::Wow64_64)
                    ->OpenKeyReadOnly(L"Software\\Only64"));

    ASSERT_TRUE(own->OpenKeyReadOnly(kKey));
    EXPECT_EQ(own->GetKeyNames(), (std::vector<std::wstring>{L"alpha", L"Beta", L"Zeta"}));
    int between = 0;
    EXPECT_EQ(own->GetKeyNames([&] { ++between; }).size(), 3u);
    EXPECT_GT(between, 0) << "a long listing lets its caller serve the user meanwhile";
    own->CloseKey();
    EXPECT_EQ(own->CurrentPath(), L"");
    EXPECT_TRUE(own->GetKeyNames().empty()) << "no key open, nothing to list";
    EXPECT_FALSE(own->ValueExists(L"Anything"));
}

TEST_F(MemoryRegistryTest, EncodingRoundTripsThroughTheRawBytes) {
    EXPECT_EQ(EncodeRegistryText(L"Ab"), std::string("A\0b\0\0\0", 6));
    EXPECT_EQ(DecodeRegistryText(EncodeRegistryText(L"caf\u00e9 \u4e2d")), L"caf\u00e9 \u4e2d");
}

}  // namespace
}  // namespace kelvra
