// The portable half of the version-resource reader: the soundness check that
// stands between a hostile version block and the system's walk over it, the
// bounds of every value read back, the formats, and the reader's behaviour
// where the system finds no block. Run under AddressSanitizer, the corruption
// loops also prove that the check never reads outside the buffer it is given.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/globals.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

using Bytes = std::vector<std::byte>;

// ---- building version blocks ------------------------------------------------

struct Node {
    std::string key;  // ASCII
    Bytes value;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;  // 1: text (32-bit layout only)
    std::vector<Node> children;
};

void PutWord(Bytes& out, std::size_t at, std::uint16_t word) {
    out[at] = std::byte(word & 0xFF);
    out[at + 1] = std::byte(word >> 8);
}

void AppendWord(Bytes& out, std::uint16_t word) {
    out.push_back(std::byte(word & 0xFF));
    out.push_back(std::byte(word >> 8));
}

void AppendDWord(Bytes& out, std::uint32_t value) {
    AppendWord(out, static_cast<std::uint16_t>(value & 0xFFFF));
    AppendWord(out, static_cast<std::uint16_t>(value >> 16));
}

void Pad4(Bytes& out) {
    while (out.size() % 4) out.push_back(std::byte{0});
}

// Writes the node the way resource compilers do: the length covers the node
// and its children but not the padding after the last child.
void Serialize(const Node& node, Bytes& out, bool layout16) {
    const std::size_t start = out.size();
    AppendWord(out, 0);
    AppendWord(out, node.valueLength);
    if (!layout16) AppendWord(out, node.type);
    for (char ch : node.key) {
        if (layout16)
            out.push_back(std::byte(ch));
        else
            AppendWord(out, static_cast<std::uint16_t>(ch));
    }
    if (layout16)
        out.push_back(std::byte{0});
    else
        AppendWord(out, 0);
    Pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        Pad4(out);
        Serialize(child, out, layout16);
    }
    PutWord(out, start, static_cast<std::uint16_t>(out.size() - start));
}

Node Text(std::string key, const std::wstring& text) {
    Node node{std::move(key), {}, static_cast<std::uint16_t>(text.size() + 1), 1, {}};
    for (wchar_t ch : text) AppendWord(node.value, static_cast<std::uint16_t>(ch));
    AppendWord(node.value, 0);
    return node;
}

Node Branch(std::string key, std::vector<Node> children, std::uint16_t type = 1) {
    return Node{std::move(key), {}, 0, type, std::move(children)};
}

Bytes FixedRecord(std::uint32_t ms, std::uint32_t ls, std::uint32_t signature = 0xFEEF04BD) {
    Bytes record;
    AppendDWord(record, signature);
    AppendDWord(record, 0x00010000);
    AppendDWord(record, ms);
    AppendDWord(record, ls);
    while (record.size() < 52) record.push_back(std::byte{0});
    return record;
}

Node Root(std::vector<Node> children) {
    Node root{"VS_VERSION_INFO", FixedRecord(0x00010002, 0x00030004), 52, 0, std::move(children)};
    return root;
}

Bytes TypicalBlock() {
    Node translation{"Translation", {}, 4, 0, {}};
    AppendDWord(translation.value, 0x04B00409);
    const Node root = Root({
        Branch("StringFileInfo",
               {Branch("040904B0", {Text("FileVersion", L"1, 2, 3, 4"),
                                    Text("ProductVersion", L"1.2")})}),
        Branch("VarFileInfo", {translation}, 0),
    });
    Bytes block;
    Serialize(root, block, false);
    return block;
}

Bytes Typical16BitBlock() {
    Node fileVersion{"FileVersion", {}, 4, 0, {}};
    for (char ch : std::string("1.0")) fileVersion.value.push_back(std::byte(ch));
    fileVersion.value.push_back(std::byte{0});
    const Node root{"VS_VERSION_INFO",
                    FixedRecord(0x00010000, 0),
                    52,
                    0,
                    {Node{"StringFileInfo", {}, 0, 0, {Node{"040904E4", {}, 0, 0, {fileVersion}}}}}};
    Bytes block;
    Serialize(root, block, true);
    return block;
}

// Offset of the node whose key is the given ASCII text (32-bit layout).
std::size_t NodeOffset(const Bytes& block, const std::string& key) {
    Bytes needle;
    for (char ch : key) AppendWord(needle, static_cast<std::uint16_t>(ch));
    AppendWord(needle, 0);
    auto it = std::search(block.begin(), block.end(), needle.begin(), needle.end());
    EXPECT_NE(it, block.end()) << key;
    return static_cast<std::size_t>(it - block.begin()) - 6;
}

// ---- the soundness check -----------------------------------------------------

TEST(VersionBlockSoundness, AcceptsWellFormedBlocksInBothLayouts) {
    EXPECT_TRUE(VersionBlockIsSound(TypicalBlock()));
    EXPECT_TRUE(VersionBlockIsSound(Typical16BitBlock()));

    // Room after the block, as the system's buffers always have, changes nothing.
    Bytes roomy = TypicalBlock();
    roomy.resize(roomy.size() * 2 + 4);
    EXPECT_TRUE(VersionBlockIsSound(roomy));
}

