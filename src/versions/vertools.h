#pragma once

// The candidate versions of one application and the chain of heuristics that
// prunes them down to at most one. Candidates come from the uninstall entry,
// from the version resources of the application's executables and from the
// words of its display name; a candidate that loses is never taken out of
// the list, only marked removed with the name of the stage that removed it,
// so that the reports can show why the chosen version won.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/shorttext.h"
#include "common/textutil.h"
#include "versions/versiontext.h"

namespace kelvra {

// Where a candidate came from. The ordinals are fixed: the reports print the
// texts of kVersionTypeTexts by ordinal.
enum class TVersionType : std::uint8_t {
    Unknown = 0,       // never created
    Registry = 1,      // a value of the uninstall entry
    FileVersion = 2,   // never created, but counted among the file types
    FileVersion1 = 3,  // the fixed file version of a version resource
    FileVersion2 = 4,  // its "FileVersion" string
    FileVersion3 = 5,  // its "ProductVersion" string
    EntryName = 6,     // a version word of the display name
    RemoveMo = 7,      // never created
};

inline constexpr std::array<std::wstring_view, 8> kVersionTypeTexts = {
    L"unknown",      L"registry",     L"fileversion", L"fileversion1",
    L"fileversion2", L"fileversion3", L"entryName",   L"removeMo",
};

// The report text of a source tag; "unknown" for a value outside the table.
std::wstring_view VersionTypeText(TVersionType type) noexcept;

// A set of source tags.
class TVersionTypeSet {
  public:
    constexpr TVersionTypeSet(std::initializer_list<TVersionType> types) noexcept {
        for (TVersionType type : types) bits_ |= Bit(type);
    }
    constexpr bool contains(TVersionType type) const noexcept { return (bits_ & Bit(type)) != 0; }

  private:
    static constexpr std::uint32_t Bit(TVersionType type) noexcept {
        const auto ordinal = static_cast<unsigned>(type);
        return ordinal < kVersionTypeTexts.size() ? (1u << ordinal) : 0u;
    }
    std::uint32_t bits_ = 0;
};

// The file-version tags: the candidates read from an executable's version
// resource.
bool IsFileVersionType(TVersionType type) noexcept;

// Which value of the uninstall entry a registry candidate was read from; the
// XML document shows both under one tag.
enum class TVersionOrigin : std::uint8_t {
    Other,              // not a registry candidate
    DisplayVersion,     // the DisplayVersion value
    VersionMajorMinor,  // VersionMajor and VersionMinor
};

// The pruning stage that removed a candidate; its name begins the reason.
enum class TRemovingStage : std::uint8_t {
    None,  // active
    DeleteDouble,
    DeleteMajorVersions,
    DeleteAllButRegistry,
    DeleteAllButImportant1,
    DeleteAllButImportant2,
    DeleteTroepVersies,
    JustPickFirstAvailableVersion,
    Other,  // removed by DeleteVersionTypes for a reason of the caller's
};
std::wstring_view RemovingStageName(TRemovingStage stage) noexcept;

// The version text that build tools write into a version resource nobody
// filled in: it says nothing about the installed release.
inline constexpr std::wstring_view kPlaceholderVersion = L"1.0.0.0";

// One candidate version.
class TVersion {
  public:
    TVersion(ShortText version, TVersionType versionType, ShortText fetch)
        : Version(std::move(version)), VersionType(versionType), Fetch(std::move(fetch)) {}

    std::wstring_view TypeText() const noexcept { return VersionTypeText(VersionType); }

    // Sets Removed, the stage and the reason, which the design words and
    // which begins with the stage's name. Callers mark only candidates that
    // are still active, so a reason once given is never overwritten.
    void MarkRemoved(TRemovingStage stage, std::wstring_view reason);

