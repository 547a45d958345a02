// The lookup of version resources against the system itself. Every file at
// hand goes through the program's walk and direct read, and through the
// system's own version functions in the helper process, as a run with
// --system-version-reads asks them, so that a file on which the system
// faults is counted instead of ending the test: the fixtures, the fuzzing
// corpus of the walk, the PE files of the installed Wine, the layouts in
// which the two have been seen to part, and a few thousand mutants of honest
// images, each with header fields, section table fields, directory entries,
// ids or sizes changed (a fixed seed, so every run reads the same files).
// Two things must hold:
// - every block read straight from the file is the system's, byte for byte;
// - every file settled without the system (no executable, or an ordinary
//   image without a version resource) has no block for the system either.
// Every other file is the helper's, and what the system does with it is
// counted.
//
// Under Wine the system's calls on a file named like one of Wine's own
// programs or libraries read that built-in instead of the file, so every
// file is read under a neutral name of its own (a hard link, or a copy).

#include "common/win32.h"

#include "versions/directversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/scope.h"
#include "common/textconv.h"
#include "common/utf8.h"
#include "fixtures/fixture_files_win32.h"
#include "support/process_win32.h"
#include "support/version_blocks.h"
#include "versions/file_helper.h"
#include "versions/littleendian.h"
#include "versions/peresource.h"