TEST(VersionBlockSoundness, RejectsLengthsThatReachOutside) {
    const Bytes good = TypicalBlock();

    Bytes rootTooLong = good;
    PutWord(rootTooLong, 0, static_cast<std::uint16_t>(good.size() + 2));
    EXPECT_FALSE(VersionBlockIsSound(rootTooLong));

    Bytes rootTooShort = good;
    PutWord(rootTooShort, 0, 4);
    EXPECT_FALSE(VersionBlockIsSound(rootTooShort));

    // A string that claims more than its table holds.
    Bytes childTooLong = good;
    PutWord(childTooLong, NodeOffset(good, "FileVersion"), 0x7FFF);
    EXPECT_FALSE(VersionBlockIsSound(childTooLong));

    // A table that claims more than the block holds, though the block's own
    // length would still fit the buffer.
    Bytes tableTooLong = good;
    tableTooLong.resize(good.size() + 0x1000);
    PutWord(tableTooLong, NodeOffset(good, "040904B0"), 0x0F00);
    EXPECT_FALSE(VersionBlockIsSound(tableTooLong));
}

TEST(VersionBlockSoundness, ValueLengthsAreNotTrustedButNeedNotBeExact) {
    // A text value longer than its node hides the children behind it; the
    // check then has nothing more to walk, and the value itself is cut when
    // read (TextFromValue).
    Bytes lyingValue = TypicalBlock();
    PutWord(lyingValue, NodeOffset(lyingValue, "FileVersion") + 2, 0xFFFF);
    EXPECT_TRUE(VersionBlockIsSound(lyingValue));
}

TEST(VersionBlockSoundness, RejectsUnterminatedKeysAndTinyBuffers) {
    for (std::size_t size = 0; size < 8; ++size) EXPECT_FALSE(VersionBlockIsSound(Bytes(size)));

    // The root's key runs to the end of the root without a terminator.
    Bytes block(64, std::byte{0});
    PutWord(block, 0, 64);
    for (std::size_t at = 6; at < 64; at += 2) PutWord(block, at, 'K');
    EXPECT_FALSE(VersionBlockIsSound(block));
}

TEST(VersionBlockSoundness, StopsAtAbsurdNesting) {
    // Each node holds the next; far deeper than any real block.
    Node node{"x", {}, 0, 0, {}};
    for (int depth = 0; depth < 200; ++depth) node = Node{"x", {}, 0, 0, {node}};
    Bytes block;
    Serialize(node, block, false);
    ASSERT_LT(block.size(), 0x10000u);
    EXPECT_FALSE(VersionBlockIsSound(block));
}

TEST(VersionBlockSoundness, SurvivesEveryTruncationAndEveryCorruptedWord) {
    // Under AddressSanitizer any read past the buffer fails the test.
    for (const Bytes& good : {TypicalBlock(), Typical16BitBlock()}) {
        for (std::size_t size = 0; size < good.size(); ++size) {
            const Bytes prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_FALSE(VersionBlockIsSound(prefix)) << "cut at " << size;
        }
        for (std::size_t at = 0; at + 1 < good.size(); ++at) {
            for (std::uint16_t word : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{0xFFFF},
                                       std::uint16_t{0x8001}}) {
                Bytes corrupt = good;
                PutWord(corrupt, at, word);
                (void)VersionBlockIsSound(corrupt);
            }
        }
    }
}

// ---- values read back from the system -------------------------------------------

TEST(VersionValueBounds, TextStopsAtNulOrBufferEnd) {
    const std::wstring stored = L"1, 2";
    Bytes buffer;
    for (wchar_t ch : stored) AppendWord(buffer, static_cast<std::uint16_t>(ch));
    AppendWord(buffer, 0);
    AppendWord(buffer, 'X');

    EXPECT_EQ(TextFromValue(buffer, buffer.data(), 6), L"1, 2");  // NUL first
    EXPECT_EQ(TextFromValue(buffer, buffer.data(), 2), L"1,");    // reported length first
    EXPECT_EQ(TextFromValue(buffer, buffer.data(), 0), L"");

    // A length that reaches past the buffer is cut at its end.
    const Bytes noNul(buffer.begin(), buffer.begin() + 8);
    EXPECT_EQ(TextFromValue(noNul, noNul.data(), 0xFFFF), L"1, 2");
    // A value that starts outside the buffer is not read at all.
    EXPECT_EQ(TextFromValue(noNul, noNul.data() + noNul.size(), 2), L"");
    EXPECT_EQ(TextFromValue(noNul, nullptr, 2), L"");
    // An odd byte at the very end is not half a character.
    const Bytes odd(buffer.begin(), buffer.begin() + 3);
    EXPECT_EQ(TextFromValue(odd, odd.data(), 10), L"1");
}

