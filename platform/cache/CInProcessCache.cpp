// The cache component inside the process: every instance is a thin handle onto the process-wide store, so
// instances are cheap to make per call, and the store's rules (platform/cache/CCacheStore.h) are the
// component's.
#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"
#include "platform/cache/CCacheStore.h"

#include <new>

namespace {

class CInProcessCache : public ICacheComponent {
public:
    // The store is always ready.
    HRESULT Initialize() override { return S_OK; }

    HRESULT CreateCache(const std::string& csCacheName, int32_t nMaxItems, int32_t nLifetime) override {
        return Store().CreateCache(csCacheName, nMaxItems, nLifetime);
    }

    HRESULT AddItem(const std::string& csKey, const std::string& csData,
                    const std::string& csCacheName) override {
        return Add(csCacheName, {csKey}, csData);
    }
    HRESULT GetItem(const std::string& csKey, std::optional<std::string>& csData,
                    const std::string& csCacheName) override {
        return Get(csCacheName, {csKey}, csData);
    }
    HRESULT AddItemWithSession(const std::string& csKey, const std::string& csSession,
                               const std::string& csData, const std::string& csCacheName) override {
        return Add(csCacheName, {csKey, csSession}, csData);
    }
    HRESULT GetItemWithSession(const std::string& csKey, const std::string& csSession,
                               std::optional<std::string>& csData, const std::string& csCacheName) override {
        return Get(csCacheName, {csKey, csSession}, csData);
    }
    HRESULT AddItemWithProperty(const std::string& csKey, const std::string& csSession,
                                const std::string& csProperty, const std::string& csData,
                                const std::string& csCacheName) override {
        return Add(csCacheName, {csKey, csSession, csProperty}, csData);
    }
    HRESULT GetItemWithProperty(const std::string& csKey, const std::string& csSession,
                                const std::string& csProperty, std::optional<std::string>& csData,
                                const std::string& csCacheName) override {
        return Get(csCacheName, {csKey, csSession, csProperty}, csData);
    }

private:
    static CCacheStore& Store() { return CCacheStore::Instance(); }

    static HRESULT Add(const std::string& csCacheName, std::initializer_list<std::string_view> parts,
                       const std::string& csData) {
        try {
            return Store().Add(csCacheName, ComposeCacheKey(parts), csData);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    static HRESULT Get(const std::string& csCacheName, std::initializer_list<std::string_view> parts,
                       std::optional<std::string>& csData) {
        try {
            return Store().Get(csCacheName, ComposeCacheKey(parts), csData);
        } catch (const std::bad_alloc&) {
            csData.reset();
            return E_OUTOFMEMORY;
        }
    }
};

class CInProcessCacheComponents : public ICacheComponents {
public:
    // Threads need no preparation here.
    HRESULT InitializeThread() override { return S_OK; }

    HRESULT CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) override {
        spInstance.reset(new (std::nothrow) CInProcessCache());
        return spInstance ? S_OK : E_OUTOFMEMORY;
    }

    void ReleaseCaches() override { CCacheStore::Instance().Reset(); }
};

} // namespace

ICacheComponents& InProcessCacheComponents() {
    return ImmortalInstance<CInProcessCacheComponents>();
}
