// The settings store: loading a file of 1,000 items (the work of every reload) beside pugixml parsing the
// same file alone, and a lookup by setting ID, bare and through the settings handler's lock (one and two
// threads), beside a bare ordered-map lookup.
//
// Each load writes its one-line parser verdict to standard error; run with 2>/dev/null.

#include "settings/CHandleSWSettings.h"
#include "settings/CSWSettings.h"
#include "settings/SettingIds.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

constexpr int kItems = 1000;

// 800 general items and 4 groups of 50, all distinct IDs per section.
const std::string& ThousandItemFile() {
    static const std::string s_csPath = [] {
        const std::string csPath = (std::filesystem::temp_directory_path() /
                                    ("bench_settings_" + std::to_string(::getpid()) + ".xml"))
                                       .string();
        std::ofstream file(csPath, std::ios::trunc);
        file << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<SETTINGS>\n  <GENERALSETTINGS>\n";
        int nWritten = 0;
        for (int n = 0; n < 800; ++n, ++nWritten)
            file << "    <ITEM ID=\"" << 1000 + n << "\" DESCR=\"General setting " << n << "\" VALUE=\""
                 << n * 7 << "\"/>\n";
        file << "  </GENERALSETTINGS>\n";
        for (int g = 0; g < 4; ++g) {
            file << "  <SETTING ID=\"" << g << "\" DESCR=\"Group " << g << "\">\n    <ITEMS>\n";
            for (int n = 0; n < 50; ++n, ++nWritten)
                file << "      <ITEM ID=\"" << 1000 + n * 3 << "\" DESCR=\"Group setting\" VALUE=\"text " << n
                     << "\"/>\n";
            file << "    </ITEMS>\n  </SETTING>\n";
        }
        file << "</SETTINGS>\n";
        static_assert(kItems == 800 + 4 * 50);
        std::atexit([] { std::filesystem::remove(ThousandItemFile()); });
        return csPath;
    }();
    return s_csPath;
}

void BM_SWSettingsLoad1000(benchmark::State& state) {
    const std::string& csPath = ThousandItemFile();
    CSWSettings settings;
    for (auto _ : state) {
        HRESULT hr = settings.LoadSettings(csPath);
        benchmark::DoNotOptimize(hr);
        if (FAILED(hr))
            state.SkipWithError("load failed");
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SWSettingsLoad1000)->Unit(benchmark::kMicrosecond);

// Peer: the XML parser alone on the same file, the floor of any load.
void BM_PugiXmlParse1000(benchmark::State& state) {
    const std::string& csPath = ThousandItemFile();
    for (auto _ : state) {
        pugi::xml_document document;
        pugi::xml_parse_result result = document.load_file(csPath.c_str());
        benchmark::DoNotOptimize(result.status);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_PugiXmlParse1000)->Unit(benchmark::kMicrosecond);

// The handler over the same store, as requests reach it: every lookup takes the handler's lock.
class CBenchHandler : public CHandleSWSettings {
public:
    CBenchHandler() { m_swSettings.LoadSettings(ThousandItemFile()); }
};

CBenchHandler& LoadedHandler() {
    static CBenchHandler* s_pHandler = new CBenchHandler();
    return *s_pHandler;
}

void BM_HandlerGetSettingFromID(benchmark::State& state) {
    CBenchHandler& handler = LoadedHandler();
    DWORD dwId = 1000 + static_cast<DWORD>(state.thread_index());
    for (auto _ : state) {
        int32_t nValue = 0;
        bool bFound = handler.GetSettingFromID(dwId, nValue, 2);
        benchmark::DoNotOptimize(bFound);
        benchmark::DoNotOptimize(nValue);
        dwId = dwId >= 1148 ? 1000 : dwId + 2;
    }
}
BENCHMARK(BM_HandlerGetSettingFromID)->Threads(1)->Threads(2)->UseRealTime();

CSWSettings& LoadedSettings() {
    static CSWSettings* s_pSettings = [] {
        auto* p = new CSWSettings();
        p->LoadSettings(ThousandItemFile());
        return p;
    }();
    return *s_pSettings;
}

// Integer lookups of IDs in group 2 that fall back to the general section two times out of three.
void BM_GetSettingFromIDInteger(benchmark::State& state) {
    const CSWSettings& settings = LoadedSettings();
    int32_t nId = 1000;
    for (auto _ : state) {
        int32_t nValue = 0;
        bool bFound = settings.GetSettingFromID(nId, nValue, 2);
        benchmark::DoNotOptimize(bFound);
        benchmark::DoNotOptimize(nValue);
        nId = nId == 1149 ? 1000 : nId + 1;
    }
}
BENCHMARK(BM_GetSettingFromIDInteger);

void BM_GetSettingFromIDText(benchmark::State& state) {
    const CSWSettings& settings = LoadedSettings();
    int32_t nId = 1000;
    std::string csValue;
    for (auto _ : state) {
        bool bFound = settings.GetSettingFromID(nId, csValue, 2);
        benchmark::DoNotOptimize(bFound);
        benchmark::DoNotOptimize(csValue.data());
        nId = nId == 1149 ? 1000 : nId + 1;
    }
}
BENCHMARK(BM_GetSettingFromIDText);

// Baseline: the two ordered-map finds a fallback lookup needs, without any value conversion.
void BM_TwoMapFindsBaseline(benchmark::State& state) {
    const CSWSettings& settings = LoadedSettings();
    const CSWSettings::CItemMap& mapGroup = *settings.GetGroups().at(2)->spItems;
    const CSWSettings::CItemMap& mapGeneral = settings.GetGeneralItems();
    int32_t nId = 1000;
    for (auto _ : state) {
        auto it = mapGroup.find(nId);
        const CBasicSettings::TAGITEM* pItem =
            it != mapGroup.end() ? &it->second : &mapGeneral.find(nId)->second;
        benchmark::DoNotOptimize(pItem);
        nId = nId == 1149 ? 1000 : nId + 1;
    }
}
BENCHMARK(BM_TwoMapFindsBaseline);

} // namespace

BENCHMARK_MAIN();
