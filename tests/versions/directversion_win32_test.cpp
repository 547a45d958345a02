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
#include <initializer_list>
#include <iostream>
#include <iterator>
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
#include "support/sparse_file_win32.h"
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
    const ScopedHook<&SetDirectVersionReads> systemReads(false);
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

// A file to write: its bytes, and a second piece far out when tailAt is not 0.
struct FileToWrite {
    std::string name;
    Bytes bytes;
    std::uint64_t tailAt = 0;
    Bytes tail;
};

// Where an image's section table lies.
struct SectionTable {
    std::size_t optional = 0, table = 0, count = 0;

    explicit SectionTable(const Bytes& b) {
        const std::size_t nt = LittleDWord(b, 0x3C);
        optional = nt + 24;
        table = optional + LittleWord(b, nt + 20);
        count = LittleWord(b, nt + 6);
    }
    std::size_t operator[](std::size_t i) const { return table + 40 * i; }
};

std::uint32_t DWordAt(const Bytes& b, std::size_t at) { return LittleDWord(b, at); }

// Appends a section header (when the headers have room for it) and its file
// data at the end of the file; false when there is no room.
bool AddSection(Bytes& b, std::uint32_t address, std::uint32_t virtualSize, const Bytes& data,
                std::uint32_t characteristics = 0x40000040) {
    const SectionTable sections(b);
    const std::size_t header = sections[sections.count];
    std::size_t room = DWordAt(b, sections.optional + 60);
    for (std::size_t i = 0; i < sections.count; ++i)
        if (const std::uint32_t raw = DWordAt(b, sections[i] + 20); raw && raw < room) room = raw;
    if (header + 40 > room || header + 40 > b.size()) return false;
    const std::size_t fileAt = (b.size() + 0x1FF) & ~std::size_t{0x1FF};
    b.resize(fileAt + data.size(), std::byte{0});
    std::copy(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(fileAt));
    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(header), 40, std::byte{0});
    std::copy_n(".mut", 4, reinterpret_cast<char*>(&b[header]));
    version_blocks::PutDWord(b, header + 8, virtualSize);
    version_blocks::PutDWord(b, header + 12, address);
    version_blocks::PutDWord(b, header + 16, static_cast<std::uint32_t>(data.size()));
    version_blocks::PutDWord(b, header + 20, static_cast<std::uint32_t>(fileAt));
    version_blocks::PutDWord(b, header + 36, characteristics);
    version_blocks::PutWord(b, LittleDWord(b, 0x3C) + 6,
                            static_cast<std::uint16_t>(sections.count + 1));
    return true;
}

