// GetADProperty as the language detection calls it: a value the "ADUserConfig" cache holds, and one it does
// not (a search of the local slapd each time: connect, bind, search, unbind), on one and two threads, beside
// a find in an unordered map under one mutex with the value copied out, measured in the same run.
#include "settings/CWKGeneralSettings.h"
#include "tests/directory/SlapdFixture.h"

#include <benchmark/benchmark.h>

#include <mutex>
#include <string>
#include <unordered_map>

namespace {

slapdtest::CSlapd& Directory() {
    static slapdtest::CSlapd s_slapd;
    return s_slapd;
}

CWKGeneralSettings& Settings() {
    static CWKGeneralSettings* s_pSettings = [] {
        auto* pSettings = new CWKGeneralSettings();
        pSettings->GetADUserConfigCache().Init();
        pSettings->GetADUserConfigCache().CreateCache(AD_USER_CONFIG_CACHE_NAME, 3000, 30);
        return pSettings;
    }();
    return *s_pSettings;
}

void GetADPropertyCached(benchmark::State& state) {
    Directory();
    std::string csValue;
    Settings().GetADProperty("WENDRAKE\\jsmith", "UserContext=abc", USER_CULTURE_ATTRIBUTE, csValue, "", "");
    for (auto _ : state) {
        Settings().GetADProperty("WENDRAKE\\jsmith", "UserContext=abc", USER_CULTURE_ATTRIBUTE, csValue, "",
                                 "");
        benchmark::DoNotOptimize(csValue);
    }
    if (csValue != "de-DE")
        state.SkipWithError("the directory did not answer");
}

void GetADPropertyUncached(benchmark::State& state) {
    if (!Directory().IsRunning()) {
        state.SkipWithError("slapd did not start");
        return;
    }
    std::string csValue;
    // A mailbox lookup is never cached: every call searches the directory.
    for (auto _ : state) {
        Settings().GetADProperty("", "", "sAMAccountName", csValue, "john.smith@wendrake.test", "");
        benchmark::DoNotOptimize(csValue);
    }
    if (csValue != "jsmith")
        state.SkipWithError("the directory did not answer");
}

void MapUnderMutex(benchmark::State& state) {
    static std::mutex s_mutex;
    static const std::unordered_map<std::string, std::string> s_map = {
        {"jsmith|abc|msExchUserCulture", "de-DE"}, {"mdubois|x|msExchUserCulture", "fr-CA"}};
    std::string csValue;
    for (auto _ : state) {
        const std::string csKey = std::string("jsmith") + "|" + "abc" + "|" + USER_CULTURE_ATTRIBUTE;
        std::lock_guard<std::mutex> lock(s_mutex);
        auto it = s_map.find(csKey);
        if (it != s_map.end())
            csValue = it->second;
        benchmark::DoNotOptimize(csValue);
    }
}

BENCHMARK(GetADPropertyCached)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(MapUnderMutex)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(GetADPropertyUncached)->Threads(1)->Threads(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