namespace kelvra {
namespace {

using fixtures::ScratchFolder;
using version_blocks::Bytes;

// ---- the system's answers, from the helper process -------------------------------

struct SystemAnswer {
    bool fault = false;    // the system faulted (or hung) on the file
    bool present = false;  // it gave a block
    Bytes block;
};

// Through the helper, as a run with --system-version-reads asks it: a file
// on which the system faults ends only the helper, and the next file gets a
// new one.
std::vector<SystemAnswer> AskTheSystem(const std::vector<std::wstring>& paths) {
    SetDirectVersionReads(false);
    const ScopeExit direct([] { SetDirectVersionReads(true); });
    const FileHelperRun run;
    std::vector<SystemAnswer> answers;
    for (const std::wstring& path : paths) {
        FetchedVersionBlock fetched = FetchVersionBlock(path);
        SystemAnswer& answer = answers.emplace_back();
        answer.fault = fetched.failure == VersionReadFailure::Faulted ||
                       fetched.failure == VersionReadFailure::TimedOut;
        EXPECT_NE(fetched.failure, VersionReadFailure::NoHelper) << WideToAnsi(path);
        answer.present = fetched.present && !fetched.bytes.empty();
        answer.block = std::move(fetched.bytes);
    }
    return answers;
}

// ---- mutants of honest images ------------------------------------------------------

struct Field {
    std::size_t at;
    std::size_t width;  // 2 or 4 bytes
};

// The fields of an honest image that the lookup reads: the DOS header's
// offset, the file and optional headers, the section table, and down the
// resource tree every directory's counts and entries and the data entries.
std::vector<Field> LookupFields(const Bytes& file) {
    std::vector<Field> fields{{0x3C, 4}};
    const std::size_t nt = LittleDWord(file, 0x3C);
    const std::size_t optional = nt + 24;
    const bool pe64 = LittleWord(file, optional) == 0x20B;
    const std::size_t directories = optional + (pe64 ? 112 : 96);
    for (const Field field :
         {Field{nt + 2, 2}, Field{nt + 6, 2}, Field{nt + 20, 2}, Field{optional, 2},
          Field{optional + 56, 4}, Field{optional + 60, 4}, Field{directories - 4, 4},
          Field{directories + 16, 4}, Field{directories + 20, 4}})
        fields.push_back(field);
    const std::size_t table = optional + LittleWord(file, nt + 20);
    const std::uint32_t root = LittleDWord(file, directories + 16);
    std::size_t rootAt = 0;
    for (std::size_t i = 0; i < LittleWord(file, nt + 6); ++i) {
        const std::size_t section = table + 40 * i;
        for (std::size_t field = 8; field <= 20; field += 4) fields.push_back({section + field, 4});
        const std::uint32_t address = LittleDWord(file, section + 12);
        if (root >= address && root < address + LittleDWord(file, section + 16))
            rootAt = LittleDWord(file, section + 20) + (root - address);
    }
    // Three levels of directories, then data entries; a few entries of each.
    const auto walk = [&](auto& self, std::size_t directory, int level) -> void {
        if (directory + 16 > file.size()) return;
        fields.push_back({directory + 12, 2});
        fields.push_back({directory + 14, 2});
        const std::size_t count =
            LittleWord(file, directory + 12) + LittleWord(file, directory + 14);
        for (std::size_t i = 0; i < std::min<std::size_t>(count, 6); ++i) {
            const std::size_t entry = directory + 16 + 8 * i;
            if (entry + 8 > file.size()) return;
            fields.push_back({entry, 4});
            fields.push_back({entry + 4, 4});
            const std::size_t target = rootAt + (LittleDWord(file, entry + 4) & 0x7FFFFFFF);
            if (level < 2)
                self(self, target, level + 1);
            else if (target + 8 <= file.size())
                fields.insert(fields.end(), {Field{target, 4}, Field{target + 4, 4}});
        }
    };
    if (rootAt) walk(walk, rootAt, 0);
    return fields;
}

std::vector<Bytes> Mutants(const std::vector<Bytes>& seeds, std::size_t count) {
    std::mt19937 random(20261207);  // the engine's sequence is fixed by the standard
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    std::vector<std::vector<Field>> fields;
    for (const Bytes& seed : seeds) fields.push_back(LookupFields(seed));
    std::vector<Bytes> mutants;
    for (std::size_t m = 0; m < count; ++m) {
        const std::size_t s = m % seeds.size();
        Bytes bytes = seeds[s];
        for (std::size_t changes = 1 + pick(3); changes > 0; --changes) {
            const Field field = fields[s][pick(fields[s].size())];
            const std::uint32_t old =
                field.width == 2 ? LittleWord(bytes, field.at) : LittleDWord(bytes, field.at);
            const std::array<std::uint32_t, 24> values = {0,
                                                          1,
                                                          2,
                                                          8,
                                                          16,
                                                          0x200,
                                                          0x1000,
                                                          0x7FFF,
                                                          0x8000,
                                                          0xFFFF,
                                                          0x10010,
                                                          0x7FFFFFFF,
                                                          0x80000000,
                                                          0xFFFFFFFF,
                                                          old + 1,
                                                          old - 1,
                                                          old + 0x10,
                                                          old - 0x10,
                                                          old + 0x200,
                                                          old - 0x200,
                                                          old + 0x1000,
                                                          old ^ 0x80000000,
                                                          old | 0x10000,
                                                          static_cast<std::uint32_t>(random())};
            const std::uint32_t value = values[pick(values.size())];
            if (field.width == 2)
                version_blocks::PutWord(bytes, field.at, static_cast<std::uint16_t>(value));
            else
                version_blocks::PutDWord(bytes, field.at, value);
        }
        mutants.push_back(std::move(bytes));
    }
    return mutants;
}

Bytes BytesOf(const std::wstring& path) {
    const std::string text = ReadFileBytes(path);
    Bytes bytes(text.size());
    std::memcpy(bytes.data(), text.data(), text.size());
    return bytes;
}

// ---- the program's side, and the tally ---------------------------------------------

struct Verdict {
    PeResourceVerdict verdict;
    PeUnsoundReason unsound;
    DirectVersionRead read;
};

Verdict ProgramVerdict(const std::wstring& path) {
    Verdict verdict{PeResourceVerdict::Unsound, PeUnsoundReason::None, {}};
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) return verdict;
    const ReadFileAt readAt = [&](std::uint64_t offset, std::span<std::byte> out) {
        return file->ReadAt(offset, out);
    };
    PeVersionResources found;
    verdict.verdict = CheckExecutableVersionResource(file->size(), readAt, &found);
    verdict.unsound = found.unsound;
    verdict.read = ReadVersionBlockDirect(file->size(), readAt);
    return verdict;
}

// The program's contract with the system: a block it reads straight from
// the file is the system's, byte for byte, and a file it settles without the
// system has no block for the system either. Everything else goes to the
// system's reader in the helper, faults included.
struct Tally {
    std::size_t files = 0, direct = 0, settled = 0, helper = 0, helperFaults = 0;
    std::vector<std::string> otherBytes, settledButRead;

    void Add(const std::string& name, const Verdict& program, const SystemAnswer& system) {
        ++files;
        if (!program.read.block.empty()) {
            ++direct;
            if (system.fault || program.read.block != system.block) otherBytes.push_back(name);
        } else if (!program.read.systemDecides) {
            ++settled;
            if (system.fault || system.present) settledButRead.push_back(name);
        } else {
            ++helper;
            if (system.fault) ++helperFaults;
        }
    }

