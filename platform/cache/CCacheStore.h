// The process-wide store behind the in-process cache component: every component instance is a thin handle
// onto these named caches.
//
// Rules of the store:
// - A cache name is created once and lives until Reset. CreateCache on an existing name succeeds with
//   S_FALSE and leaves that cache as it is: its maximum and lifetime are those of the first creation (the
//   four caches of a worker are created at its start, and a second worker in the process shares them).
// - A maximum or lifetime of 0 or less, or an empty name, is refused with E_INVALIDARG and creates nothing.
// - The lifetime is in minutes (lifetimes beyond a century count as a century). An item is dropped once its
//   age, counted from its last add, reaches the lifetime. Adding an existing key replaces its data and
//   restarts its age.
// - A cache never holds more than its maximum, at any moment. It is split into shards, each with its own
//   lock and an equal share of the maximum; a full shard drops its expired items, then its least recently
//   used one (a get counts as a use). A cache of fewer than 128 items is one shard, so exact LRU; a larger
//   one is LRU within each shard.
// - Expired items are dropped when a get finds them, from the LRU end when an add needs room, and by a sweep
//   of the shard during an add once a lifetime has passed since its last sweep.
// - Get of an item the cache does not hold: S_FALSE and no value. Add or get on an unknown cache name:
//   CACHE_E_UNKNOWN_CACHE. Out of memory: E_OUTOFMEMORY. No exception leaves the store.
#pragma once

#include "platform/WinTypes.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

using CacheClock = std::chrono::steady_clock;
typedef CacheClock::time_point (*PFN_CACHE_CLOCK)();

// No cache of that name (ERROR_NOT_FOUND as an HRESULT).
constexpr HRESULT CACHE_E_UNKNOWN_CACHE = HRESULT_FROM_WIN32(1168);

constexpr size_t CACHE_MAX_SHARDS = 16;
constexpr int32_t CACHE_MIN_SHARD_ITEMS = 64;
constexpr int32_t CACHE_MAX_LIFETIME_MINUTES = 100 * 366 * 24 * 60;

// One item key from its parts: the number of parts, then each part's length before its bytes, so that
// distinct part lists never give the same key ("a|b" + "c" differs from "a" + "b|c", ("k") from ("k", "")).
std::string ComposeCacheKey(std::initializer_list<std::string_view> parts);

class CNamedCache;

class CCacheStore {
public:
    static CCacheStore& Instance();

    HRESULT CreateCache(const std::string& csName, int32_t nMaxItems, int32_t nLifetimeMinutes);
    // The key is a composed key (ComposeCacheKey).
    HRESULT Add(const std::string& csName, const std::string& csKey, const std::string& csData);
    // S_OK with the data, or S_FALSE with no value.
    HRESULT Get(const std::string& csName, const std::string& csKey, std::optional<std::string>& csData);

    // A cache's limits as created; false for an unknown name.
    bool GetLimits(const std::string& csName, int32_t& nMaxItems, int32_t& nLifetimeMinutes) const;
    // The items a cache holds now, expired ones not yet dropped included; 0 for an unknown name.
    size_t ItemCount(const std::string& csName) const;
    // The number of shards of a cache; 0 for an unknown name.
    size_t ShardCount(const std::string& csName) const;

    // Drops every cache and frees its memory. For tests and for the end of the process; no other operation
    // of the store may run at the same time. The store stays usable.
    void Reset();

    // The clock ages are measured with; null puts the steady clock back. For tests.
    static void SetClock(PFN_CACHE_CLOCK pfnClock);
    static CacheClock::time_point Now();

private:
    CNamedCache* Find(std::string_view svName) const;

    // Caches are only ever prepended and never unlinked while the store is in use, so lookups read the list
    // without a lock; creation takes m_createLock.
    std::atomic<CNamedCache*> m_pFirst{nullptr};
    std::mutex m_createLock;
};
