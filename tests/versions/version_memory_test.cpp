// The version reads remembered between runs: what comes back from the file,
// what is never remembered, and that a file that is not exactly what the
// writer wrote gives no memory at all rather than a wrong version.

#include "versions/version_memory.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kelvra {
namespace {

constexpr char kReader[] = "2.0.0.0 rules 1";

FileVersionResult Read(std::wstring fixed, std::wstring file, std::wstring product) {
    FileVersionResult result;
    result.ok = true;
    result.fixedVersion = std::move(fixed);
    result.fileVersionText = std::move(file);
    result.productVersionText = std::move(product);
    return result;
}

void ExpectSame(const std::optional<FileVersionResult>& got, const FileVersionResult& wanted) {
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->ok);
    EXPECT_EQ(got->fixedVersion, wanted.fixedVersion);
    EXPECT_EQ(got->fileVersionText, wanted.fileVersionText);
    EXPECT_EQ(got->productVersionText, wanted.productVersionText);
}

VersionMemory Decoded(const std::string& bytes) {
    DecodedVersionMemory decoded = DecodeVersionMemory(bytes, kReader);
    EXPECT_TRUE(decoded.memory.has_value()) << decoded.whyNot;
    return decoded.memory ? std::move(*decoded.memory) : VersionMemory();
}

const FileFacts kFacts{4096, 133000000000000000, 132000000000000000};

struct Remembered {
    std::wstring path;
    FileFacts facts;
    FileVersionResult result;
};

// Two files of one folder sharing a reading, a file without a version, a
// folder of its own, a name outside ASCII.
const std::vector<Remembered> kFiles = {
    {L"C:\\Program Files\\App\\app.exe", kFacts, Read(L"1.2.3.4", L"1, 2, 3, 4", L"1.2")},
    {L"C:\\Program Files\\App\\helper.exe", {10, 1, 2}, Read(L"1.2.3.4", L"1, 2, 3, 4", L"1.2")},
    {L"C:\\Program Files\\App\\bare.exe", {20, 3, 4}, Read(L"", L"", L"")},
    {L"D:\\Caf\u00e9\\\u7f16\u8f91.exe", {30, -5, 6}, Read(L"0.0.0.0", L"\u00e9t\u00e9", L"")},
};

VersionMemory MemoryOfAllFiles() {
    VersionMemory memory;
    for (const Remembered& file : kFiles) memory.Remember(file.path, file.facts, file.result);
    return memory;
}

TEST(VersionMemory, EveryReadComesBackFromTheFileWhileItsFactsStay) {
    const std::string bytes = MemoryOfAllFiles().Encode(kReader, 77);
    const DecodedVersionMemory decoded = DecodeVersionMemory(bytes, kReader);
    ASSERT_TRUE(decoded.memory) << decoded.whyNot;
    EXPECT_EQ(decoded.fullReadAt, 77);
    VersionMemory memory = *decoded.memory;
    EXPECT_EQ(memory.entries(), kFiles.size());
    for (const Remembered& file : kFiles)
        ExpectSame(memory.Recall(file.path, file.facts), file.result);

    // Any fact changed, another letter case or another path: not the file
    // that was read.
    const std::wstring& app = kFiles[0].path;
    for (const FileFacts& changed :
         {FileFacts{4097, kFacts.lastWriteTime, kFacts.creationTime},
          FileFacts{4096, kFacts.lastWriteTime + 1, kFacts.creationTime},
          FileFacts{4096, kFacts.lastWriteTime, kFacts.creationTime - 1}})
        EXPECT_FALSE(memory.Recall(app, changed));
    EXPECT_FALSE(memory.Recall(L"C:\\Program Files\\App\\APP.exe", kFacts));
    EXPECT_FALSE(memory.Recall(L"C:\\Program Files\\Ap\\papp.exe", kFacts));
}

TEST(VersionMemory, TheNextFileHoldsOnlyTheFilesExaminedSinceTheLast) {
    VersionMemory memory = Decoded(MemoryOfAllFiles().Encode(kReader, 1));
    EXPECT_EQ(memory.kept(), 0u);
    ExpectSame(memory.Recall(kFiles[1].path, kFiles[1].facts), kFiles[1].result);
    EXPECT_FALSE(memory.Recall(kFiles[0].path, {1, 1, 1}));  // changed: read again
    const FileVersionResult newer = Read(L"2.0.0.0", L"2.0", L"2.0");
    memory.Remember(kFiles[0].path, {1, 1, 1}, newer);
    memory.Remember(L"E:\\new.exe", kFacts, newer);

    VersionMemory next = Decoded(memory.Encode(kReader, 1));
    EXPECT_EQ(next.entries(), 3u);
    ExpectSame(next.Recall(kFiles[1].path, kFiles[1].facts), kFiles[1].result);
    ExpectSame(next.Recall(kFiles[0].path, {1, 1, 1}), newer);
    EXPECT_FALSE(next.Recall(kFiles[0].path, kFiles[0].facts)) << "the old facts are gone";
    ExpectSame(next.Recall(L"E:\\new.exe", kFacts), newer);
    EXPECT_FALSE(next.Recall(kFiles[2].path, kFiles[2].facts)) << "not examined: dropped";
}

