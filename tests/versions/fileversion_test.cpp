// The portable half of the version-resource reader: the soundness check that
// stands between a hostile version block and the system's walk over it, the
// bounds of every value read back, the formats, and the reader's behaviour
// where the system finds no block. Run under AddressSanitizer, the corruption
// loops also prove that the check never reads outside the buffer it is given.

#include "versions/fileversion.h"

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
#include "support/version_blocks.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

using namespace version_blocks;

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

    // The system finds the root's children behind its fixed record: a value
    // length that puts them inside the record walks the record as nodes.
    Bytes rootValueShort = good;
    PutWord(rootValueShort, 2, 8);
    EXPECT_FALSE(VersionBlockIsSound(rootValueShort));
}

// The value length of a string or translation entry: the system never walks
// below such a node, so no length of it makes the block unsound.
TEST(VersionBlockSoundness, LeafValueLengthsNeverMatter) {
    for (const bool layout16 : {false, true}) {
        const Bytes good = layout16 ? Typical16BitBlock() : TypicalBlock();
        for (const char* leaf : {"FileVersion", "ProductVersion", "Translation"}) {
            for (std::uint16_t length : {0, 1, 3, 5, 0x7FFF, 0xFFFF}) {
                Bytes block = good;
                PutWord(block, NodeOffset(good, leaf, layout16) + 2, length);
                EXPECT_TRUE(VersionBlockIsSound(block))
                    << leaf << " with value length " << length << (layout16 ? " (16-bit)" : "");
            }
        }
    }
}

TEST(VersionBlockSoundness, OnlyTheLevelsTheSystemWalksAreExamined) {
    // A leaf whose "children" are nonsense, nested far deeper than any real
    // block: below a string nothing is looked at.
    Node deep{"StringFileInfo", {}, 0, 1, {}};
    for (int depth = 0; depth < 200; ++depth) deep = Node{"StringFileInfo", {}, 0, 1, {deep}};
    const Bytes nested = Serialized(Root({deep}), false);
    ASSERT_LT(nested.size(), 0x10000u);
    EXPECT_TRUE(VersionBlockIsSound(nested));
    // Each level starts 36 bytes into the one above: the first below the
    // root is "StringFileInfo", then a table, then a string.
    const std::size_t first = NodeOffset(nested, "StringFileInfo");
    Bytes lyingString = nested;
    PutWord(lyingString, first + 2 * 36, 0x7FFF);
    EXPECT_FALSE(VersionBlockIsSound(lyingString));
    Bytes lyingBelowString = nested;
    PutWord(lyingBelowString, first + 10 * 36, 0x7FFF);
    EXPECT_TRUE(VersionBlockIsSound(lyingBelowString));

    // A string table whose first string claims more than the table holds,
    // under a root child of each name: the system descends into children
    // named "StringFileInfo" in any case (and, with its own case tables,
    // perhaps into a name with letters outside ASCII), never into others.
    const auto withTableUnder = [](const std::string& name) {
        Node table = Branch("040904B0", {Text("FileVersion", L"1")});
        Bytes block = Serialized(Root({Branch(name, {table})}), false);
        PutWord(block, NodeOffset(block, "FileVersion"), 0x7FF0);
        block.resize(block.size() + 0x40);
        return block;
    };
    EXPECT_FALSE(VersionBlockIsSound(withTableUnder("StringFileInfo")));
    EXPECT_FALSE(VersionBlockIsSound(withTableUnder("STRINGFILEINFO")));
    Bytes nonAscii = withTableUnder("StringFileInfo");
    PutWord(nonAscii, NodeOffset(nonAscii, "StringFileInfo") + 6 + 2 * 3, 0x0130);  // the i
    EXPECT_FALSE(VersionBlockIsSound(nonAscii));
    EXPECT_TRUE(VersionBlockIsSound(withTableUnder("Custom")));
    EXPECT_TRUE(VersionBlockIsSound(withTableUnder("StringFileInfoX")));
}