    void Print(const char* source) const {
        std::cout << source << ": " << files << " files, " << direct << " read directly, "
                  << settled << " settled without the system, " << helper
                  << " for the helper (the system faulted or hung on " << helperFaults << ")\n"
                  << std::flush;
    }
};

// Returns the system's answers, in the order of the files.
std::vector<SystemAnswer> Judge(const std::vector<std::pair<std::string, std::wstring>>& files,
                                const char* source, Tally& tally) {
    std::vector<std::wstring> paths;
    for (const auto& file : files) paths.push_back(file.second);
    const std::vector<SystemAnswer> answers = AskTheSystem(paths);
    for (std::size_t i = 0; i < files.size(); ++i)
        tally.Add(files[i].first, ProgramVerdict(files[i].second), answers[i]);
    tally.Print(source);
    for (const std::string& name : tally.otherBytes)
        ADD_FAILURE() << source << ": the direct read gave other bytes than the system: " << name;
    for (const std::string& name : tally.settledButRead)
        ADD_FAILURE() << source << ": the system read a file settled as having no block: " << name;
    return answers;
}

// Every file of the folders, under neutral names.
std::vector<std::pair<std::string, std::wstring>> Linked(const std::vector<std::wstring>& folders,
                                                         const ScratchFolder& scratch) {
    std::vector<std::pair<std::string, std::wstring>> files;
    for (const std::wstring& folder : folders)
        for (const DirEntry& entry : FindEntries(folder + L"\\*"))
            if (!entry.isDirectory)
                files.emplace_back(
                    WideToAnsi(entry.name),
                    fixtures::NeutralLink(scratch, folder + L"\\" + entry.name, files.size()));
    return files;
}

std::vector<std::pair<std::string, std::wstring>> Written(
    const std::vector<std::pair<std::string, Bytes>>& files, const ScratchFolder& scratch) {
    std::vector<std::pair<std::string, std::wstring>> written;
    for (const auto& [name, bytes] : files) {
        const std::wstring path = scratch / (L"w" + std::to_wstring(written.size()) + L".exe");
        WriteFileBytes(path,
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        written.emplace_back(name, path);
    }
    return written;
}

TEST(VersionLookupAgainstTheSystem, FixturesAndTheCorpusOfTheWalk) {
    ScratchFolder scratch;
    std::wstring fixtureFolder = fixtures::FixtureDir();
    fixtureFolder.pop_back();
    Tally tally;
    Judge(Linked({fixtureFolder,
                  testing::HostPathToWindows(KELVRA_SOURCE_DIR "/fuzz/corpus/pe_resource")},
                 scratch),
          "fixtures and fuzz corpus", tally);
    EXPECT_GT(tally.direct, 5u);
}

TEST(VersionLookupAgainstTheSystem, PeFilesOfTheInstalledWine) {
    ScratchFolder scratch;
    Tally tally;
    Judge(Linked(fixtures::InstalledWineFolders(true), scratch), "Wine's PE files", tally);
    ASSERT_GT(tally.files, 1000u) << "the installed Wine's PE files were not found";
    // Real files are ordinary: nearly all are read directly or settled.
    EXPECT_GT(tally.direct, 300u);
    EXPECT_EQ(tally.helperFaults, 0u);
}

TEST(VersionLookupAgainstTheSystem, LayoutsThatMisleadAndMutantsOfHonestImages) {
    ScratchFolder scratch;
    std::vector<std::pair<std::string, Bytes>> files;
    const std::vector<version_blocks::PeLayout> layouts = version_blocks::MisleadingPeLayouts();
    for (const version_blocks::PeLayout& layout : layouts)
        files.emplace_back(layout.what, layout.bytes);
    std::vector<Bytes> seeds;
    for (const version_blocks::PeLayout& layout : layouts)
        if (layout.expect == version_blocks::PeLayout::Direct) seeds.push_back(layout.bytes);
    for (const wchar_t* fixture : {L"fv_1234", L"fv_multi", L"fv_otherlang"})
        seeds.push_back(BytesOf(fixtures::FixturePath(fixture)));
    const std::vector<Bytes> mutants = Mutants(seeds, 3000);
    for (std::size_t i = 0; i < mutants.size(); ++i)
        files.emplace_back("mutant " + std::to_string(i), mutants[i]);
    Tally tally;
    const std::vector<SystemAnswer> answers =
        Judge(Written(files, scratch), "layouts and mutants", tally);
    // Each layout called unsound stands for a way the walk once let the
    // system fault: the system does fault on it, in the helper.
    for (std::size_t i = 0; i < layouts.size(); ++i)
        if (layouts[i].expect == version_blocks::PeLayout::Unsound)
            EXPECT_TRUE(answers[i].fault) << layouts[i].what;
}

}  // namespace
}  // namespace kelvra
