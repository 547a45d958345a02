#include "shell/inventory_run.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "common/globals.h"
#include "common/registry.h"
#include "common/run_timings.h"
#include "common/textconv.h"
#include "inventory/kv_objs.h"
#include "inventory/render.h"
#include "shell/runfiles.h"

namespace kelvra {
namespace {

int UninstallKeyNames(RegistryView view, std::vector<std::wstring>& names) {
    names.clear();
    {
        const StageScope stage(RunStage::Registry);
        auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, view);
        if (registry->OpenKeyReadOnly(kUninstallKey)) {
            // Thousands of names take a while to list, and again to sort.
            names = registry->GetKeyNames(&ProcessPendingMessagesIfDue);
            registry->CloseKey();
        }
    }
    ProcessPendingMessagesIfDue();
    const StageScope stage(RunStage::Analysis);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareTextLocale(a, b) < 0;
    });
    return static_cast<int>(names.size());
}

// Reads, analyses and collects the records of one registry view.
void ReadPass(RegistryView view, const std::vector<std::wstring>& names, TApps& apps,
              RunObserver* observer) {
    auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, view);
    const std::wstring keyPrefix = std::wstring(kUninstallKey) + L"\\";
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto app = std::make_unique<TApp>(keyPrefix + names[i], names[i]);
        app->view = view;
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
            ProcessPendingMessages();
        else
            ProcessPendingMessagesIfDue();
    }
}

const std::vector<std::wstring> kHtmlHead = {
    L"<html>", L"<head>", L"<style>", L"* {", L"font-family:Verdana; font-size : 12px;",
    L"}",      L"</style>", L"</head>", L"<body>",
};

}  // namespace

int GetUninstallKeyNames(std::vector<std::wstring>& names) {
    return UninstallKeyNames(RegistryView::Own, names);
}

int GetUninstallKeyNames64(std::vector<std::wstring>& names) {
    return UninstallKeyNames(RegistryView::Wow64_64, names);
}

std::wstring RunInventory(RunCounters* counters, RunObserver* observer) {
    const RecordedRun recorded;
    ProcessPendingMessages();
    // The five line lists hold their lines as the files will: converted to
    // the code page, with their line ends. On a machine of many applications
    // the report runs to tens of megabytes, which as UTF-16 lines, and then
    // joined for writing, would take several times that.
    RunFileText html, xml, groupA, groupB, payload;
    html.AppendLines(kHtmlHead);
    xml.AppendLines({L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                     L"<version>" + AppVersion + L"</version>", L"</update>"});
    RunCounters counts;
    {
        TApps apps;
        {
            // Both views are listed before either is read, so that an
            // observer learns the number of entries ahead.
            std::vector<std::wstring> names, names64;
            GetUninstallKeyNames(names);
            if (IsRunningOnWow64()) GetUninstallKeyNames64(names64);
            if (observer) observer->EntriesListed(names.size() + names64.size());
            if (!names.empty()) ReadPass(RegistryView::Own, names, apps, observer);
            if (!names64.empty()) ReadPass(RegistryView::Wow64_64, names64, apps, observer);
        }
        {
            const StageScope stage(RunStage::Analysis);
            apps.SortByNiceName();
        }
        NoteRunMemory(RunMilestone::Read);

        const StageScope stage(RunStage::Rendering);
        TextLines xmlLines, rowsA, rowsB, payloadLines;
        for (std::unique_ptr<TApp>& record : apps.TakeItems()) {
            const TApp& app = *record;
            const std::wstring chosen = ChosenVersion(app);
            (chosen.empty() ? counts.error : counts.ok) += 1;
            if (observer) observer->RecordRendered(app, chosen);
            AppToXml(app, xmlLines);
            AppToHtmlList(app, rowsA, rowsB, true);
            AppPayloadLine(app, payloadLines);
            // Nothing looks at a record once it is rendered. Freed before its
            // lines are stored, it leaves room that they can take, and the
            // records and the files' texts never peak together.
            record.reset();
            xml.AppendLines(xmlLines);
            groupA.AppendLines(rowsA);
            groupB.AppendLines(rowsB);
            payload.AppendLines(payloadLines);
            xmlLines.clear();
            rowsA.clear();
            rowsB.clear();
            payloadLines.clear();
            ProcessPendingMessagesIfDue();
        }
        html.AppendLine(L"ERROR: <b>" + std::to_wstring(counts.error) + L"</b><br>");
        html.AppendLine(L"OK: <b>" + std::to_wstring(counts.ok) + L"</b><br>");
        html.AppendLine(L"<br><br>");
        NoteRunMemory(RunMilestone::Rendered);
        ProcessPendingMessages();
    }  // the records are all freed, before the files are written

    const StageScope stage(RunStage::Writing);
    const std::wstring profile = FileNameSafeProfile(AccountProfile);
    const std::wstring payloadPath = FindFreeFileName(AppDataDir + L"dump_" + profile + L"_", L".txt");
    WriteRunFile(payloadPath, std::move(payload));
    ProcessPendingMessagesIfDue();

    xml.AppendLine(L"</apps>");
    WriteRunFile(ChangeFileExt(payloadPath, L".xml"), std::move(xml));
    ProcessPendingMessagesIfDue();

    html.AppendLine(
        L"<table border=1 cellspacing=0 cellpadding=5 style=\"border:solid 1px black\">");
    html.Append(std::move(groupA));
    html.AppendLine(L"<tr><td colspan=3>.....</td>");
    html.Append(std::move(groupB));
    html.AppendLine(L"</body>");
    html.AppendLine(L"</html>");
    WriteRunFile(ChangeFileExt(payloadPath, L".html"), std::move(html));
    ProcessPendingMessagesIfDue();
    NoteRunMemory(RunMilestone::Written);

    PruneRunFileSets(AppDataDir, profile, payloadPath);
    if (counters) *counters = counts;
    return payloadPath;
}

}  // namespace kelvra
