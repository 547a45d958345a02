// The analysis of the inventory alone, without registry or files: display
// names, candidate cleaning, the fourteen-stage pruning chain, escaping,
// sorting and rendering, over generated records of the shapes a real machine
// shows. The sizes are chosen so that a cost growing faster than the input
// shows up as a rising time per item.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/pending_messages.h"
#include "inventory/kv_objs.h"
#include "inventory/render.h"
#include "versions/vertools.h"

namespace kelvra {
namespace {

const std::vector<std::wstring> kWords = {
    L"Acme",  L"Photo", L"Studio", L"Media", L"Player", L"Office", L"Tools",  L"Suite", L"Driver",
    L"Audio", L"Net",   L"Sync",   L"Cloud", L"Pro",    L"Viewer", L"Editor", L"Café",  L"Müller"};

const std::vector<std::wstring> kVersions = {
    L"3.1.0", L"12.0.31101", L"2,5,1,0", L"v2.0", L"Release 3.0", L"1.0.0.0",
    L"4.2",   L"2.5 beta",   L"0.0.0.0", L"7",    L"1. 2. 3",     L"2024.1.15"};

class Generator {
  public:
    explicit Generator(unsigned seed) : random_(seed) {}

    std::size_t Pick(std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_);
    }
    const std::wstring& Word() { return kWords[Pick(kWords.size())]; }
    const std::wstring& Version() { return kVersions[Pick(kVersions.size())]; }

    // A display name of one of the shapes the analysis tells apart.
    std::wstring DisplayName() {
        std::wstring name = Word() + L" " + Word();
        switch (Pick(8)) {
            case 0: return name + L" " + Version();
            case 1: return name + L" Version " + Version();
            case 2:
                return name + L" " + Version() + L" (build " + std::to_wstring(Pick(9000) + 1000) +
                       L")";
            case 3: return name + L" (Patch " + Version() + L")";
            case 4: return name + L" Update (KB" + std::to_wstring(Pick(900000) + 100000) + L")";
            case 5: return name + L" 2010";
            case 6: return name + L" & " + Word() + L" <" + Word() + L">";
            default: return name;
        }
    }

    // A record as Process leaves it before the chain: registry candidates,
    // three per executable, and the display name's.
    std::unique_ptr<TApp> Record(int executables) {
        const std::wstring key = L"{" + std::to_wstring(Pick(1u << 30)) + L"}";
        auto app = std::make_unique<TApp>(std::wstring(kUninstallKey) + L"\\" + key, key);
        app->regDisplayName = DisplayName();
        const std::wstring fetch = app->RegistryPath.str();
        app->Versions.AddVersion(Version(), TVersionType::Registry, fetch, 0);
        if (Pick(3) == 0)
            app->Versions.AddVersion(L"3.1", TVersionType::Registry, fetch + L" (MajorMinor)", 0);
        const std::wstring folder = L"C:\\Program Files\\" + Word() + L" " + Word() + L"\\";
        for (int i = 0; i < executables; ++i) {
            const std::wstring file = folder + Word() + std::to_wstring(i) + L".exe";
            const int points = i == 0 ? 2 : 0;
            app->Versions.AddVersion(Version(), TVersionType::FileVersion1, file, points);
            app->Versions.AddVersion(Version(), TVersionType::FileVersion2, file, points);
            app->Versions.AddVersion(Version(), TVersionType::FileVersion3, file, points);
        }
        app->MakeNiceName();
        return app;
    }

