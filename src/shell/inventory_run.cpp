#include "shell/inventory_run.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <utility>

#include "common/files.h"
#include "common/globals.h"
#include "common/registry.h"
#include "common/run_timings.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "inventory/kv_objs.h"
#include "inventory/render.h"
#include "shell/runfiles.h"
#include "versions/file_helper.h"

namespace kelvra {
namespace {

int UninstallKeyNames(RegistryRoot root, RegistryView view, std::vector<std::wstring>& names) {
    names.clear();
    {
        const StageScope stage(RunStage::Registry);
        auto registry = CreateRegistryAccessor(root, view);
        if (registry->OpenKeyReadOnly(kUninstallKey)) {
            // Thousands of names take a while to list, and again to sort.
            names = registry->GetKeyNames(&PumpPendingMessagesIfDue);
            registry->CloseKey();
        }
    }
    PumpPendingMessagesIfDue();
    const StageScope stage(RunStage::Analysis);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareTextLocale(a, b) < 0;
    });
    return static_cast<int>(names.size());
}

// The renderings of a kept record, stored as bytes in this order: its XML
// element, its report row in group A or in group B (one of the two is
// empty), its payload line, and what the observer asked to keep of it.
enum Piece : std::size_t { kXml, kRowsA, kRowsB, kPayload, kObserved, kPieces };

// Where a record's renderings lie in the store, and what it is sorted by:
// a run holds this much of each record until the records are in order.
struct RecordPlace {
    std::wstring sortKey;
    std::uint64_t offset = 0;
    std::array<std::uint32_t, kPieces> lengths{};

    std::uint64_t OffsetOf(Piece piece) const {
        std::uint64_t at = offset;
        for (std::size_t i = 0; i < piece; ++i) at += lengths[i];
        return at;
    }
    std::size_t Length() const {
        std::size_t total = 0;
        for (const std::uint32_t length : lengths) total += length;
        return total;
    }
};

// The bytes of the records' renderings in the order of analysis: in a
// scratch file beside the run files, which is never given a name of its own
// and goes with the run; or, for records that only an observer sees, in
// memory.
class PieceStore {
  public:
    PieceStore() = default;
    explicit PieceStore(const std::wstring& scratchPath) : file_(std::in_place, scratchPath) {}

    std::uint64_t Append(std::string_view bytes) {
        const std::uint64_t at = size_;
        size_ += bytes.size();
        if (file_)
            file_->Write(bytes);
        else
            memory_ += bytes;
        return at;
    }

    std::string Read(std::uint64_t offset, std::size_t length) {
        if (!file_) return memory_.substr(static_cast<std::size_t>(offset), length);
        if (!reader_) {
            file_->Finish();
            reader_ = ReadOnlyFile::Open(file_->temporaryPath());
            if (!reader_) throw FileError("Cannot open file \"" + ScratchName() + "\"");
        }
        std::string bytes(length, '\0');
        if (reader_->ReadAt(offset, std::as_writable_bytes(std::span(bytes))) != length)
            throw FileError("Cannot read file \"" + ScratchName() + "\"");
        return bytes;
    }

  private:
    std::string ScratchName() const { return WideToAnsi(file_->temporaryPath()); }

    std::optional<PendingFile> file_;
    std::optional<ReadOnlyFile> reader_;
    std::string memory_;
    std::uint64_t size_ = 0;
};

// The kept records of a run as they are analysed: each rendered at once,
// its renderings stored, the record itself freed by the caller; then put in
// the order of SortByNiceName.
class RecordShelf {
  public:
    RecordShelf(PieceStore& store, bool runFiles, RunObserver* observer)
        : store_(store), runFiles_(runFiles), observer_(observer) {}

    void Add(const TApp& app) {
        const std::wstring chosen = ChosenVersion(app);
        (chosen.empty() ? counts_.error : counts_.ok) += 1;
        std::array<std::string, kPieces> pieces;
        if (runFiles_) {
            TextLines lines, rowsA, rowsB;
            AppToXml(app, lines);
            pieces[kXml] = RunFileBytes(lines);
            AppToHtmlList(app, rowsA, rowsB, true);
            pieces[kRowsA] = RunFileBytes(rowsA);
            pieces[kRowsB] = RunFileBytes(rowsB);
            lines.clear();
            AppPayloadLine(app, lines);
            pieces[kPayload] = RunFileBytes(lines);
        }
        if (observer_) pieces[kObserved] = observer_->RecordAnalysed(app, chosen);

        RecordPlace place{NiceNameSortKey(app), 0, {}};
        std::string joined;
        for (std::size_t i = 0; i < kPieces; ++i) {
            if (pieces[i].size() > UINT32_MAX) throw std::length_error("a record's rendering");
            place.lengths[i] = static_cast<std::uint32_t>(pieces[i].size());
            joined += pieces[i];
        }
        place.offset = store_.Append(joined);
        places_.push_back(std::move(place));
    }

