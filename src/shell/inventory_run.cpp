#include "shell/inventory_run.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "common/globals.h"
#include "common/registry.h"
#include "common/run_timings.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "inventory/kv_objs.h"
#include "inventory/render.h"
#include "shell/runfiles.h"

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

// Reads, analyses and collects the records of one registry view.
void ReadPass(RegistryRoot root, RegistryView view, const std::vector<std::wstring>& names,
              bool entryFacts, TApps& apps, RunObserver* observer) {
    auto registry = CreateRegistryAccessor(root, view);
    const std::wstring keyPrefix = std::wstring(kUninstallKey) + L"\\";
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto app = std::make_unique<TApp>(keyPrefix + names[i], names[i]);
        app->root = root;
        app->view = view;
        if (entryFacts) app->facts = std::make_unique<EntryFacts>();
        CountInRun(RunCount::Entries);
        bool kept;
        {
            const StageScope stage(RunStage::Registry);
            kept = app->ReadFromRegistry(*registry);
        }
        if (kept) {
            CountInRun(RunCount::Records);
            const StageScope stage(RunStage::Analysis);
            app->Process();
        }
        if (observer) observer->EntryRead(*app);
        if (kept) apps.Add(std::move(app));
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

// The run's files while the records are rendered into them, under their
// temporary names. The report's rows come in two groups and follow its
// counters, so they gather in two files of their own until the report is
// put together at the end.
class RunOutputs {
  public:
    explicit RunOutputs(const std::wstring& payloadPath)
        : payloadPath_(payloadPath),
          payload_(payloadPath),
          xml_(ChangeFileExt(payloadPath, L".xml")),
          groupA_(ChangeFileExt(payloadPath, L".html") + L".a"),
          groupB_(ChangeFileExt(payloadPath, L".html") + L".b") {
        xml_.AppendLines({L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                          L"<version>" + AppVersion + L"</version>", L"</update>"});
    }

    // One record, rendered the four ways and written; nothing looks at a
    // record again once it is here.
    void Add(const TApp& app, const std::wstring& chosen) {
        (chosen.empty() ? counts_.error : counts_.ok) += 1;
        AppToXml(app, lines_);
        xml_.AppendLines(lines_);
        lines_.clear();
        AppToHtmlList(app, rowsA_, rowsB_, true);
        groupA_.AppendLines(rowsA_);
        groupB_.AppendLines(rowsB_);
        rowsA_.clear();
        rowsB_.clear();
        AppPayloadLine(app, lines_);
        payload_.AppendLines(lines_);
        lines_.clear();
    }

    // Completes the three files and gives them their names, the payload file
    // first; only then does any of them carry its name.
    RunCounters Finish() {
        xml_.AppendLine(L"</apps>");
        payload_.Finish();
        PumpPendingMessagesIfDue();
        xml_.Finish();
        PumpPendingMessagesIfDue();

        RunFileWriter html(ChangeFileExt(payloadPath_, L".html"));
        html.AppendLines(kHtmlHead);
        html.AppendLine(L"ERROR: <b>" + std::to_wstring(counts_.error) + L"</b><br>");
        html.AppendLine(L"OK: <b>" + std::to_wstring(counts_.ok) + L"</b><br>");
        html.AppendLine(L"<br><br>");
        html.AppendLine(
            L"<table border=1 cellspacing=0 cellpadding=5 style=\"border:solid 1px black\">");
        html.AppendWrittenBy(groupA_);
        PumpPendingMessagesIfDue();
        html.AppendLine(L"<tr><td colspan=3>.....</td>");
        html.AppendWrittenBy(groupB_);
        html.AppendLine(L"</body>");
        html.AppendLine(L"</html>");
        html.Finish();
        PumpPendingMessagesIfDue();

        payload_.Commit();
        xml_.Commit();
        html.Commit();
        return counts_;
    }

  private:
    std::wstring payloadPath_;
    RunFileWriter payload_, xml_, groupA_, groupB_;
    RunCounters counts_;
    TextLines lines_, rowsA_, rowsB_;
};

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
    PumpPendingMessages();
    TApps apps, userApps;
    // The machine's records reach the observer only when the plan shows them.
    RunObserver* const machineObserver = plan.machine ? observer : nullptr;
    {
        // Every key is listed before any is read, so that an observer
        // learns the number of entries ahead.
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
        const auto machine = RegistryRoot::LocalMachine;
        if (!names.empty())
            ReadPass(machine, RegistryView::Own, names, facts, apps, machineObserver);
        if (!names64.empty())
            ReadPass(machine, RegistryView::Wow64_64, names64, facts, apps, machineObserver);
        if (!userNames.empty())
            ReadPass(RegistryRoot::CurrentUser, RegistryView::Own, userNames, facts, userApps,
                     observer);
    }
    {
        const StageScope stage(RunStage::Analysis);
        apps.SortByNiceName();
        userApps.SortByNiceName();
    }
    NoteRunMemory(RunMilestone::Read);

    RunCounters counts;
    if (!plan.runFiles) {
        // Only the observer sees these records; nothing is written.
        for (TApps* list : {&apps, &userApps})
            for (std::unique_ptr<TApp>& record : list->TakeItems()) {
                const std::wstring chosen = ChosenVersion(*record);
                (chosen.empty() ? counts.error : counts.ok) += 1;
                if (observer) observer->RecordRendered(*record, chosen);
                record.reset();
                PumpPendingMessagesIfDue();
            }
        if (counters) *counters = counts;
        return {};
    }

    // The records are rendered straight into the files' temporary names, so
    // the files' texts are never held whole beside the records; the files
    // take their names only once all three are complete.
    std::optional<RunOutputs> outputs;
    std::wstring payloadPath;
    const std::wstring profile = FileNameSafeProfile(AccountProfile);
    {
        const StageScope stage(RunStage::Writing);
        payloadPath = FindFreeFileName(AppDataDir + L"dump_" + profile + L"_", L".txt");
        outputs.emplace(payloadPath);
    }
    {
        const StageScope stage(RunStage::Rendering);
        for (std::unique_ptr<TApp>& record : apps.TakeItems()) {
            const std::wstring chosen = ChosenVersion(*record);
            if (machineObserver) machineObserver->RecordRendered(*record, chosen);
            outputs->Add(*record, chosen);
            // Freed as soon as it is rendered: the records are the run's
            // largest holding.
            record.reset();
            PumpPendingMessagesIfDue();
        }
    }
    NoteRunMemory(RunMilestone::Rendered);
    PumpPendingMessages();

    {
        const StageScope stage(RunStage::Writing);
        counts = outputs->Finish();
        outputs.reset();
        NoteRunMemory(RunMilestone::Written);
        PruneRunFileSets(AppDataDir, profile, payloadPath);
    }
    // The user's records after the files: they never reach them.
    if (observer)
        for (std::unique_ptr<TApp>& record : userApps.TakeItems()) {
            observer->RecordRendered(*record, ChosenVersion(*record));
            record.reset();
            PumpPendingMessagesIfDue();
        }
    if (counters) *counters = counts;
    return payloadPath;
}

}  // namespace kelvra
