// The cache component: named caches with a maximum item count and an item lifetime, shared by every
// instance in the process. Each operation returns an HRESULT.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ICacheComponent {
public:
    virtual ~ICacheComponent() = default;
    virtual HRESULT Initialize() = 0;
    // Creates the named cache, or accepts an existing one of that name.
    virtual HRESULT CreateCache(const std::string& csCacheName, int32_t nMaxItems, int32_t nLifetime) = 0;
    // The three forms of adding and getting: by key; by key and session; by key, session and property.
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
    // Prepares the calling thread for the component (the multithreaded apartment on Windows).
    virtual HRESULT InitializeThread() = 0;
    // A new instance of the component; a failure HRESULT when it cannot be created.
    virtual HRESULT CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) = 0;
};