    void Sort() {
        StableSortPumpingMessages(places_, [](const RecordPlace& a, const RecordPlace& b) {
            return NiceNameKeyLess(a.sortKey, b.sortKey);
        });
    }

    // The observer's bytes of every record, in order.
    void ShowInOrder() {
        if (!observer_) return;
        for (const RecordPlace& place : places_) {
            observer_->RecordInOrder(Read(place, kObserved));
            PumpPendingMessagesIfDue();
        }
    }

    std::string Read(const RecordPlace& place, Piece piece) {
        return store_.Read(place.OffsetOf(piece), place.lengths[piece]);
    }
    std::string ReadAll(const RecordPlace& place) {
        return store_.Read(place.offset, place.Length());
    }

    const std::vector<RecordPlace>& places() const { return places_; }
    RunObserver* observer() const { return observer_; }
    RunCounters counts() const { return counts_; }

  private:
    PieceStore& store_;
    bool runFiles_;
    RunObserver* observer_;
    std::vector<RecordPlace> places_;
    RunCounters counts_;
};

// Reads and analyses the entries of one registry view; each kept record
// goes onto the shelf and is freed.
void ReadPass(RegistryRoot root, RegistryView view, const std::vector<std::wstring>& names,
              bool entryFacts, RecordShelf& shelf, RunObserver* observer) {
    auto registry = CreateRegistryAccessor(root, view);
    const std::wstring keyPrefix = std::wstring(kUninstallKey) + L"\\";
    for (std::size_t i = 0; i < names.size(); ++i) {
        TApp app(keyPrefix + names[i], names[i]);
        app.root = root;
        app.view = view;
        if (entryFacts) app.facts = std::make_unique<EntryFacts>();
        CountInRun(RunCount::Entries);
        bool kept;
        {
            const StageScope stage(RunStage::Registry);
            kept = app.ReadFromRegistry(*registry);
        }
        if (kept) {
            CountInRun(RunCount::Records);
            const StageScope stage(RunStage::Analysis);
            app.Process();
        }
        if (observer) observer->EntryRead(app);
        if (kept) {
            const StageScope stage(RunStage::Rendering);
            shelf.Add(app);
        }
        // Every tenth entry without fail; in between whenever one entry
        // after another has kept the messages waiting too long.
        if (i % 10 == 0)
            PumpPendingMessages();
        else
            PumpPendingMessagesIfDue();
    }
}

const std::vector<std::wstring> kHtmlHead = {
    L"<html>", L"<head>",   L"<style>", L"* {",    L"font-family:Verdana; font-size : 12px;",
    L"}",      L"</style>", L"</head>", L"<body>",
};

// Writes the three run files from the shelf's records in their order, under
// temporary names, and gives them their names once all three are whole, the
// payload file first. The observer is shown each record on the way.
void WriteRunFiles(RecordShelf& shelf, const std::wstring& payloadPath) {
    RunFileWriter payload(payloadPath);
    RunFileWriter xml(ChangeFileExt(payloadPath, L".xml"));
    RunFileWriter html(ChangeFileExt(payloadPath, L".html"));
    xml.AppendLines({L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                     L"<version>" + AppVersion + L"</version>", L"</update>"});
    // The report's counters come before its rows.
    const RunCounters counts = shelf.counts();
    html.AppendLines(kHtmlHead);
    html.AppendLine(L"ERROR: <b>" + std::to_wstring(counts.error) + L"</b><br>");
    html.AppendLine(L"OK: <b>" + std::to_wstring(counts.ok) + L"</b><br>");
    html.AppendLine(L"<br><br>");
    html.AppendLine(
        L"<table border=1 cellspacing=0 cellpadding=5 style=\"border:solid 1px black\">");

    for (const RecordPlace& place : shelf.places()) {
        const std::string bytes = shelf.ReadAll(place);
        const auto piece = [&](Piece kind) {
            return std::string_view(bytes).substr(
                static_cast<std::size_t>(place.OffsetOf(kind) - place.offset), place.lengths[kind]);
        };
        xml.AppendBytes(piece(kXml));
        html.AppendBytes(piece(kRowsA));
        payload.AppendBytes(piece(kPayload));
        if (RunObserver* observer = shelf.observer()) observer->RecordInOrder(piece(kObserved));
        PumpPendingMessagesIfDue();
    }
    html.AppendLine(L"<tr><td colspan=3>.....</td>");
    for (const RecordPlace& place : shelf.places()) {
        if (place.lengths[kRowsB] > 0) html.AppendBytes(shelf.Read(place, kRowsB));
        PumpPendingMessagesIfDue();
    }
    html.AppendLine(L"</body>");
    html.AppendLine(L"</html>");
    xml.AppendLine(L"</apps>");

    payload.Finish();
    PumpPendingMessagesIfDue();
    xml.Finish();
    PumpPendingMessagesIfDue();
    html.Finish();
    PumpPendingMessagesIfDue();
    payload.Commit();
    xml.Commit();
    html.Commit();
}

