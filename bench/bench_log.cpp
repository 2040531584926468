// The diagnostic log's hot paths: a call with logging off (every component pays it on every request), and
// the shared-memory writer against fprintf of the same lines to a file, measured in the same run.

#include "log/Log.h"
#include "log/LogWriters.h"
#include "platform/CPlatform.h"

#include "bench/CountingAllocator.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <string>

namespace {

std::string g_csFolder;
std::string g_csSectionName;
FILE* g_pBaselineFile = nullptr;
std::atomic<uint64_t> g_nBaselineLines{0};
// Both logs stay bounded: the baseline file starts over at this size, as the circular log does.
constexpr long BASELINE_FILE_LIMIT = 10 * 1024 * 1024;

const char* const LINE_TEXT =
    "[CNotifications::NotifyPreProcHeaders] finished.  Win32 RC=0.  Control Message=<None>";

void BM_LogMessageOff(benchmark::State& state) {
    SetLogLevel(LOG_LEVEL_OFF);
    size_t nBefore = g_nAllocations.load();
    for (auto _ : state)
        LogMessage("[CBench::Off] %s %d %s", "user agent", 42, LINE_TEXT);
    state.counters["allocs_per_call"] =
        static_cast<double>(g_nAllocations.load() - nBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LogMessageOff);

void BM_SharedMemoryWriter(benchmark::State& state) {
    if (state.thread_index() == 0) {
        SetLogSink(&LogSharedMemoryWriter);
        SetLogLevel(LOG_LEVEL_ON);
    }
    int nLine = 0;
    for (auto _ : state)
        LogMessage("[CBench::Shm] %s %d", LINE_TEXT, ++nLine);
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0)
        SetLogLevel(LOG_LEVEL_OFF);
}
BENCHMARK(BM_SharedMemoryWriter)->Threads(1)->Threads(2)->UseRealTime();

// The same line, time stamp and thread number included, formatted by fprintf into a stdio file.
void BM_FprintfBaseline(benchmark::State& state) {
    int nLine = 0;
    for (auto _ : state) {
        CSystemTime st = CPlatform::System().GetLocalTime();
        std::fprintf(g_pBaselineFile,
                     "\r\n%04u/%02u/%02u %02u:%02u:%02u.%03u %4X [WK_ServiceWorker.so] [CBench::Shm] %s %d ",
                     unsigned{st.wYear}, unsigned{st.wMonth}, unsigned{st.wDay}, unsigned{st.wHour},
                     unsigned{st.wMinute}, unsigned{st.wSecond}, unsigned{st.wMilliseconds},
                     static_cast<unsigned>(CPlatform::System().GetCurrentThreadId()), LINE_TEXT, ++nLine);
        if (g_nBaselineLines.fetch_add(1, std::memory_order_relaxed) % 4096 == 0 &&
            std::ftell(g_pBaselineFile) > BASELINE_FILE_LIMIT)
            std::rewind(g_pBaselineFile);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FprintfBaseline)->Threads(1)->Threads(2)->UseRealTime();

// Keeps each run's lines per second, to print the writer against its baseline at the end.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> m_mapRates;
    void ReportRuns(const std::vector<Run>& vRuns) override {
        for (const Run& run : vRuns) {
            auto it = run.counters.find("items_per_second");
            if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
                m_mapRates[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(vRuns);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    g_csFolder = "/tmp/wk_bench_log_" + std::to_string(::getpid());
    std::filesystem::create_directories(g_csFolder);
    const std::string csFileName = "WKBench_" + std::to_string(::getpid()) + ".log";
    g_csSectionName = "Global\\" + csFileName;
    SetLogPath(g_csFolder + "/" + csFileName);
    SetLogLinePrefix("[WK_ServiceWorker.so] ");
    g_pBaselineFile = std::fopen((g_csFolder + "/baseline.log").c_str(), "w");
    if (!g_pBaselineFile)
        return 1;

    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* pszThreads : {"1", "2"}) {
        std::string csSuffix = std::string("/real_time/threads:") + pszThreads;
        double dShm = reporter.m_mapRates["BM_SharedMemoryWriter" + csSuffix];
        double dBaseline = reporter.m_mapRates["BM_FprintfBaseline" + csSuffix];
        if (dShm > 0 && dBaseline > 0)
            std::printf("shared-memory writer / fprintf, %s thread(s): %.0f / %.0f lines/s = %.2f\n",
                        pszThreads, dShm, dBaseline, dShm / dBaseline);
    }

    std::fclose(g_pBaselineFile);
    FlushLog(true);
    CPlatform::SharedMemory().Unlink(g_csSectionName);
    std::error_code ec;
    std::filesystem::remove_all(g_csFolder, ec);
    benchmark::Shutdown();
    return 0;
}
