#include "directory/CBKCache.h"

#include "tests/directory/CacheTestSupport.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

class CacheConcurrency : public cachetest::CFreshStoreTest {
protected:
    // Runs fnWork(thread number) on cThreads threads that start together.
    template <class TWork> static void RunTogether(int cThreads, TWork fnWork) {
        std::atomic<bool> bGo{false};
        std::vector<std::thread> vThreads;
        for (int n = 0; n < cThreads; ++n)
            vThreads.emplace_back([&, n] {
                while (!bGo.load())
                    std::this_thread::yield();
                fnWork(n);
            });
        bGo.store(true);
        for (std::thread& thread : vThreads)
            thread.join();
    }
};

TEST_F(CacheConcurrency, ManyThreadsAddingBeyondTheMaximumNeverExceedIt) {
    CBKCache cache;
    ASSERT_TRUE(cache.Init());
    for (int32_t nMax : {50, 1000}) {
        const std::string csName = "cache" + std::to_string(nMax);
        ASSERT_TRUE(cache.CreateCache(csName, nMax, 30));
        std::atomic<bool> bDone{false};
        std::atomic<size_t> cMostSeen{0};
        std::thread watcher([&] {
            while (!bDone.load())
                cMostSeen.store(std::max(cMostSeen.load(), Store().ItemCount(csName)));
        });
        std::atomic<int> cFailedAdds{0}, cWrongData{0}, cHits{0};
        const int cPerThread = nMax * 3 / 2;
        RunTogether(8, [&](int nThread) {
            std::minstd_rand random(static_cast<unsigned>(nThread));
            for (int n = 0; n < cPerThread; ++n) {
                const std::string csKey = std::to_string(nThread) + "-" + std::to_string(n);
                if (!cache.AddItem(csName, csKey, "data " + csKey, "session", "property",
                                   BKCACHE_MODE_PROPERTY))
                    ++cFailedAdds;
                const std::string csEarlier =
                    std::to_string(nThread) + "-" + std::to_string(random() % (n + 1));
                std::string csData;
                if (cache.GetItem(csName, csEarlier, csData, "session", "property", BKCACHE_MODE_PROPERTY)) {
                    ++cHits;
                    cWrongData += csData != "data " + csEarlier;
                }
            }
        });
        bDone.store(true);
        watcher.join();
        EXPECT_EQ(cFailedAdds.load(), 0);
        EXPECT_EQ(cWrongData.load(), 0);
        EXPECT_GT(cHits.load(), 0);
        EXPECT_LE(cMostSeen.load(), static_cast<size_t>(nMax));
        EXPECT_EQ(Store().ItemCount(csName), static_cast<size_t>(nMax));
    }
}

TEST_F(CacheConcurrency, CreatingOneNameTogetherMakesOneCache) {
    std::atomic<int> cCreated{0}, cAccepted{0};
    RunTogether(8, [&](int nThread) {
        HRESULT hr = Store().CreateCache("one", 10 + nThread, 30);
        cCreated += hr == S_OK;
        cAccepted += hr == S_FALSE;
        // Every thread's own cache as well, beside the others' creations.
        EXPECT_EQ(Store().CreateCache("own" + std::to_string(nThread), 5, 30), S_OK);
        EXPECT_EQ(Store().Add("own" + std::to_string(nThread), "k", "v"), S_OK);
    });
    EXPECT_EQ(cCreated.load(), 1);
    EXPECT_EQ(cAccepted.load(), 7);
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(Store().ItemCount("own" + std::to_string(n)), 1u);
}

// Threads replace shared keys while the clock moves: a hit always gives data written for its own key.
TEST_F(CacheConcurrency, SharedKeysAreReplacedAndAgeWithoutMixing) {
    ASSERT_EQ(Store().CreateCache("shared", 16, 2), S_OK);
    std::atomic<bool> bDone{false};
    std::thread clock([&] {
        for (int nMinute = 1; !bDone.load(); ++nMinute) {
            cachetest::SetFakeTime(std::chrono::minutes(nMinute));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::atomic<int> cWrongData{0};
    RunTogether(4, [&](int nThread) {
        std::minstd_rand random(static_cast<unsigned>(nThread) + 1);
        for (int n = 0; n < 3000; ++n) {
            const std::string csKey = "k" + std::to_string(random() % 24);
            Store().Add("shared", csKey, csKey + ":" + std::to_string(nThread) + ":" + std::to_string(n));
            std::optional<std::string> data;
            const std::string csOther = "k" + std::to_string(random() % 24);
            if (Store().Get("shared", csOther, data) == S_OK)
                cWrongData += data->rfind(csOther + ":", 0) != 0;
        }
    });
    bDone.store(true);
    clock.join();
    EXPECT_EQ(cWrongData.load(), 0);
    EXPECT_LE(Store().ItemCount("shared"), 16u);
    cachetest::SetFakeTime(std::chrono::nanoseconds(cachetest::g_nFakeNanos.load()) +
                           std::chrono::minutes(2));
    std::optional<std::string> data;
    for (int n = 0; n < 24; ++n)
        EXPECT_EQ(Store().Get("shared", "k" + std::to_string(n), data), S_FALSE);
}

} // namespace
