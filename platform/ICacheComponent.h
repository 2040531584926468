// The cache component: named caches with a maximum item count and an item lifetime, shared by every
// instance in the process. Each operation returns an HRESULT; a component may also raise CComError
// (platform/cache/CComError.h), which its callers catch.
//
// Items are addressed by the cache name and one of three key forms: the key alone; the key and a session;
// the key, a session and a property name. The forms are separate item spaces: ("k") and ("k", "") are two
// items.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ICacheComponent {
public:
    virtual ~ICacheComponent() = default;
    // Succeeds once the component is usable.
    virtual HRESULT Initialize() = 0;
    // Creates the named cache, or accepts an existing one of that name. The lifetime is in minutes.
    virtual HRESULT CreateCache(const std::string& csCacheName, int32_t nMaxItems, int32_t nLifetime) = 0;
    // Adding an existing key replaces its data. A get of an item the cache does not hold (never added,
    // dropped for age or size) succeeds with no value; a failure HRESULT means the call itself failed (an
    // unknown cache, for one).
    virtual HRESULT AddItem(const std::string& csKey, const std::string& csData,
                            const std::string& csCacheName) = 0;
    virtual HRESULT GetItem(const std::string& csKey, std::optional<std::string>& csData,
                            const std::string& csCacheName) = 0;
    virtual HRESULT AddItemWithSession(const std::string& csKey, const std::string& csSession,
                                       const std::string& csData, const std::string& csCacheName) = 0;
    virtual HRESULT GetItemWithSession(const std::string& csKey, const std::string& csSession,
                                       std::optional<std::string>& csData,
                                       const std::string& csCacheName) = 0;
    virtual HRESULT AddItemWithProperty(const std::string& csKey, const std::string& csSession,
                                        const std::string& csProperty, const std::string& csData,
                                        const std::string& csCacheName) = 0;
    virtual HRESULT GetItemWithProperty(const std::string& csKey, const std::string& csSession,
                                        const std::string& csProperty, std::optional<std::string>& csData,
                                        const std::string& csCacheName) = 0;
};

class ICacheComponents {
public:
    virtual ~ICacheComponents() = default;
    // Prepares the calling thread for the component (the multithreaded apartment on Windows). S_FALSE when
    // it was prepared already, RPC_E_CHANGED_MODE when it lives in another apartment (still usable).
    virtual HRESULT InitializeThread() = 0;
    // A new instance of the component; a failure HRESULT when it cannot be created.
    virtual HRESULT CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) = 0;
    // The end of the module's work, when no request runs: an in-process component frees its caches (a shared
    // one keeps them for the other workers). The component stays usable.
    virtual void ReleaseCaches() {}
};