  private:
    std::mt19937 random_;
};

void BM_MakeNiceName(benchmark::State& state) {
    Generator generator(1);
    std::vector<std::unique_ptr<TApp>> apps;
    for (int i = 0; i < 1000; ++i) {
        auto app = std::make_unique<TApp>(L"Software\\x", L"x");
        app->regDisplayName = generator.DisplayName();
        apps.push_back(std::move(app));
    }
    std::size_t next = 0;
    for (auto _ : state) {
        TApp& app = *apps[next++ % apps.size()];
        app.MakeNiceName();
        benchmark::DoNotOptimize(app.niceName);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_MakeNiceName);

void BM_AddVersion(benchmark::State& state) {
    Generator generator(2);
    std::vector<std::wstring> texts;
    for (int i = 0; i < 1000; ++i) texts.push_back(generator.Version());
    const std::wstring fetch = L"C:\\Program Files\\Acme Photo Studio\\bin\\studio.exe";
    auto versions = std::make_unique<TVersions>();
    std::size_t next = 0;
    for (auto _ : state) {
        versions->AddVersion(texts[next++ % texts.size()], TVersionType::FileVersion2, fetch, 0);
        if (versions->Count() >= 90) {
            state.PauseTiming();
            versions = std::make_unique<TVersions>();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_AddVersion);

// The chain over records of a given number of executables, three candidates
// each: the time per candidate must not grow with the number of candidates.
void BM_PruningChain(benchmark::State& state) {
    const int executables = static_cast<int>(state.range(0));
    Generator generator(3);
    std::int64_t candidates = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::unique_ptr<TApp>> apps;
        for (int i = 0; i < 64; ++i) apps.push_back(generator.Record(executables));
        state.ResumeTiming();
        for (auto& app : apps) {
            app->Versions.RunPruningChain(app->regDisplayName.str());
            candidates += static_cast<std::int64_t>(app->Versions.Count());
        }
        state.PauseTiming();
        apps.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(candidates);
    state.counters["candidates_per_record"] =
        static_cast<double>(candidates) / static_cast<double>(state.iterations() * 64);
}
BENCHMARK(BM_PruningChain)->Arg(0)->Arg(3)->Arg(10)->Arg(30)->Arg(100)->Arg(300);

// Escaping grows with the text: bytes per second stay flat from 255
// characters to a megabyte.
void BM_XmlEscape(benchmark::State& state) {
    const std::size_t length = static_cast<std::size_t>(state.range(0));
    std::wstring text;
    const std::wstring piece = L"AT&T Tools <Beta> Bob's \"Café\"\tÜ € ";
    while (text.size() < length) text += piece;
    text.resize(length);
    for (auto _ : state) benchmark::DoNotOptimize(XmlEscape(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}
BENCHMARK(BM_XmlEscape)->Arg(255)->Arg(4096)->Arg(65536)->Arg(1 << 20);

// The run's sort of its records' keys by display name, at the three machine
// sizes.
void BM_SortByNiceName(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Generator generator(4);
    std::vector<std::wstring> keys;
    for (int i = 0; i < count; ++i) keys.push_back(NiceNameSortKey(*generator.Record(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::wstring> sorted = keys;
        state.ResumeTiming();
        StableSortPumpingMessages(sorted, NiceNameKeyLess);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SortByNiceName)->Arg(300)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The four renderings of records after the chain, as the run makes them.
void BM_Render(benchmark::State& state) {
    Generator generator(5);
    std::vector<std::unique_ptr<TApp>> apps;
    for (int i = 0; i < 256; ++i) {
        apps.push_back(generator.Record(static_cast<int>(generator.Pick(8))));
        apps.back()->Versions.RunPruningChain(apps.back()->regDisplayName.str());
    }
    std::size_t next = 0;
    TextLines xml, groupA, groupB, payload;
    for (auto _ : state) {
        const TApp& app = *apps[next++ % apps.size()];
        benchmark::DoNotOptimize(ChosenVersion(app));
        AppToXml(app, xml);
        AppToHtmlList(app, groupA, groupB, true);
        AppPayloadLine(app, payload);
        if (xml.size() > 100000) {
            state.PauseTiming();
            xml.clear();
            groupA.clear();
            groupB.clear();
            payload.clear();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_Render);

}  // namespace
}  // namespace kelvra

BENCHMARK_MAIN();
