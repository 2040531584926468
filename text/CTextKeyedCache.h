// A process-wide memo of results that depend only on a text (a user agent, a language and charset) and on
// settings that change only when they are loaded again. Requests of many threads read it under a shared
// lock. It is bounded in entries and key length, and emptied when full: a flood of distinct keys costs the
// computation again, never memory.
#pragma once

#include "platform/WinTypes.h"

#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

template <class TValue> class CTextKeyedCache {
public:
    CTextKeyedCache(size_t nMaxItems, size_t cchMaxKey) : m_nMaxItems(nMaxItems), m_cchMaxKey(cchMaxKey) {}

    // The value stored for the key under this settings generation.
    bool Find(std::string_view svKey, DWORD dwGeneration, TValue& value) const {
        std::shared_lock lock(m_lock);
        if (dwGeneration != m_dwGeneration)
            return false;
        const auto it = m_mapValues.find(svKey);
        if (it == m_mapValues.end())
            return false;
        value = it->second;
        return true;
    }

    void Store(std::string_view svKey, DWORD dwGeneration, const TValue& value) {
        if (svKey.size() > m_cchMaxKey)
            return;
        std::unique_lock lock(m_lock);
        if (dwGeneration != m_dwGeneration || m_mapValues.size() >= m_nMaxItems) {
            m_mapValues.clear();
            m_dwGeneration = dwGeneration;
        }
        m_mapValues.insert_or_assign(std::string(svKey), value);
    }

    size_t Size() const {
        std::shared_lock lock(m_lock);
        return m_mapValues.size();
    }

private:
    struct CHash {
        using is_transparent = void;
        size_t operator()(std::string_view sv) const { return std::hash<std::string_view>()(sv); }
    };

    const size_t m_nMaxItems;
    const size_t m_cchMaxKey;
    mutable std::shared_mutex m_lock;
    std::unordered_map<std::string, TValue, CHash, std::equal_to<>> m_mapValues;
    DWORD m_dwGeneration = 0;
};
