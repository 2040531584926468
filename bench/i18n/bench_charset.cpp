// The page charset's conversions of localized texts: escaped UTF-8 and conversion into a code page (1252
// and 932), each beside iconv's own UTF-16 to UTF-8 conversion of the same text in the same run. Texts of
// 32 units (a dialog line) and 512 units (1 KB of UTF-16); throughput counts the UTF-16 input bytes.
// Also: a converter opened and closed for every call, the cost that the per-thread descriptors save.

#include "i18n/CPageCharSet.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>

namespace {

const std::u16string WESTERN_SAMPLE =
    u"Sie verlassen gerade die Sitzung. M\u00F6chten Sie sich abmelden, bevor Sie "
    u"\u00ABweiter\u00BB w\u00E4hlen? Ihre \u00C4nderungen \u2013 5 \u20AC. ";
const std::u16string JAPANESE_SAMPLE =
    u"\u30BB\u30C3\u30B7\u30E7\u30F3\u3092\u7D42\u4E86\u3057\u307E\u3059\u304B"
    u"\uFF1F Outlook Web Access \u304B\u3089\u30ED\u30B0\u30AA\u30D5\u3057\u3066"
    u"\u304F\u3060\u3055\u3044\u3002";

std::u16string Repeat(const std::u16string& wsSample, size_t nUnits) {
    std::u16string wsText;
    while (wsText.size() < nUnits)
        wsText += wsSample;
    wsText.resize(nUnits);
    return wsText;
}

const CPageCharSet& CharSet() {
    static const CPageCharSet* s_pCharSet = [] {
        auto* pCharSet = new CPageCharSet();
        pCharSet->Init("Wendrake", "WK_ServiceWorker.so", "WK_Res64");
        return pCharSet;
    }();
    return *s_pCharSet;
}

void SetThroughput(benchmark::State& state, const std::u16string& wsText) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wsText.size() * sizeof(char16_t)));
}

void BM_EncodeUtf8Escaped(benchmark::State& state, const std::u16string& wsSample) {
    const std::u16string wsText = Repeat(wsSample, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::string csOut = EncodeUtf8Escaped(wsText);
        benchmark::DoNotOptimize(csOut.data());
    }
    SetThroughput(state, wsText);
}

void BM_ConvertToCharSet(benchmark::State& state, const std::u16string& wsSample, const char* pszCharSet) {
    const std::u16string wsText = Repeat(wsSample, static_cast<size_t>(state.range(0)));
    std::string csOut;
    if (!CharSet().ConvertToCharSet(wsText, pszCharSet, csOut)) {
        state.SkipWithError("conversion failed");
        return;
    }
    for (auto _ : state) {
        CharSet().ConvertToCharSet(wsText, pszCharSet, csOut);
        benchmark::DoNotOptimize(csOut.data());
    }
    SetThroughput(state, wsText);
}

// One iconv conversion into a fresh output string, as the module's calls return one.
bool IconvConvert(iconv_t cd, const std::u16string& wsText, std::string& csOut) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    csOut.resize(wsText.size() * 3);
    char* pIn = reinterpret_cast<char*>(const_cast<char16_t*>(wsText.data()));
    size_t cbIn = wsText.size() * sizeof(char16_t);
    char* pOut = csOut.data();
    size_t cbOut = csOut.size();
    const bool bDone = ::iconv(cd, &pIn, &cbIn, &pOut, &cbOut) != static_cast<size_t>(-1);
    csOut.resize(csOut.size() - cbOut);
    return bDone;
}

void BM_IconvUtf16ToUtf8(benchmark::State& state, const std::u16string& wsSample) {
    const std::u16string wsText = Repeat(wsSample, static_cast<size_t>(state.range(0)));
    iconv_t cd = ::iconv_open("UTF-8", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("no converter");
        return;
    }
    for (auto _ : state) {
        std::string csOut;
        if (!IconvConvert(cd, wsText, csOut))
            state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(csOut.data());
    }
    ::iconv_close(cd);
    SetThroughput(state, wsText);
}

void BM_IconvOpenPerCall(benchmark::State& state, const std::u16string& wsSample, const char* pszCode) {
    const std::u16string wsText = Repeat(wsSample, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        iconv_t cd = ::iconv_open(pszCode, "UTF-16LE");
        std::string csOut;
        if (cd == reinterpret_cast<iconv_t>(-1) || !IconvConvert(cd, wsText, csOut))
            state.SkipWithError("conversion failed");
        else
            ::iconv_close(cd);
        benchmark::DoNotOptimize(csOut.data());
    }
    SetThroughput(state, wsText);
}

} // namespace

BENCHMARK_CAPTURE(BM_IconvUtf16ToUtf8, western, WESTERN_SAMPLE)->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_EncodeUtf8Escaped, western, WESTERN_SAMPLE)->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_ConvertToCharSet, western_1252, WESTERN_SAMPLE, "iso-8859-1")->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_IconvOpenPerCall, western_1252, WESTERN_SAMPLE, "CP1252")->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_IconvUtf16ToUtf8, japanese, JAPANESE_SAMPLE)->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_EncodeUtf8Escaped, japanese, JAPANESE_SAMPLE)->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_ConvertToCharSet, japanese_932, JAPANESE_SAMPLE, "shift_jis")->Arg(32)->Arg(512);
BENCHMARK_CAPTURE(BM_IconvOpenPerCall, japanese_932, JAPANESE_SAMPLE, "CP932")->Arg(32)->Arg(512);
BENCHMARK_MAIN();
