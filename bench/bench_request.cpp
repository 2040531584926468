// One request through the entry point (its five notifications) for a user in 50 groups, with logging off:
// time and allocations per request. Beside it, what copying the host's identity into every notification
// costs by itself, the way the module ran before it shared the host's identity.

#include "filter/EntryPoints.h"
#include "log/Log.h"
#include "platform/ThreadIdentity.h"

#include "bench/CountingAllocator.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

constexpr DWORD NOTIFICATIONS[] = {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE,
                                   SF_NOTIFY_SEND_RESPONSE, SF_NOTIFY_SEND_RAW_DATA,
                                   SF_NOTIFY_END_OF_REQUEST};

std::shared_ptr<const CRequestIdentity> UserInFiftyGroups() {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "firstname.lastname";
    spIdentity->csDomain = "EXAMPLE-CORPORATION";
    spIdentity->vUserSid.assign(28, 1);
    spIdentity->vGroupSids.assign(50, std::vector<BYTE>(28, 2));
    return spIdentity;
}

void PerRequestCounter(benchmark::State& state, size_t nBefore) {
    state.counters["allocs_per_request"] =
        static_cast<double>(g_nAllocations.load() - nBefore) / static_cast<double>(state.iterations());
}

void BM_RequestOfFiveNotifications(benchmark::State& state) {
    SetLogLevel(LOG_LEVEL_OFF);
    CDLLContext context;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    context.m_spOutboundContext = std::make_shared<COutboundContext>();
    context.m_spRequestIdentity = UserInFiftyGroups();
    HTTP_FILTER_PREPROC_HEADERS headers{};
    context.m_pNotification = &headers;
    context.m_dwNotificationType = SF_NOTIFY_END_OF_REQUEST;
    HttpFilterProc(&context); // the settings object and the thread's slot come with the first call
    const size_t nBefore = g_nAllocations.load();
    for (auto _ : state) {
        for (DWORD dwType : NOTIFICATIONS) {
            context.m_dwNotificationType = dwType;
            benchmark::DoNotOptimize(HttpFilterProc(&context));
        }
    }
    PerRequestCounter(state, nBefore);
}
BENCHMARK(BM_RequestOfFiveNotifications);

void BM_BaselineCopyTheIdentityPerNotification(benchmark::State& state) {
    const auto spIdentity = UserInFiftyGroups();
    const size_t nBefore = g_nAllocations.load();
    for (auto _ : state) {
        for (size_t i = 0; i < std::size(NOTIFICATIONS); ++i) {
            auto spCopy = std::make_shared<const CRequestIdentity>(*spIdentity);
            benchmark::DoNotOptimize(spCopy.get());
        }
    }
    PerRequestCounter(state, nBefore);
}
BENCHMARK(BM_BaselineCopyTheIdentityPerNotification);

} // namespace

BENCHMARK_MAIN();
