#include "shell/runfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/files.h"
#include "common/textconv.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

// One past the highest number present: after pruning, numbers go on rising
// instead of filling the gaps from 0.
TEST(RunFileNames, NextNumberIsOnePastTheHighestPayload) {
    struct Case {
        std::vector<const wchar_t*> present;
        const wchar_t* next;
    };
    const Case cases[] = {
        {{}, L"0"},
        {{L"dump_P_0.txt"}, L"1"},
        {{L"dump_P_0.txt", L"dump_P_1.xml", L"dump_P_1.html"}, L"1"},  // only payloads count
        {{L"dump_P_0.txt", L"dump_P_1.txt", L"dump_P_3.txt"}, L"4"},
        {{L"dump_P_47.txt", L"dump_P_48.txt"}, L"49"},  // the oldest were pruned
        {{L"DUMP_p_7.TXT"}, L"8"},
        {{L"dump_P_007.txt"}, L"8"},
        // Names of other profiles, or not a bare number, do not count.
        {{L"dump_P_x_9.txt", L"dump_PP_9.txt", L"dump_P_9a.txt", L"dump_P_.txt",
          L"dump_P_99999999999999999999.txt", L"dump_P_9.txt.bak"},
         L"0"},
    };
    for (const Case& c : cases) {
        testing::TempDir dir;
        for (const wchar_t* name : c.present) WriteFileBytes(dir / name, "");
        EXPECT_EQ(FindFreeFileName(dir / L"dump_P_", L".txt"),
                  dir / (L"dump_P_" + std::wstring(c.next) + L".txt"))
            << ::testing::PrintToString(c.present);
    }
}