// Mutants of honest images. Most change a few of the fields the lookup reads
// to values that lie; the others change how the loader maps the sections:
// their characteristics, the alignments, a section moved into another's page
// or over it, sizes near 4 GiB, and (a few, they cost) a section's data or the
// headers moved past 2 GiB in a sparse file.
std::vector<FileToWrite> Mutants(const std::vector<Bytes>& seeds, std::size_t count) {
    std::mt19937 random(20261207);  // the engine's sequence is fixed by the standard
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const auto any = [&](std::initializer_list<std::uint32_t> values) {
        return *(values.begin() + pick(values.size()));
    };
    std::vector<std::vector<Field>> fields;
    for (const Bytes& seed : seeds) fields.push_back(LookupFields(seed));
    std::vector<FileToWrite> mutants;
    using version_blocks::PutDWord;
    for (std::size_t m = 0; m < count; ++m) {
        const std::size_t s = m % seeds.size();
        FileToWrite mutant{"mutant " + std::to_string(m), seeds[s], 0, {}};
        Bytes& bytes = mutant.bytes;
        const SectionTable sections(bytes);
        const std::size_t i = pick(sections.count), header = sections[i];
        const std::uint32_t address = DWordAt(bytes, header + 12),
                            virtualSize = DWordAt(bytes, header + 8),
                            rawSize = DWordAt(bytes, header + 16),
                            rawAt = DWordAt(bytes, header + 20);
        const Bytes data(bytes.begin() + std::min<std::size_t>(rawAt, bytes.size()),
                         bytes.begin() + std::min<std::size_t>(rawAt + rawSize, bytes.size()));
        std::string kind;
        if (m % 500 == 499) {
            // Past 2 GiB: the section's data, or the headers, in the far piece.
            if (m % 1000 == 499) {
                kind = "section data past 2 GiB";
                mutant.tailAt = any({0x80000000, 0x7FFFFE00, 0xFFFFFC00});
                mutant.tail = data;
                PutDWord(bytes, header + 20, static_cast<std::uint32_t>(mutant.tailAt));
            } else {
                kind = "headers past 2 GiB";
                const std::size_t nt = LittleDWord(bytes, 0x3C);
                mutant.tailAt = any({0x80000000, 0x7FFFFFF0});
                mutant.tail.assign(bytes.begin() + static_cast<std::ptrdiff_t>(nt),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(sections.table) +
                                       40 * static_cast<std::ptrdiff_t>(sections.count));
                PutDWord(bytes, 0x3C, static_cast<std::uint32_t>(mutant.tailAt));
            }
        } else {
            switch (pick(10)) {
                case 0:
                    kind = "section characteristics";
                    PutDWord(
                        bytes, header + 36,
                        any({DWordAt(bytes, header + 36) & ~0x40000000u,
                             DWordAt(bytes, header + 36) | 0x40000000u,
                             DWordAt(bytes, header + 36) | 0x20000000u,
                             DWordAt(bytes, header + 36) | 0x02000000u,
                             DWordAt(bytes, header + 36) & ~0xE0000000u, 0x00000040, 0x20000020}));
                    break;
                case 1: {
                    kind = "alignment";
                    const std::uint32_t section =
                        any({0x200, 0x100, 0x80, 0x10, 1, 0x300, 0x1800, 0x800, 0x3000, 0});
                    PutDWord(bytes, sections.optional + 32, section);
                    PutDWord(bytes, sections.optional + 36,
                             any({section, section, 0x200, 0x100, 0x300, 0x1000, 0x20}));
                    if (sections.count == 1 && pick(2)) {
                        // The image laid out flat: the section at the address of its
                        // file data, the resource directory and data entry moved along.
                        const std::uint32_t shift = address - rawAt;
                        PutDWord(bytes, header + 12, rawAt);
                        const bool pe64 = LittleWord(bytes, sections.optional) == 0x20B;
                        const std::size_t directory = sections.optional + (pe64 ? 112 : 96) + 16;
                        PutDWord(bytes, directory, DWordAt(bytes, directory) - shift);
                        const std::size_t entry = rawAt + version_blocks::kPeData;
                        if (entry + 4 <= bytes.size())
                            PutDWord(bytes, entry, DWordAt(bytes, entry) - shift);
                    }
                    break;
                }
                case 2: {
                    kind = "sections sharing a page";
                    const std::uint32_t at =
                        (address & ~0xFFFu) + any({0, 0x80, 0x100, 0x200, 0x300, 0x800, 0xE00});
                    const std::uint32_t size = any({0x10, 0x100, 0x200, 0x1000});
                    Bytes copy(
                        data.size() > (at - address) ? data.begin() + (at - address) : data.end(),
                        data.end());
                    copy.resize(0x200, std::byte{0});
                    if (pick(2)) std::fill(copy.begin(), copy.end(), std::byte{0});
                    if (!AddSection(bytes, at, size, copy))
                        kind = "sections sharing a page (no room)";
                    break;
                }
                case 3: {
                    kind = "overlapping sections";
                    Bytes copy = data;
                    if (!copy.empty())
                        copy[copy.size() / 2 + pick(copy.size() / 2)] ^= std::byte{1};
                    const std::uint32_t at = address + any({0, 0, 0x10, 0x200, 0x1000});
                    if (!AddSection(bytes, at, any({virtualSize, virtualSize + 0x1000, 0x200}),
                                    copy))
                        kind = "overlapping sections (no room)";
                    break;
                }
                case 4: {
                    kind = "sizes near 4 GiB";
                    const std::size_t field = header + (pick(2) ? 8 : 16);
                    PutDWord(bytes, field,
                             any({0xFFFFF000, 0xFFFFF001, 0xFFFFF800, 0xFFFFFFFF, 0xFFFFFE00,
                                  0x80000000, 0x7FFFFFFF, 0xFFFFF000 - address}));
                    break;
                }
                default:
                    kind = "fields";
                    for (std::size_t changes = 1 + pick(3); changes > 0; --changes) {
                        const Field field = fields[s][pick(fields[s].size())];
                        const std::uint32_t old = field.width == 2 ? LittleWord(bytes, field.at)
                                                                   : LittleDWord(bytes, field.at);
                        const std::uint32_t value = any({0,
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
                                                         static_cast<std::uint32_t>(random())});
                        if (field.width == 2)
                            version_blocks::PutWord(bytes, field.at,
                                                    static_cast<std::uint16_t>(value));
                        else
                            PutDWord(bytes, field.at, value);
                    }
            }
        }
        mutant.name += " (" + kind + ")";
        mutants.push_back(std::move(mutant));
    }
    return mutants;
}