    ShortText Version;  // the cleaned version text
    TVersionType VersionType;
    TVersionOrigin Origin = TVersionOrigin::Other;
    ShortText Fetch;  // where the text was read: key path, file path or display name
    bool Removed = false;
    TRemovingStage RemovedBy = TRemovingStage::None;
    ShortText RemoveReason;   // empty while not removed
    std::int32_t Points = 0;  // weight collected by the pruning stages; only grows
    ShortText Major;          // first component shared with a candidate this one beat
};

enum class TVersionRelation : std::uint8_t {
    vtEersteVersieIsMajorVanTweede = 0,  // same first component, the first is the lesser
    vtTweedeIsMajorVanEerste = 1,        // same first component, the second is the lesser
    vtVerschillendeMajor = 2,            // the first components differ
};

struct TVersionComparison {
    TVersionRelation relation;
    std::wstring major;  // the common first component; empty when they differ
};

// Compares two version texts by their first component (the part before the
// first "."), then by the rest as text, not as numbers: 1.9 beats 1.10.
TVersionComparison CompareVersions(std::wstring_view a, std::wstring_view b);

// Whether an executable's file name, without its extension, is the display
// name, once both lose their blanks and A to Z are folded: FooBar.exe is the
// program of "Foo Bar".
bool ExecutableNameMatches(std::wstring_view path, std::wstring_view displayName);

// The candidates of one application, in order of addition. Entries are
// never deleted, reordered or replaced; Count only grows.
class TVersions {
  public:
    // Cleans the text and appends a candidate unless the cleaned text is
    // empty. An "entryName" text with "(Patch" in it first loses its
    // parentheses and the word patch.
    // Returns whether it was added; origin tells the two registry values
    // apart.
    bool AddVersion(std::wstring_view text, TVersionType versionType, std::wstring_view fetch,
                    std::int32_t points, TVersionOrigin origin = TVersionOrigin::Other);

    // Room for this many candidates in all, so that a record whose number of
    // candidates is known ahead holds no spare room.
    void Reserve(std::size_t count) { entries_.reserve(count); }

    std::size_t Count() const noexcept { return entries_.size(); }
    std::size_t ActiveCount() const noexcept;

    // Index accessors; an index outside 0 .. Count() - 1 throws
    // std::out_of_range.
    const TVersion& GetVersion(std::size_t index) const { return entries_.at(index).version; }
    bool IsActive(std::size_t index) const { return !GetVersion(index).Removed; }
    TVersionType GetVersionType(std::size_t index) const { return GetVersion(index).VersionType; }
    std::wstring_view GetTypeText(std::size_t index) const { return GetVersion(index).TypeText(); }
    std::wstring GetFetch(std::size_t index) const { return GetVersion(index).Fetch.str(); }
    std::wstring GetVersionText(std::size_t index) const { return GetVersion(index).Version.str(); }

    bool HasVersionType(TVersionType versionType, bool includeRemoved) const noexcept;
    // Removes every active candidate whose type is outside types (keepListed)
    // or inside them (not keepListed).
    void DeleteVersionTypes(TVersionTypeSet types, bool keepListed, std::wstring_view reason,
                            TRemovingStage stage = TRemovingStage::Other);

    // The pruning stages, in the order RunPruningChain runs them.
    void DeleteDouble();
    void DeleteMajorVersions();
    void DeleteAllButRegistry();
    void DeleteAllButImportant(std::wstring_view tag);
    void AddPointsForEntryName();
    void DeleteTroepVersies();
    void AddPointsForExeName(std::wstring_view displayName);
    void AddPointsForAgreement(bool byMajor);
    void JustPickFirstAvailableVersion();

    // The fourteen stages in their fixed order; afterwards at most one
    // candidate is active. displayName is the application's display name as
    // read from its uninstall entry.
    void RunPruningChain(std::wstring_view displayName);

  private:
    struct Entry {
        TVersion version;
    };

    // The stored version texts back in UTF-16, one per entry, for the
    // stages that compare texts pair by pair.
    std::vector<std::wstring> VersionTexts() const;

    std::vector<Entry> entries_;
};

}  // namespace kelvra