TEST(RunFileNames, ProfileCharactersThatWouldLeaveTheFolderAreReplaced) {
    EXPECT_EQ(FileNameSafeProfile(L"PC01.user1"), L"PC01.user1");
    EXPECT_EQ(FileNameSafeProfile(L"..\\..\\evil"), L".._.._evil");
    EXPECT_EQ(FileNameSafeProfile(L"a/b:c*d?e\"f<g>h|i\tj"), L"a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(FileNameSafeProfile(L"%d"), L"%d");
}

TEST(RunFileNames, ExtensionIsReplacedOnlyInTheFileName) {
    EXPECT_EQ(ChangeFileExt(L"C:\\d\\dump_P_0.txt", L".xml"), L"C:\\d\\dump_P_0.xml");
    EXPECT_EQ(ChangeFileExt(L"C:\\d.x\\dump", L".xml"), L"C:\\d.x\\dump.xml");
    EXPECT_EQ(ChangeFileExt(L"C:\\d\\dump_P.x_0.txt", L".html"), L"C:\\d\\dump_P.x_0.html");
}

// Lines written as the run writes a file: whole, or not at all.
void WriteLines(const std::wstring& path, const std::vector<std::wstring>& lines) {
    RunFileWriter file(path);
    file.AppendLines(lines);
    file.Commit();
}

TEST(RunFileWriting, LinesEndInCrLfInTheAnsiCodePageWithoutBom) {
    testing::TempDir dir;
    WriteLines(dir / L"out.txt", {L"caf\u00e9\tx", L"", L"last"});
    EXPECT_EQ(ReadFileBytes(dir / L"out.txt"), "caf\xe9\tx\r\n\r\nlast\r\n");
    WriteLines(dir / L"empty.txt", {});
    EXPECT_EQ(ReadFileBytes(dir / L"empty.txt"), "");
    EXPECT_FALSE(FileExists(dir / L"out.txt.tmp"));
}

TEST(RunFileWriting, TextWrittenLineByLineIsTheWholeTextConvertedAtOnce) {
    // Enough lines for several conversion batches and write batches, with
    // characters the code page has, lacks, and needs two UTF-16 units for.
    std::vector<std::wstring> lines;
    std::wstring joined;
    for (int i = 0; i < 40000; ++i) {
        std::wstring line = L"<app> caf\u00e9 \u20ac \u4e2d \U0001F600 " + std::to_wstring(i) +
                            std::wstring(static_cast<std::size_t>(i % 97), L'x');
        if (i % 1000 == 0) line.clear();
        joined += line + L"\r\n";
        lines.push_back(std::move(line));
    }
    testing::TempDir dir;
    {
        // Some lines one by one, some converted a record at a time.
        RunFileWriter file(dir / L"big.html");
        file.AppendLine(L"head");
        for (std::size_t i = 0; i < 15000; ++i) file.AppendLine(lines[i]);
        for (std::size_t i = 15000; i < lines.size(); i += 7)
            file.AppendBytes(RunFileBytes(
                {lines.begin() + static_cast<std::ptrdiff_t>(i),
                 lines.begin() + static_cast<std::ptrdiff_t>(std::min(i + 7, lines.size()))}));
        file.AppendLine(L"tail");
        file.Commit();
    }
    EXPECT_EQ(ReadFileBytes(dir / L"big.html"), WideToAnsi(L"head\r\n" + joined + L"tail\r\n"));
    EXPECT_FALSE(FileExists(dir / L"big.html.tmp"));
}

TEST(RunFileWriting, OnlyCommitGivesTheFileItsName) {
    testing::TempDir dir;
    WriteFileBytes(dir / L"out.xml", "old");
    {
        RunFileWriter file(dir / L"out.xml");
        file.AppendLine(L"new");
        file.Finish();
        EXPECT_EQ(ReadFileBytes(dir / L"out.xml"), "old");
    }  // dropped, as when the run fails: the old file stays whole
    EXPECT_EQ(ReadFileBytes(dir / L"out.xml"), "old");
    EXPECT_FALSE(FileExists(dir / L"out.xml.tmp"));
    {
        RunFileWriter file(dir / L"out.xml");
        file.AppendLine(L"new");
        file.Commit();
    }
    EXPECT_EQ(ReadFileBytes(dir / L"out.xml"), "new\r\n");
}

TEST(RunFileWriting, MissingFolderRaisesAndLeavesNothing) {
    testing::TempDir dir;
    EXPECT_THROW(WriteLines(dir / L"gone" + L"/out.txt", {L"x"}), FileError);
    EXPECT_FALSE(FileExists(dir / L"gone" + L"/out.txt"));
}

class RunFileRetention : public ::testing::Test {
  protected:
    void MakeSet(const std::wstring& profile, int n) {
        const std::wstring base = dir_ / (L"dump_" + profile + L"_" + std::to_wstring(n));
        for (const wchar_t* extension : {L".txt", L".xml", L".html"})
            WriteFileBytes(base + extension, "x");
    }
    bool HasSet(const std::wstring& profile, int n) const {
        return FileExists(dir_ / (L"dump_" + profile + L"_" + std::to_wstring(n) + L".txt"));
    }
    testing::TempDir dir_;
};

TEST_F(RunFileRetention, KeepsTheNewestSetsOfTheProfileOnly) {
    for (int n = 0; n < 5; ++n) MakeSet(L"P", n);
    MakeSet(L"Other", 0);
    MakeSet(L"P_x", 0);
    WriteFileBytes(dir_ / L"dump_P_notes.txt", "x");
    // Equal write times fall back to the number, so 0 and 1 are the oldest.
    PruneRunFileSets(dir_.path(), L"P", dir_ / L"dump_P_4.txt", 3);
    EXPECT_FALSE(HasSet(L"P", 0));
    EXPECT_FALSE(FileExists(dir_ / L"dump_P_0.xml"));
    EXPECT_FALSE(FileExists(dir_ / L"dump_P_0.html"));
    EXPECT_FALSE(HasSet(L"P", 1));
    EXPECT_TRUE(HasSet(L"P", 2));
    EXPECT_TRUE(HasSet(L"P", 3));
    EXPECT_TRUE(HasSet(L"P", 4));
    EXPECT_TRUE(HasSet(L"Other", 0));
    EXPECT_TRUE(HasSet(L"P_x", 0));
    EXPECT_TRUE(FileExists(dir_ / L"dump_P_notes.txt"));
}

TEST_F(RunFileRetention, TheCurrentSetSurvivesEvenWithTheLowestNumber) {
    for (int n = 0; n < 4; ++n) MakeSet(L"P", n);
    PruneRunFileSets(dir_.path(), L"P", dir_ / L"dump_P_0.txt", 2);
    EXPECT_TRUE(HasSet(L"P", 0));
    EXPECT_TRUE(HasSet(L"P", 3));
    EXPECT_FALSE(HasSet(L"P", 1));
    EXPECT_FALSE(HasSet(L"P", 2));
}

}  // namespace
}  // namespace kelvra