TEST(VersionBlockSoundness, RejectsUnterminatedKeysAndTinyBuffers) {
    for (std::size_t size = 0; size < 8; ++size) EXPECT_FALSE(VersionBlockIsSound(Bytes(size)));

    // The root's key runs to the end of the root without a terminator.
    Bytes block(64, std::byte{0});
    PutWord(block, 0, 64);
    for (std::size_t at = 6; at < 64; at += 2) PutWord(block, at, 'K');
    EXPECT_FALSE(VersionBlockIsSound(block));
}

// What VerQueryValueW does with a text of a block in the 16-bit layout: it
// copies the bytes from the value's offset to their first zero byte, as
// UTF-16 and with the zero, to the block's length plus twice the offset.
// Returns where the copy ends.
std::size_t Copy16BitText(Bytes& buffer, std::size_t pos) {
    const std::size_t rootEnd =
        std::to_integer<std::size_t>(buffer[0]) | (std::to_integer<std::size_t>(buffer[1]) << 8);
    std::size_t end = pos;
    while (buffer.at(end) != std::byte{0}) ++end;
    std::size_t to = rootEnd + 2 * pos;
    for (std::size_t at = pos; at <= end; ++at, to += 2)
        PutWord(buffer, to, std::to_integer<std::uint16_t>(buffer[at]));
    return to;
}

TEST(VersionBlockSoundness, SurvivesEveryTruncationAndEveryCorruptedWord) {
    // Under AddressSanitizer any read past the buffer fails the test. Of the
    // corrupted blocks that pass, every value is read inside the buffer, and
    // in the 16-bit layout every copy the system could make of a text fits
    // the buffer the block is given.
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
                if (!VersionBlockIsSound(corrupt)) continue;
                for (std::size_t value = 0; value < corrupt.size(); value += 2) {
                    (void)TextOfQueriedValue(corrupt, corrupt.data() + value);
                    (void)FirstTranslationOfValue(corrupt, corrupt.data() + value);
                }
                if (!IsVersionBlock16(corrupt)) continue;
                const std::size_t rootEnd = std::to_integer<std::size_t>(corrupt[0]) |
                                            (std::to_integer<std::size_t>(corrupt[1]) << 8);
                Bytes spare(corrupt.begin(),
                            corrupt.begin() + static_cast<std::ptrdiff_t>(rootEnd));
                spare.resize(4 * BufferSizeFor16BitBlock(rootEnd));
                for (std::size_t pos = 8; pos <= rootEnd + 3; pos += 4)
                    EXPECT_LE(Copy16BitText(spare, pos), BufferSizeFor16BitBlock(rootEnd))
                        << "text at " << pos << " with word " << word << " at " << at;
            }
        }
    }
}

// ---- values read back from the system -------------------------------------------

TEST(VersionValueBounds, TextStopsAtNulRoomOrBufferEnd) {
    const std::wstring stored = L"1, 2";
    Bytes buffer;
    for (wchar_t ch : stored) AppendWord(buffer, static_cast<std::uint16_t>(ch));
    AppendWord(buffer, 0);
    AppendWord(buffer, 'X');

    EXPECT_EQ(TextFromValue(buffer, buffer.data(), 6), L"1, 2");  // NUL first
    EXPECT_EQ(TextFromValue(buffer, buffer.data(), 2), L"1,");    // room first
    EXPECT_EQ(TextFromValue(buffer, buffer.data(), 0), L"");

    // Room that reaches past the buffer is cut at its end.
    const Bytes noNul(buffer.begin(), buffer.begin() + 8);
    EXPECT_EQ(TextFromValue(noNul, noNul.data(), 0xFFFF), L"1, 2");
    // A value that starts outside the buffer is not read at all.
    EXPECT_EQ(TextFromValue(noNul, noNul.data() + noNul.size(), 2), L"");
    EXPECT_EQ(TextFromValue(noNul, nullptr, 2), L"");
    // An odd byte at the very end is not half a character.
    const Bytes odd(buffer.begin(), buffer.begin() + 3);
    EXPECT_EQ(TextFromValue(odd, odd.data(), 10), L"1");
}

// Where the system's query points for a string: just past the key, on the
// next 32-bit boundary.
const std::byte* ValueOf(const Bytes& block, const std::string& key, bool layout16 = false) {
    const std::size_t node = NodeOffset(block, key, layout16);
    const std::size_t keyEnd = node + (layout16 ? 4 + key.size() + 1 : 6 + 2 * (key.size() + 1));
    return block.data() + ((keyEnd + 3) & ~std::size_t{3});
}