// "a.b.c.d" of a block's fixed record, "-" without one.
std::string FixedVersionOf(const Bytes& block) {
    for (std::size_t at = 0; at + 16 <= block.size(); at += 4)
        if (LittleDWord(block, at) == 0xFEEF04BD) {
            const std::uint32_t ms = LittleDWord(block, at + 8), ls = LittleDWord(block, at + 12);
            return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                   std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
        }
    return "-";
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

const char* VerdictName(PeResourceVerdict verdict) {
    switch (verdict) {
        case PeResourceVerdict::NotPe: return "not an executable";
        case PeResourceVerdict::NoVersionResource: return "no version resource";
        case PeResourceVerdict::Sound: return "sound";
        case PeResourceVerdict::Unsound: return "unsound";
    }
    return "?";
}

const char* ReasonName(PeUnsoundReason reason) {
    switch (reason) {
        case PeUnsoundReason::None: return "no reason";
        case PeUnsoundReason::HeaderOffsetPast2GiB: return "header offset past 2 GiB";
        case PeUnsoundReason::SignatureWithoutZeros: return "\"PE\" without its zeros";
        case PeUnsoundReason::IncompleteHeaders: return "incomplete headers";
        case PeUnsoundReason::SectionOverHeaders: return "section over the headers";
        case PeUnsoundReason::ImageReadOutside: return "image lookup leaves the image or file";
        case PeUnsoundReason::FlatReadOutside: return "flat lookup leaves its section";
        case PeUnsoundReason::SeekPast2GiB: return "flat seek past 2 GiB";
        case PeUnsoundReason::DataTooShort: return "resource shorter than a node header";
        case PeUnsoundReason::TooManyReads: return "too many reads";
        case PeUnsoundReason::NeResourceTable: return "16-bit resource table";
    }
    return "?";
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

std::vector<std::pair<std::string, std::wstring>> Written(const std::vector<FileToWrite>& files,
                                                          const ScratchFolder& scratch) {
    std::vector<std::pair<std::string, std::wstring>> written;
    for (const FileToWrite& file : files) {
        const std::wstring path = scratch / (L"w" + std::to_wstring(written.size()) + L".exe");
        testing::WriteSparseFile(path, file.bytes, file.tailAt, file.tail);
        written.emplace_back(file.name, path);
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
    std::vector<FileToWrite> files;
    const std::vector<version_blocks::PeLayout> layouts = version_blocks::MisleadingPeLayouts();
    for (const version_blocks::PeLayout& layout : layouts)
        files.push_back({layout.what, layout.bytes, layout.tailAt, layout.tail});
    std::vector<Bytes> seeds;
    for (const version_blocks::PeLayout& layout : layouts)
        if (layout.expect == version_blocks::PeLayout::Direct) seeds.push_back(layout.bytes);
    for (const wchar_t* fixture : {L"fv_1234", L"fv_multi", L"fv_otherlang"})
        seeds.push_back(BytesOf(fixtures::FixturePath(fixture)));
    std::vector<FileToWrite> mutants = Mutants(seeds, 4000);
    std::move(mutants.begin(), mutants.end(), std::back_inserter(files));
    Tally tally;
    const std::vector<std::pair<std::string, std::wstring>> written = Written(files, scratch);
    const std::vector<SystemAnswer> answers = Judge(written, "layouts and mutants", tally);
    // How each kind of mutant fared, and what each layout gives, for the
    // reader of the log.
    std::map<std::string, std::array<std::size_t, 5>>
        kinds;  // files, sound, direct, faults, blocks
    for (std::size_t i = layouts.size(); i < files.size(); ++i) {
        const std::string& name = files[i].name;
        const std::string kind = name.substr(name.find('(') + 1, name.size() - name.find('(') - 2);
        const Verdict program = ProgramVerdict(written[i].second);
        auto& counts = kinds[kind];
        ++counts[0];
        counts[1] += program.verdict == PeResourceVerdict::Sound;
        counts[2] += !program.read.block.empty();
        counts[3] += answers[i].fault;
        counts[4] += answers[i].present;
    }
    for (const auto& [kind, counts] : kinds)
        std::cout << "  mutants, " << kind << ": " << counts[0] << ", " << counts[1] << " sound, "
                  << counts[2] << " read directly; the system faulted on " << counts[3]
                  << " and gave a block for " << counts[4] << "\n";
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        const Verdict program = ProgramVerdict(written[i].second);
        std::cout << "  " << layouts[i].what << ": the walk " << VerdictName(program.verdict)
                  << " (" << ReasonName(program.unsound) << "), direct read "
                  << program.read.block.size() << " bytes; the system "
                  << (answers[i].fault ? "faulted"
                      : answers[i].present
                          ? "gave " + std::to_string(answers[i].block.size()) +
                                " bytes, fixed version " + FixedVersionOf(answers[i].block)
                          : std::string("gave nothing"))
                  << "\n";
    }
    // Each layout said to crash the system's reader does so, in the helper.
    for (std::size_t i = 0; i < layouts.size(); ++i)
        if (layouts[i].expect == version_blocks::PeLayout::Crashes)
            EXPECT_TRUE(answers[i].fault) << layouts[i].what;
}

}  // namespace
}  // namespace kelvra