TEST(VersionValueBounds, FixedRecordNeedsSizeSignatureAndRoom) {
    Bytes buffer(8, std::byte{0});
    const Bytes record = FixedRecord(0x00010002, 0x00030004);
    buffer.insert(buffer.end(), record.begin(), record.end());
    const std::byte* at = buffer.data() + 8;

    const auto words = FixedWordsFromRecord(buffer, at, 52);
    ASSERT_TRUE(words);
    EXPECT_EQ(words->ms, 0x00010002u);
    EXPECT_EQ(words->ls, 0x00030004u);

    EXPECT_FALSE(FixedWordsFromRecord(buffer, at, 51));  // shorter than the record
    EXPECT_FALSE(FixedWordsFromRecord(buffer, at + 4, 52));  // runs past the buffer
    EXPECT_FALSE(FixedWordsFromRecord(buffer, nullptr, 52));
    const Bytes wrongSignature = FixedRecord(1, 2, 0xFEEF04BC);
    EXPECT_FALSE(FixedWordsFromRecord(wrongSignature, wrongSignature.data(), 52));
}

// ---- formats ---------------------------------------------------------------------

TEST(VersionFormats, FixedVersionIsFourUnsignedParts) {
    EXPECT_EQ(FormatFixedVersion(0x00010002, 0x00030004), L"1.2.3.4");
    EXPECT_EQ(FormatFixedVersion(0xFFFF0000, 0xFFFFFFFF), L"65535.0.65535.65535");
    EXPECT_EQ(FormatFixedVersion(0, 0), L"0.0.0.0");
    EXPECT_EQ(FormatFixedVersion(0x000A0000, 0x00000064), L"10.0.0.100");
}

TEST(VersionFormats, StringTablePathIsLanguageThenCodePageInUpperHex) {
    EXPECT_EQ(StringTablePath(0x04B00409, L"FileVersion"), L"\\StringFileInfo\\040904B0\\FileVersion");
    EXPECT_EQ(StringTablePath(0x04E4040C, L"Comments"), L"\\StringFileInfo\\040C04E4\\Comments");
    EXPECT_EQ(StringTablePath(0xFFFFABCD, L"X"), L"\\StringFileInfo\\ABCDFFFF\\X");
}

// ---- the reader where the system finds no block ------------------------------------

class FileVersionTraceLog : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("kelvra-fv-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        savedEnabled_ = LogEnabled;
        savedDir_ = AppDataDir;
        LogEnabled = true;
        AppDataDir = folder_.wstring() + L"/";
    }
    void TearDown() override {
        LogEnabled = savedEnabled_;
        AppDataDir = savedDir_;
        std::filesystem::remove_all(folder_);
    }
    // The messages of the log, without their time stamps.
    std::vector<std::string> Messages() const {
        std::ifstream in(folder_ / "logreg.txt", std::ios::binary);
        std::vector<std::string> messages;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            messages.push_back(line.substr(line.find("> ") + 2));
        }
        return messages;
    }
    std::filesystem::path folder_;
    bool savedEnabled_ = false;
    std::wstring savedDir_;
};

TEST_F(FileVersionTraceLog, FileWithoutBlockIsOkWithEmptyTextsAndThreeLines) {
    const FileVersionResult result = ReadFileVersions(L"C:\\App\\app.exe");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.fixedVersion, L"");
    EXPECT_EQ(result.fileVersionText, L"");
    EXPECT_EQ(result.productVersionText, L"");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"GetVersion2 [C:\\App\\app.exe] A",
                                                    "GetAppVersionInfo [C:\\App\\app.exe] A",
                                                    "GetAppVersionInfo [C:\\App\\app.exe] B"}));
}

TEST_F(FileVersionTraceLog, PercentSignsInPathsAreNotFormats) {
    (void)ReadFileVersions(L"C:\\100%s\\a.exe");
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().front(), "GetVersion2 [C:\\100%s\\a.exe] A");
}

TEST_F(FileVersionTraceLog, FailingLogMakesTheReadFailInsteadOfRaising) {
    AppDataDir = (folder_ / "missing" / "deeper").wstring() + L"/";
    const FileVersionResult result = ReadFileVersions(L"C:\\App\\app.exe");
    EXPECT_FALSE(result.ok);
}

// ---- the replaceable reader ------------------------------------------------------------

class FixedReader : public FileVersionReader {
public:
    FileVersionResult Read(const std::wstring& path) override {
        ++calls;
        return {true, L"9.9.9.9", path, L""};
    }
    int calls = 0;
};

TEST(FileVersionReaderSwitch, InstalledReaderServesUntilReset) {
    const FileVersionResult platform = CurrentFileVersionReader()->Read(L"C:\\x.exe");
    EXPECT_TRUE(platform.ok);
    EXPECT_EQ(platform.fixedVersion, L"");

    auto fake = std::make_shared<FixedReader>();
    EXPECT_EQ(SetFileVersionReader(fake), nullptr);
    EXPECT_EQ(CurrentFileVersionReader()->Read(L"C:\\x.exe").fileVersionText, L"C:\\x.exe");
    EXPECT_EQ(fake->calls, 1);

    EXPECT_EQ(SetFileVersionReader(nullptr), fake);
    EXPECT_EQ(CurrentFileVersionReader()->Read(L"C:\\x.exe").fixedVersion, L"");
    EXPECT_EQ(fake->calls, 1);
}

}  // namespace
}  // namespace kelvra
