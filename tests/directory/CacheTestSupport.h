// A store of caches that starts empty in every test and ages items by a clock the test moves, and a cache
// component double for the clients of the component.
#pragma once

#include "platform/ICacheComponent.h"
#include "platform/cache/CCacheStore.h"
#include "platform/cache/CComError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

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

// How the double's instances answer a call.
enum class EAnswer { Result, ComError, BadAlloc };

// A component whose thread preparation, creation and calls answer as the test says (calls that start with
// m_csFailingCall fail alone), and which records each call as its name and arguments, and the instances it
// makes and releases. A get answers with m_getData.
class CFakeComponents : public ICacheComponents {
public:
    HRESULT m_hrThread = S_OK;
    HRESULT m_hrCreate = S_OK;
    EAnswer m_eAnswer = EAnswer::Result;
    HRESULT m_hrCall = S_OK;
    std::string m_csFailingCall = "\n";
    std::optional<std::string> m_getData;
    std::vector<std::string> m_vCalls;
    int m_cCreated = 0;
    int m_cReleased = 0;

    HRESULT InitializeThread() override { return m_hrThread; }
    HRESULT CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) override;

    HRESULT Answer(std::string csCall) {
        const bool bFailing = csCall.rfind(m_csFailingCall, 0) == 0;
        m_vCalls.push_back(std::move(csCall));
        if (m_eAnswer == EAnswer::ComError)
            throw CComError(m_hrCall, "Server busy %s");
        if (m_eAnswer == EAnswer::BadAlloc)
            throw std::bad_alloc();
        return bFailing ? E_FAIL : m_hrCall;
    }
};

class CFakeCache : public ICacheComponent {
public:
    typedef const std::string& S;
    explicit CFakeCache(CFakeComponents& owner) : m_owner(owner) { ++m_owner.m_cCreated; }
    ~CFakeCache() override { ++m_owner.m_cReleased; }

    HRESULT Initialize() override { return Call(nullptr, "Initialize"); }
    HRESULT CreateCache(S csName, int32_t nMax, int32_t nLife) override {
        return Call(nullptr, "CreateCache", csName, std::to_string(nMax), std::to_string(nLife));
    }
    HRESULT AddItem(S csKey, S csData, S csName) override {
        return Call(nullptr, "AddItem", csKey, csData, csName);
    }
    HRESULT GetItem(S csKey, std::optional<std::string>& data, S csName) override {
        return Call(&data, "GetItem", csKey, csName);
    }
    HRESULT AddItemWithSession(S csKey, S csSession, S csData, S csName) override {
        return Call(nullptr, "AddItemWithSession", csKey, csSession, csData, csName);
    }
    HRESULT GetItemWithSession(S csKey, S csSession, std::optional<std::string>& data, S csName) override {
        return Call(&data, "GetItemWithSession", csKey, csSession, csName);
    }
    HRESULT AddItemWithProperty(S csKey, S csSession, S csProperty, S csData, S csName) override {
        return Call(nullptr, "AddItemWithProperty", csKey, csSession, csProperty, csData, csName);
    }
    HRESULT GetItemWithProperty(S csKey, S csSession, S csProperty, std::optional<std::string>& data,
                                S csName) override {
        return Call(&data, "GetItemWithProperty", csKey, csSession, csProperty, csName);
    }

private:
    template <class... TArgs>
    HRESULT Call(std::optional<std::string>* pData, std::string csCall, TArgs... args) {
        ((csCall += " " + std::string(args)), ...);
        HRESULT hr = m_owner.Answer(std::move(csCall));
        if (pData)
            *pData = m_owner.m_getData;
        return hr;
    }
    CFakeComponents& m_owner;
};

inline HRESULT CFakeComponents::CreateInstance(std::unique_ptr<ICacheComponent>& spInstance) {
    if (SUCCEEDED(m_hrCreate))
        spInstance = std::make_unique<CFakeCache>(*this);
    return m_hrCreate;
}

} // namespace cachetest
