#include "versions/file_helper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/files.h"
#include "support/temp_dir.h"
#include "support/version_blocks.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

std::vector<std::byte> BytesOf(std::string_view text) {
    std::vector<std::byte> bytes(text.size());
    std::memcpy(bytes.data(), text.data(), text.size());
    return bytes;
}

// What the helper sends is read as hostile: a frame or answer that does not
// add up gives nothing, never a read past what arrived.
TEST(HelperAnswers, FramesAndAnswersThatDoNotAddUpGiveNothing) {
    EXPECT_EQ(FrameLength(Frame("abc").substr(0, 4)), 3u);
    EXPECT_FALSE(FrameLength(std::string("\xFF\xFF\xFF\x7F", 4)));  // over the limit
    EXPECT_FALSE(FrameLength("abc"));

    FetchedVersionBlock block;
    block.present = true;
    block.reportedSize = 6;
    block.bytes = BytesOf("VS_VER");
    const std::string answer = helper_answers::OfBlock(block);
    const auto read = helper_answers::BlockOf(answer);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->bytes, block.bytes);
    EXPECT_EQ(read->reportedSize, 6u);
    EXPECT_TRUE(read->present && read->settled);
    EXPECT_FALSE(helper_answers::BlockOf(answer.substr(0, 5)));  // cut in the header
    FetchedVersionBlock none;
    none.bytes = BytesOf("x");  // bytes of a block that is not there
    EXPECT_FALSE(helper_answers::BlockOf(helper_answers::OfBlock(none)));
    block.bytes.resize(kMaxVersionBufferSize + 1);
    EXPECT_FALSE(helper_answers::BlockOf(helper_answers::OfBlock(block)));

    const std::vector<DirEntry> entries = {{L"\u00c9diteur.exe", 4096, false, 11, 22},
                                           {L"bin", 0, true, 33, 44}};
    const std::string listing = helper_answers::OfListing(entries);
    const auto listed = helper_answers::ListingOf(listing);
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ((*listed)[0].name, L"\u00c9diteur.exe");
    EXPECT_EQ((*listed)[0].facts(), (FileFacts{4096, 11, 22}));
    EXPECT_TRUE((*listed)[1].isDirectory);
    for (const std::string& hostile : {
             listing.substr(0, listing.size() - 1),  // cut in the last name
             listing + "x",                          // bytes after the last entry
             std::string("\xFF\xFF\xFF\xFF", 4),     // four billion entries, none there
             // one entry whose name claims more units than arrived
             std::string("\x01\0\0\0", 4) + std::string(25, '\0') +
                 std::string("\xFF\xFF\xFF\x0F", 4) + "ab",
         })
        EXPECT_FALSE(helper_answers::ListingOf(hostile)) << hostile.size();
}

// Which files go to the helper: only those whose bytes cannot settle what the
// system would read. (What the system then gives is the differential test's
// business under Wine; natively it has no blocks.)
TEST(FileHelperRouting, OnlyFilesTheirOwnBytesCannotSettleGoToTheHelper) {
    using namespace version_blocks;
    testing::TempDir dir;
    const auto write = [&](const std::wstring& name, const Bytes& bytes) {
        const std::wstring path = dir / name;
        WriteFileBytes(path,
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return path;
    };
    const std::vector<PeLayout> layouts = MisleadingPeLayouts();
    const PeLayout* unsound = nullptr;
    for (const PeLayout& layout : layouts)
        if (layout.expect == PeLayout::Crashes && layout.tail.empty() && !unsound)
            unsound = &layout;
    ASSERT_NE(unsound, nullptr);
    const struct {
        std::wstring path;
        bool present;
        int questions;
    } cases[] = {
        {write(L"honest.exe", BuildPeImage(TypicalBlock()).bytes), true, 0},
        {write(L"script.exe", BytesOf("@echo off\r\n")), false, 0},
        {write(L"unsound.exe", unsound->bytes), false, 1},
        {write(L"ne.exe", NeExecutable(Typical16BitBlock())), false, 1},
        {dir / L"missing.exe", false, 0},
    };
    for (const auto& c : cases) {
        const FileHelperRun run;
        const FetchedVersionBlock block = FetchVersionBlock(c.path);
        const std::string name(c.path.begin(), c.path.end());
        EXPECT_EQ(run.counts().questions, c.questions) << name;
        if (c.questions == 0) EXPECT_EQ(block.present, c.present) << name;
    }
    EXPECT_TRUE(PathMayBlockLong(L"\\\\server\\share\\app\\"));
    EXPECT_FALSE(PathMayBlockLong(L"relative\\app.exe"));
}

}  // namespace
}  // namespace kelvra
