// Choosing a language from typical Accept-Language headers, beside a plain caseless prefix scan of the
// same header (the least any detection must do).
#include "i18n/CLanguageDetection.h"

#include <benchmark/benchmark.h>

#include <strings.h>

namespace {

const char* const g_apszHeaders[] = {
    "en-US,en;q=0.9",
    "fr-CA,fr;q=0.8,en;q=0.6",
    "de-DE,de;q=0.9,en-US;q=0.8,en;q=0.7",
    "zh-HK,zh-TW;q=0.9,zh;q=0.8,en;q=0.6",
    "ko-KR,ko;q=0.9,en-US;q=0.8,en;q=0.7", // no supported language: every item is tried
};

void DetectLanguageTypical(benchmark::State& state) {
    CLanguageDetection languages;
    languages.InitCultureTable();
    const std::string csHeader = g_apszHeaders[state.range(0)];
    std::string csLanguage;
    LANGID wCulture = 0;
    for (auto _ : state) {
        bool bFound = languages.DetectLanguage(csHeader, csLanguage, wCulture);
        benchmark::DoNotOptimize(bFound);
        benchmark::DoNotOptimize(csLanguage.data());
    }
    state.SetLabel(csHeader);
}
BENCHMARK(DetectLanguageTypical)->DenseRange(0, 4);

// Baseline: compare the header's start with each of the 26 prefixes, nothing else.
void PrefixScanBaseline(benchmark::State& state) {
    CLanguageDetection languages;
    const std::string csHeader = g_apszHeaders[state.range(0)];
    for (auto _ : state) {
        const char* pszMatch = nullptr;
        for (const auto& prefix : languages.GetPrefixes()) {
            if (::strncasecmp(csHeader.c_str(), prefix.first.c_str(), prefix.first.size()) == 0) {
                pszMatch = prefix.second.c_str();
                break;
            }
        }
        benchmark::DoNotOptimize(pszMatch);
    }
    state.SetLabel(csHeader);
}
BENCHMARK(PrefixScanBaseline)->DenseRange(0, 4);

} // namespace

BENCHMARK_MAIN();
