// A store of caches that starts empty in every test and ages items by a clock the test moves.
#pragma once

#include "platform/cache/CCacheStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace cachetest {

inline std::atomic<int64_t> g_nFakeNanos{0};

inline CacheClock::time_point FakeNow() {
    return CacheClock::time_point(std::chrono::nanoseconds(g_nFakeNanos.load()));
}

template <class TDuration> void SetFakeTime(TDuration duration) {
    g_nFakeNanos.store(std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count());
}

class CFreshStoreTest : public testing::Test {
protected:
    void SetUp() override {
        CCacheStore::Instance().Reset();
        SetFakeTime(std::chrono::nanoseconds(0));
        CCacheStore::SetClock(&FakeNow);
    }
    void TearDown() override {
        CCacheStore::SetClock(nullptr);
        CCacheStore::Instance().Reset();
    }
    CCacheStore& Store() { return CCacheStore::Instance(); }
};

} // namespace cachetest