TEST(VersionMemory, OutcomesThatAreNotTheFilesOwnAreNeverRemembered) {
    FileVersionResult failed = Read(L"1.0.0.0", L"", L"");
    failed.ok = false;
    FileVersionResult unopened = Read(L"", L"", L"");
    unopened.settled = false;
    const std::wstring lone(1, static_cast<wchar_t>(0xD800));
    const struct {
        const char* what;
        std::wstring path;
        FileVersionResult result;
    } cases[] = {
        {"reading failed", L"C:\\a.exe", failed},
        {"the file could not be opened", L"C:\\b.exe", unopened},
        {"a lone surrogate in the path", L"C:\\x" + lone + L".exe", Read(L"1", L"1", L"1")},
        {"a lone surrogate in a text", L"C:\\c.exe", Read(L"1", L"1" + lone, L"1")},
        {"a NUL in a text", L"C:\\d.exe",
         Read(L"1",
              std::wstring(L"1\0"
                           L"2",
                           3),
              L"1")},
    };
    VersionMemory memory;
    memory.Remember(L"C:\\b.exe", kFacts, Read(L"1", L"1", L"1"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        memory.Remember(c.path, kFacts, c.result);
        if (c.path != L"C:\\b.exe") {
            EXPECT_FALSE(memory.Recall(c.path, kFacts));
        }
    }
    // What was remembered before stays as it was.
    ExpectSame(memory.Recall(L"C:\\b.exe", kFacts), Read(L"1", L"1", L"1"));
    EXPECT_EQ(Decoded(memory.Encode(kReader, 0)).entries(), 1u);
}

TEST(VersionMemory, ABadFileGivesNoMemoryAndSaysWhy) {
    const std::string good = MemoryOfAllFiles().Encode(kReader, 5);
    std::string foreign;
    nlohmann::json::to_msgpack(nlohmann::json{{"format", "something else"}}, foreign);
    const struct {
        std::string bytes;
        const char* reader;
        const char* why;
    } cases[] = {
        {"", kReader, "it is not a file of version reads"},
        {"{\"format\": \"kelvra version reads\"}", kReader, "it is not a file of version reads"},
        {foreign, kReader, "it is not a file of version reads"},
        {good.substr(0, good.size() / 2), kReader, "it is cut or damaged"},
        {good, "2.0.0.0 rules 2", "it was written by another program version or reading rules"},
        {good, "2.1.0.0 rules 1", "it was written by another program version or reading rules"},
        {std::string(kMaxVersionMemoryBytes, '\0'), kReader, "it is too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const DecodedVersionMemory decoded = DecodeVersionMemory(c.bytes, c.reader);
        EXPECT_FALSE(decoded.memory);
        EXPECT_EQ(decoded.whyNot, c.why);
    }
}

// Every shorter file and every single flipped bit: none gives a memory, so
// none can give a wrong version.
TEST(VersionMemory, NoCutAndNoFlippedBitIsTakenForAMemory) {
    const std::string good = MemoryOfAllFiles().Encode(kReader, 5);
    for (std::size_t length = 0; length < good.size(); ++length)
        ASSERT_FALSE(DecodeVersionMemory(good.substr(0, length), kReader).memory) << length;
    for (std::size_t at = 0; at < good.size(); ++at)
        for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = good;
            flipped[at] = static_cast<char>(flipped[at] ^ (1 << bit));
            ASSERT_FALSE(DecodeVersionMemory(flipped, kReader).memory) << at << " bit " << bit;
        }
}

TEST(VersionMemory, EveryFileIsReadOnceADayAndWhenTheClockWentBack) {
    constexpr std::int64_t hour = 60 * 60 * 1000, last = 1000 * hour;
    EXPECT_EQ(WhyReadInFull(last, last), "");
    EXPECT_EQ(WhyReadInFull(last, last + 24 * hour - 1), "");
    EXPECT_EQ(WhyReadInFull(last, last + 24 * hour), "the last full read is a day old");
    EXPECT_EQ(WhyReadInFull(last, last - 1), "the clock shows a time before the last full read");
    EXPECT_EQ(WhyReadInFull(INT64_MIN, 0), "the last full read is a day old");
}

}  // namespace
}  // namespace kelvra
