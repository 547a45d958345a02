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
            names = registry->GetKeyNames();
            registry->CloseKey();
        }
    }
    const StageScope stage(RunStage::Analysis);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareTextLocale(a, b) < 0;
    });
    return static_cast<int>(names.size());
}

// Reads, analyses and collects the records of one registry view.
void ReadPass(RegistryView view, const std::vector<std::wstring>& names, TApps& apps) {
    auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, view);
    const std::wstring keyPrefix = std::wstring(kUninstallKey) + L"\\";
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto app = std::make_unique<TApp>(keyPrefix + names[i], names[i]);
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
            apps.Add(std::move(app));
        }
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

std::wstring RunInventory(RunCounters* counters) {
    const RecordedRun recorded;
    ProcessPendingMessages();
    TextLines html = kHtmlHead;
    TextLines xml = {L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>",
                     L"<version>" + AppVersion + L"</version>", L"</update>"};
    TextLines groupA, groupB, payload;
    RunCounters counts;
    {
        TApps apps;
        std::vector<std::wstring> names;
        if (GetUninstallKeyNames(names) > 0) ReadPass(RegistryView::Own, names, apps);
        if (IsRunningOnWow64() && GetUninstallKeyNames64(names) > 0)
            ReadPass(RegistryView::Wow64_64, names, apps);
        {
            const StageScope stage(RunStage::Analysis);
            apps.SortByNiceName();
        }

        const StageScope stage(RunStage::Rendering);
        for (std::size_t i = 0; i < apps.Count(); ++i) {
            const TApp& app = apps.Items(i);
            (ChosenVersion(app).empty() ? counts.error : counts.ok) += 1;
            AppToXml(app, xml);
            AppToHtmlList(app, groupA, groupB, true);
            AppPayloadLine(app, payload);
            ProcessPendingMessagesIfDue();
        }
        html.push_back(L"ERROR: <b>" + std::to_wstring(counts.error) + L"</b><br>");
        html.push_back(L"OK: <b>" + std::to_wstring(counts.ok) + L"</b><br>");
        html.push_back(L"<br><br>");
        ProcessPendingMessages();
    }  // the records are freed here, before the files are written

    const StageScope stage(RunStage::Writing);
    const std::wstring profile = FileNameSafeProfile(AccountProfile);
    const std::wstring payloadPath = FindFreeFileName(AppDataDir + L"dump_" + profile + L"_", L".txt");
    WriteLinesFile(payloadPath, payload);
    ProcessPendingMessagesIfDue();

    xml.push_back(L"</apps>");
    WriteLinesFile(ChangeFileExt(payloadPath, L".xml"), xml);
    ProcessPendingMessagesIfDue();

    html.push_back(L"<table border=1 cellspacing=0 cellpadding=5 style=\"border:solid 1px black\">");
    html.insert(html.end(), groupA.begin(), groupA.end());
    html.push_back(L"<tr><td colspan=3>.....</td>");
    html.insert(html.end(), groupB.begin(), groupB.end());
    html.push_back(L"</body>");
    html.push_back(L"</html>");
    WriteLinesFile(ChangeFileExt(payloadPath, L".html"), html);
    ProcessPendingMessagesIfDue();

    PruneRunFileSets(AppDataDir, profile, payloadPath);
    if (counters) *counters = counts;
    return payloadPath;
}

}  // namespace kelvra
