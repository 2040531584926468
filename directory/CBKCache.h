// The filter's client of the cache component: one object per named cache. It keeps no component between
// calls: each operation prepares its thread, makes its own instance, calls it and releases it, so the only
// shared state is the initialised flag, set during start-up. Every failure is logged; start-up failures and
// exceptions also go to the error callback (the event log, once the general settings install it). No
// exception leaves an operation.
#pragma once

#include "platform/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <string>

constexpr int32_t BKCACHE_DEFAULT_MAX_ITEMS = 3000;
constexpr int32_t BKCACHE_DEFAULT_LIFETIME_MINUTES = 30;

// The form of the component's add and get methods a caller picks: the key alone; the key and the session;
// the key, the session and the property name. Each form is its own item space.
constexpr int BKCACHE_MODE_KEY = 1;
constexpr int BKCACHE_MODE_SESSION = 2;
constexpr int BKCACHE_MODE_PROPERTY = 3;

typedef void (*PFN_BKCACHE_ERROR)(WORD wEventType, const char* pszText);

class CBKCache {
public:
    CBKCache();
    virtual ~CBKCache();
    CBKCache(const CBKCache&) = delete;
    CBKCache& operator=(const CBKCache&) = delete;

    // Checks that the component can be created and initialised; true, and the object usable, when it can.
    // A failure after an earlier success leaves the object usable.
    bool Init();
    // Creates the named cache (lifetime in minutes), or accepts an existing one of that name.
    bool CreateCache(const std::string& csCacheName, int32_t nMaxItems, int32_t nLifetime);
    // True when the component took the item. A mode other than 1, 2 or 3 fails with E_INVALIDARG.
    bool AddItem(const std::string& csCacheName, const std::string& csKey, const std::string& csData,
                 const std::string& csSession, const std::string& csPropertyName, int nMode);
    // True, with the item's data in csData, on a hit. A miss (no such item, or any failure) returns false and
    // leaves csData as it was.
    bool GetItem(const std::string& csCacheName, const std::string& csKey, std::string& csData,
                 const std::string& csSession, const std::string& csPropertyName, int nMode);
    bool IsInitialized() const;

    // Where error events go (event type, text); null, the default, reports nothing. Process-wide.
    static void SetErrorCallback(PFN_BKCACHE_ERROR pfn);

private:
    std::atomic<bool> m_bInitialized{false};
};
