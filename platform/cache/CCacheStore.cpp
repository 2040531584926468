#include "platform/cache/CCacheStore.h"

#include "platform/Immortal.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <iterator>
#include <list>
#include <memory>
#include <new>
#include <unordered_map>

namespace {

std::atomic<PFN_CACHE_CLOCK> g_pfnClock{nullptr};

struct CEntry {
    std::string csKey;
    std::string csData;
    size_t nHash;
    CacheClock::time_point tAdded;
};

// The index keys view the key text inside the list node, which never moves, and carry the hash computed
// before the lock was taken.
struct CKeyRef {
    std::string_view svKey;
    size_t nHash;
};
struct CKeyRefHash {
    size_t operator()(const CKeyRef& ref) const noexcept { return ref.nHash; }
};
struct CKeyRefEqual {
    bool operator()(const CKeyRef& a, const CKeyRef& b) const noexcept { return a.svKey == b.svKey; }
};

typedef std::list<CEntry> CEntryList;

// One lock's worth of a cache. Nodes are made and destroyed outside the lock: an add brings its node in a
// list of one, and dropped nodes leave in a list the caller destroys after unlocking.
class alignas(64) CShard {
public:
    void Configure(size_t cCapacity, CacheClock::duration lifetime, CacheClock::time_point tNow) {
        m_cCapacity = cCapacity;
        m_lifetime = lifetime;
        m_tLastSweep = tNow;
    }

    void Add(CEntryList& fresh, CEntryList& dropped) {
        const size_t nHash = fresh.front().nHash;
        const CacheClock::time_point tNow = fresh.front().tAdded;
        std::lock_guard<std::mutex> guard(m_lock);
        auto itFound = m_index.find(CKeyRef{fresh.front().csKey, nHash});
        if (itFound != m_index.end()) {
            // The old data leaves with the caller's node.
            CEntryList::iterator itEntry = itFound->second;
            itEntry->csData.swap(fresh.front().csData);
            itEntry->tAdded = tNow;
            m_lru.splice(m_lru.begin(), m_lru, itEntry);
            return;
        }
        if (tNow - m_tLastSweep >= m_lifetime)
            SweepLocked(tNow, dropped);
        while (!m_lru.empty() && IsExpired(m_lru.back(), tNow))
            DropLocked(std::prev(m_lru.end()), dropped);
        while (m_index.size() >= m_cCapacity && !m_lru.empty())
            DropLocked(std::prev(m_lru.end()), dropped);
        m_lru.splice(m_lru.begin(), fresh);
        try {
            m_index.emplace(CKeyRef{m_lru.front().csKey, nHash}, m_lru.begin());
        } catch (...) {
            fresh.splice(fresh.begin(), m_lru, m_lru.begin());
            throw;
        }
    }

    bool Get(std::string_view svKey, size_t nHash, CacheClock::time_point tNow,
             std::optional<std::string>& data, CEntryList& dropped) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto itFound = m_index.find(CKeyRef{svKey, nHash});
        if (itFound == m_index.end())
            return false;
        CEntryList::iterator itEntry = itFound->second;
        if (IsExpired(*itEntry, tNow)) {
            DropLocked(itEntry, dropped);
            return false;
        }
        data.emplace(itEntry->csData);
        m_lru.splice(m_lru.begin(), m_lru, itEntry);
        return true;
    }

    size_t Count() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_index.size();
    }

private:
    // A future time (a clock set back) is age zero.
    bool IsExpired(const CEntry& entry, CacheClock::time_point tNow) const {
        return tNow - entry.tAdded >= m_lifetime;
    }

    void DropLocked(CEntryList::iterator itEntry, CEntryList& dropped) {
        m_index.erase(CKeyRef{itEntry->csKey, itEntry->nHash});
        dropped.splice(dropped.end(), m_lru, itEntry);
    }

    void SweepLocked(CacheClock::time_point tNow, CEntryList& dropped) {
        for (auto it = m_lru.begin(); it != m_lru.end();) {
            auto itNext = std::next(it);
            if (IsExpired(*it, tNow))
                DropLocked(it, dropped);
            it = itNext;
        }
        m_tLastSweep = tNow;
    }

    std::mutex m_lock;
    CEntryList m_lru; // most recently used first
    std::unordered_map<CKeyRef, CEntryList::iterator, CKeyRefHash, CKeyRefEqual> m_index;
    size_t m_cCapacity = 1;
    CacheClock::duration m_lifetime{};
    CacheClock::time_point m_tLastSweep{};
};

size_t ShardCountFor(int32_t nMaxItems) {
    return std::clamp<size_t>(static_cast<size_t>(nMaxItems / CACHE_MIN_SHARD_ITEMS), 1, CACHE_MAX_SHARDS);
}

} // namespace

class CNamedCache {
public:
    CNamedCache(const std::string& csName, int32_t nMaxItems, int32_t nLifetimeMinutes, CNamedCache* pNext)
        : m_csName(csName), m_nMaxItems(nMaxItems), m_nLifetimeMinutes(nLifetimeMinutes), m_pNext(pNext),
          m_cShards(ShardCountFor(nMaxItems)), m_aShards(new CShard[m_cShards]) {
        const auto lifetime = std::chrono::duration_cast<CacheClock::duration>(
            std::chrono::minutes(std::min(nLifetimeMinutes, CACHE_MAX_LIFETIME_MINUTES)));
        const CacheClock::time_point tNow = CCacheStore::Now();
        // The shares add up to the maximum exactly, and none is empty (at least one item per shard).
        const size_t cMax = static_cast<size_t>(nMaxItems);
        for (size_t n = 0; n < m_cShards; ++n)
            m_aShards[n].Configure(cMax / m_cShards + (n < cMax % m_cShards ? 1 : 0), lifetime, tNow);
    }