// Lists every key before any is read, so that an observer learns the number
// of entries ahead; then reads the machine's views onto their shelf and the
// user's key onto its own.
void ReadEntries(const RunPlan& plan, RecordShelf& machine, RecordShelf& user,
                 RunObserver* observer) {
    std::vector<std::wstring> names, names64, userNames;
    if (plan.machine || plan.runFiles) {
        GetUninstallKeyNames(names);
        if (IsRunningOnWow64()) GetUninstallKeyNames64(names64);
    }
    if (plan.user) UninstallKeyNames(RegistryRoot::CurrentUser, RegistryView::Own, userNames);
    if (observer)
        observer->EntriesListed((plan.machine ? names.size() + names64.size() : 0) +
                                userNames.size());
    const bool facts = plan.entryFacts;
    const auto local = RegistryRoot::LocalMachine;
    if (!names.empty())
        ReadPass(local, RegistryView::Own, names, facts, machine, machine.observer());
    if (!names64.empty())
        ReadPass(local, RegistryView::Wow64_64, names64, facts, machine, machine.observer());
    if (!userNames.empty())
        ReadPass(RegistryRoot::CurrentUser, RegistryView::Own, userNames, facts, user, observer);
}

}  // namespace

int GetUninstallKeyNames(std::vector<std::wstring>& names) {
    return UninstallKeyNames(RegistryRoot::LocalMachine, RegistryView::Own, names);
}

int GetUninstallKeyNames64(std::vector<std::wstring>& names) {
    return UninstallKeyNames(RegistryRoot::LocalMachine, RegistryView::Wow64_64, names);
}

std::wstring RunInventory(RunCounters* counters, RunObserver* observer) {
    // An observer gets whole records: a report of them holds their facts.
    RunPlan plan;
    plan.entryFacts = observer != nullptr;
    return RunInventory(plan, counters, observer);
}

std::wstring RunInventory(const RunPlan& plan, RunCounters* counters, RunObserver* observer) {
    const RecordedRun recorded;
    RunVersionMemory versionMemory(plan.versionReads);
    // One helper process, and one budget for slow volumes, for the whole run.
    const FileHelperRun fileHelper;
    PumpPendingMessages();
    // The machine's records reach the observer only when the plan shows them.
    RunObserver* const machineObserver = plan.machine ? observer : nullptr;

    // The run files' number is taken before any record is read: each record
    // is rendered into a scratch file beside them as soon as it is analysed,
    // and only its place is held until the records are in order.
    std::wstring payloadPath;
    const std::wstring profile = FileNameSafeProfile(AccountProfile);
    std::optional<PieceStore> scratch;
    if (plan.runFiles) {
        const StageScope stage(RunStage::Writing);
        payloadPath = FindFreeFileName(AppDataDir + L"dump_" + profile + L"_", L".txt");
        scratch.emplace(ChangeFileExt(payloadPath, L".records"));
    }
    PieceStore memory;
    RecordShelf machine(scratch ? *scratch : memory, plan.runFiles, machineObserver);
    RecordShelf user(memory, false, observer);
    ReadEntries(plan, machine, user, observer);
    {
        const StageScope stage(RunStage::Analysis);
        machine.Sort();
        user.Sort();
    }
    NoteRunMemory(RunMilestone::Read);
    PumpPendingMessages();

    if (!plan.runFiles) {
        // Only the observer sees these records; nothing is written.
        machine.ShowInOrder();
        user.ShowInOrder();
        if (counters) {
            counters->ok = machine.counts().ok + user.counts().ok;
            counters->error = machine.counts().error + user.counts().error;
        }
        versionMemory.Save();
        return {};
    }
    {
        const StageScope stage(RunStage::Writing);
        WriteRunFiles(machine, payloadPath);
        NoteRunMemory(RunMilestone::Rendered);
        scratch.reset();
        NoteRunMemory(RunMilestone::Written);
        PruneRunFileSets(AppDataDir, profile, payloadPath);
    }
    // The user's records after the files: they never reach them.
    user.ShowInOrder();
    versionMemory.Save();
    if (counters) *counters = machine.counts();
    return payloadPath;
}

}  // namespace kelvra