TEST(VersionValueBounds, QueriedTextEndsAtItsNulOrItsNodeNeverAtItsReportedLength) {
    const Bytes good = TypicalBlock();
    for (std::uint16_t length : {0, 1, 4, 11, 12, 0x7FFF, 0xFFFF}) {
        Bytes block = good;
        PutWord(block, NodeOffset(good, "FileVersion") + 2, length);
        EXPECT_EQ(TextOfQueriedValue(block, ValueOf(block, "FileVersion")), L"1, 2, 3, 4")
            << length;
        EXPECT_EQ(TextOfQueriedValue(block, ValueOf(block, "ProductVersion")), L"1.2") << length;
    }

    // A text without its NUL ends with its node, not in the next one.
    Bytes noNul = good;
    const std::byte* productVersion = ValueOf(good, "ProductVersion");
    PutWord(noNul, static_cast<std::size_t>(productVersion - good.data()) + 6, 'X');
    EXPECT_EQ(TextOfQueriedValue(noNul, noNul.data() + (productVersion - good.data())), L"1.2X");

    // The translation entry: read when its node holds four bytes, whatever
    // its value length says.
    Bytes translation = good;
    PutWord(translation, NodeOffset(good, "Translation") + 2, 0);
    EXPECT_EQ(FirstTranslationOfValue(translation, ValueOf(translation, "Translation")),
              0x04B00409u);
    Bytes cut =
        Serialized(Root({Branch("VarFileInfo",
                                {Node{"Translation", {std::byte{9}, std::byte{4}}, 4, 0, {}}}, 0)}),
                   false);
    EXPECT_FALSE(FirstTranslationOfValue(cut, ValueOf(cut, "Translation")));
}

TEST(VersionValueBounds, A16BitTextIsReadFromTheSystemsCopyWithinItsNode) {
    Bytes block = Typical16BitBlock();
    const std::size_t rootEnd = block.size();
    const std::size_t fileVersion =
        static_cast<std::size_t>(ValueOf(block, "FileVersion", true) - block.data());
    const std::size_t productVersion =
        static_cast<std::size_t>(ValueOf(block, "ProductVersion", true) - block.data());
    block.resize(BufferSizeFor16BitBlock(rootEnd));

    Copy16BitText(block, fileVersion);
    Copy16BitText(block, productVersion);
    EXPECT_EQ(TextOfQueriedValue(block, block.data() + rootEnd + 2 * fileVersion), L"3.1 b7");
    EXPECT_EQ(TextOfQueriedValue(block, block.data() + rootEnd + 2 * productVersion),
              L"3.1 \u00e9t\u00e9");

    // A text whose NUL lies beyond its node: the copy runs on, the text ends
    // with the node.
    Bytes noNul = Typical16BitBlock();
    noNul[fileVersion + 6] = std::byte{'X'};
    const std::size_t nodeEnd = NodeOffset(noNul, "FileVersion", true) + 4 + 12 + 7;
    noNul.resize(BufferSizeFor16BitBlock(rootEnd));
    for (std::size_t at = nodeEnd; at < ((nodeEnd + 3) & ~std::size_t{3}); ++at)
        noNul[at] = std::byte{'Y'};
    Copy16BitText(noNul, fileVersion);
    EXPECT_EQ(TextOfQueriedValue(noNul, noNul.data() + rootEnd + 2 * fileVersion), L"3.1 b7X");
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

    EXPECT_FALSE(FixedWordsFromRecord(buffer, at, 51));      // shorter than the record
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
    EXPECT_EQ(StringTablePath(0x04B00409, L"FileVersion"),
              L"\\StringFileInfo\\040904B0\\FileVersion");
    EXPECT_EQ(StringTablePath(0x04E4040C, L"Comments"), L"\\StringFileInfo\\040C04E4\\Comments");
    EXPECT_EQ(StringTablePath(0xFFFFABCD, L"X"), L"\\StringFileInfo\\ABCDFFFF\\X");
}

// ---- the reader where the system finds no block ------------------------------------

class FileVersionTraceLog : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() /
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
