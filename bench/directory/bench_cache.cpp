// The cache client's get as the user-property lookups make it (mode 3: key, session and property), a hit and
// a miss, on one and two threads, beside the floor of any shared cache: a find in an unordered map under one
// mutex, with the data copied out as a hit does. Compare the items per second: a client that holds one lock
// for every get stops gaining at the second thread.

#include "directory/CBKCache.h"

#include <benchmark/benchmark.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kKeys = 1000;
constexpr const char* kCacheName = "ADUserConfig";
constexpr const char* kSession = "S-1-5-21-3623811015-3361044348-30300820-1013";
constexpr const char* kProperty = "msExchUserCulture";

std::vector<std::string> Keys(const char* pszPrefix) {
    std::vector<std::string> vKeys;
    for (int n = 0; n < kKeys; ++n)
        vKeys.push_back(std::string(pszPrefix) + std::to_string(n) + "@contoso.example");
    return vKeys;
}

const std::vector<std::string>& StoredKeys() {
    static const std::vector<std::string> s_vKeys = Keys("user");
    return s_vKeys;
}

const std::vector<std::string>& AbsentKeys() {
    static const std::vector<std::string> s_vKeys = Keys("stranger");
    return s_vKeys;
}

CBKCache& FilledCache() {
    static CBKCache* s_pCache = [] {
        auto* pCache = new CBKCache();
        pCache->Init();
        pCache->CreateCache(kCacheName, BKCACHE_DEFAULT_MAX_ITEMS, BKCACHE_DEFAULT_LIFETIME_MINUTES);
        for (const std::string& csKey : StoredKeys())
            pCache->AddItem(kCacheName, csKey, "en-US", kSession, kProperty, BKCACHE_MODE_PROPERTY);
        return pCache;
    }();
    return *s_pCache;
}

void RunGets(benchmark::State& state, const std::vector<std::string>& vKeys, bool bExpectHit) {
    CBKCache& cache = FilledCache();
    size_t nKey = static_cast<size_t>(state.thread_index()) * 397 % vKeys.size();
    std::string csData;
    for (auto _ : state) {
        bool bHit =
            cache.GetItem(kCacheName, vKeys[nKey], csData, kSession, kProperty, BKCACHE_MODE_PROPERTY);
        if (bHit != bExpectHit)
            state.SkipWithError("unexpected cache answer");
        benchmark::DoNotOptimize(csData);
        nKey = nKey + 1 == vKeys.size() ? 0 : nKey + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CacheGetHit(benchmark::State& state) {
    RunGets(state, StoredKeys(), true);
}
BENCHMARK(BM_CacheGetHit)->Threads(1)->Threads(2)->UseRealTime();

void BM_CacheGetMiss(benchmark::State& state) {
    RunGets(state, AbsentKeys(), false);
}
BENCHMARK(BM_CacheGetMiss)->Threads(1)->Threads(2)->UseRealTime();

// Baseline: the same keys in one map behind one lock.
struct CLockedMap {
    std::mutex lock;
    std::unordered_map<std::string, std::string> map;
};

CLockedMap& FilledMap() {
    static CLockedMap* s_pMap = [] {
        auto* pMap = new CLockedMap();
        for (const std::string& csKey : StoredKeys())
            pMap->map.emplace(csKey, "en-US");
        return pMap;
    }();
    return *s_pMap;
}

void RunMapFinds(benchmark::State& state, const std::vector<std::string>& vKeys) {
    CLockedMap& locked = FilledMap();
    size_t nKey = static_cast<size_t>(state.thread_index()) * 397 % vKeys.size();
    std::string csData;
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(locked.lock);
            auto it = locked.map.find(vKeys[nKey]);
            if (it != locked.map.end())
                csData = it->second;
        }
        benchmark::DoNotOptimize(csData);
        nKey = nKey + 1 == vKeys.size() ? 0 : nKey + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MutexMapFindHit(benchmark::State& state) {
    RunMapFinds(state, StoredKeys());
}
BENCHMARK(BM_MutexMapFindHit)->Threads(1)->Threads(2)->UseRealTime();

void BM_MutexMapFindMiss(benchmark::State& state) {
    RunMapFinds(state, AbsentKeys());
}
BENCHMARK(BM_MutexMapFindMiss)->Threads(1)->Threads(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