    void Add(const std::string& csKey, const std::string& csData) {
        const size_t nHash = std::hash<std::string_view>{}(csKey);
        CEntryList fresh;
        fresh.push_back(CEntry{csKey, csData, nHash, CCacheStore::Now()});
        CEntryList dropped;
        ShardOf(nHash).Add(fresh, dropped);
    }

    bool Get(const std::string& csKey, std::optional<std::string>& data) {
        const size_t nHash = std::hash<std::string_view>{}(csKey);
        CEntryList dropped;
        return ShardOf(nHash).Get(csKey, nHash, CCacheStore::Now(), data, dropped);
    }

    size_t Count() {
        size_t cItems = 0;
        for (size_t n = 0; n < m_cShards; ++n)
            cItems += m_aShards[n].Count();
        return cItems;
    }

    const std::string m_csName;
    const int32_t m_nMaxItems;
    const int32_t m_nLifetimeMinutes;
    CNamedCache* const m_pNext;
    const size_t m_cShards;

private:
    CShard& ShardOf(size_t nHash) { return m_aShards[nHash % m_cShards]; }

    std::unique_ptr<CShard[]> m_aShards;
};

namespace {

// The caches' memory must not outlive the module: an unloaded module would leave the blocks behind with
// nothing pointing at them. The store itself is never destroyed (a late call finds no cache and fails).
class CCacheStoreHolder {
public:
    ~CCacheStoreHolder() { CCacheStore::Instance().Reset(); }
};
CCacheStoreHolder g_storeHolder;

} // namespace

std::string ComposeCacheKey(std::initializer_list<std::string_view> parts) {
    // Every get composes a key: one allocation, no temporaries.
    constexpr size_t cchNumber = 21; // the digits of a size_t and the colon
    size_t cchKey = cchNumber;
    for (std::string_view svPart : parts)
        cchKey += cchNumber + svPart.size();
    std::string csKey;
    csKey.reserve(cchKey);
    auto appendNumber = [&csKey](size_t n) {
        char szDigits[cchNumber];
        char* pEnd = std::to_chars(szDigits, szDigits + sizeof(szDigits), n).ptr;
        csKey.append(szDigits, pEnd);
        csKey += ':';
    };
    appendNumber(parts.size());
    for (std::string_view svPart : parts) {
        appendNumber(svPart.size());
        csKey.append(svPart);
    }
    return csKey;
}

CCacheStore& CCacheStore::Instance() {
    return ImmortalInstance<CCacheStore>();
}

void CCacheStore::SetClock(PFN_CACHE_CLOCK pfnClock) {
    g_pfnClock.store(pfnClock, std::memory_order_release);
}

CacheClock::time_point CCacheStore::Now() {
    PFN_CACHE_CLOCK pfnClock = g_pfnClock.load(std::memory_order_acquire);
    return pfnClock ? pfnClock() : CacheClock::now();
}

CNamedCache* CCacheStore::Find(std::string_view svName) const {
    for (CNamedCache* p = m_pFirst.load(std::memory_order_acquire); p; p = p->m_pNext)
        if (p->m_csName == svName)
            return p;
    return nullptr;
}

HRESULT CCacheStore::CreateCache(const std::string& csName, int32_t nMaxItems, int32_t nLifetimeMinutes) {
    if (csName.empty() || nMaxItems <= 0 || nLifetimeMinutes <= 0)
        return E_INVALIDARG;
    try {
        std::lock_guard<std::mutex> guard(m_createLock);
        if (Find(csName))
            return S_FALSE;
        auto* pCache = new CNamedCache(csName, nMaxItems, nLifetimeMinutes, m_pFirst.load());
        m_pFirst.store(pCache, std::memory_order_release);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CCacheStore::Add(const std::string& csName, const std::string& csKey, const std::string& csData) {
    CNamedCache* pCache = Find(csName);
    if (!pCache)
        return CACHE_E_UNKNOWN_CACHE;
    try {
        pCache->Add(csKey, csData);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CCacheStore::Get(const std::string& csName, const std::string& csKey,
                         std::optional<std::string>& csData) {
    csData.reset();
    CNamedCache* pCache = Find(csName);
    if (!pCache)
        return CACHE_E_UNKNOWN_CACHE;
    try {
        return pCache->Get(csKey, csData) ? S_OK : S_FALSE;
    } catch (const std::bad_alloc&) {
        csData.reset();
        return E_OUTOFMEMORY;
    }
}

bool CCacheStore::GetLimits(const std::string& csName, int32_t& nMaxItems, int32_t& nLifetimeMinutes) const {
    CNamedCache* pCache = Find(csName);
    if (!pCache)
        return false;
    nMaxItems = pCache->m_nMaxItems;
    nLifetimeMinutes = pCache->m_nLifetimeMinutes;
    return true;
}

size_t CCacheStore::ItemCount(const std::string& csName) const {
    CNamedCache* pCache = Find(csName);
    return pCache ? pCache->Count() : 0;
}

size_t CCacheStore::ShardCount(const std::string& csName) const {
    CNamedCache* pCache = Find(csName);
    return pCache ? pCache->m_cShards : 0;
}

void CCacheStore::Reset() {
    std::lock_guard<std::mutex> guard(m_createLock);
    CNamedCache* p = m_pFirst.exchange(nullptr, std::memory_order_acq_rel);
    while (p) {
        CNamedCache* pNext = p->m_pNext;
        delete p;
        p = pNext;
    }
}
