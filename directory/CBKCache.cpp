#include "directory/CBKCache.h"

#include "log/Log.h"
#include "platform/CEventLog.h"
#include "platform/CPlatform.h"
#include "platform/cache/CComError.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

std::atomic<PFN_BKCACHE_ERROR> g_pfnErrorCallback{nullptr};

constexpr size_t c_cbEventText = 2048;

unsigned int Hex(HRESULT hr) {
    return static_cast<unsigned int>(hr);
}

// Formats into a stack buffer: this also runs in the exception handlers, where a failing allocation must
// not throw again.
void ReportError(const char* pszFormat, ...) WK_PRINTF_FORMAT(1, 2);
void ReportError(const char* pszFormat, ...) {
    PFN_BKCACHE_ERROR pfnCallback = g_pfnErrorCallback.load(std::memory_order_acquire);
    if (!pfnCallback)
        return;
    char szText[c_cbEventText];
    va_list args;
    va_start(args, pszFormat);
    int n = std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    if (n < 0)
        return;
    try {
        pfnCallback(EVENTLOG_ERROR_TYPE, szText);
    } catch (...) {
        // A failing event log costs the event, never the operation.
    }
}

// What one operation says at each step. The texts with a code take it (0x%x) first; the exception texts take
// the code and the component's description. A null text is not written.
struct CCallTexts {
    const char* pszThreadFailed;
    const char* pszCreateFailed;
    const char* pszCreateFailedEvent;
    const char* pszCallFailed;
    const char* pszComException;
    const char* pszComExceptionEvent;
    const char* pszGeneralException;
    const char* pszGeneralExceptionEvent;
};

// Prepares the thread, makes an instance, runs fnCall on it and releases it. Returns the call's result, the
// failure of a step before it, the HRESULT of a COM error raised on the way, or E_UNEXPECTED for any other
// exception. bThreadRefused tells the caller that the thread could not be prepared.
template <class TCall>
HRESULT CallComponent(const CCallTexts& texts, bool& bThreadRefused, TCall&& fnCall) noexcept {
    bThreadRefused = false;
    HRESULT hr = S_OK;
    try {
        ICacheComponents& components = CPlatform::CacheComponents();
        hr = components.InitializeThread();
        // Another apartment already owns the thread: the component is reachable from it all the same.
        if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
            bThreadRefused = true;
            LogMessage(texts.pszThreadFailed, Hex(hr));
            return hr;
        }
        std::unique_ptr<ICacheComponent> spCache;
        hr = components.CreateInstance(spCache);
        if (SUCCEEDED(hr) && !spCache)
            hr = E_POINTER;
        if (FAILED(hr)) {
            LogMessage(texts.pszCreateFailed, Hex(hr));
            if (texts.pszCreateFailedEvent)
                ReportError(texts.pszCreateFailedEvent, Hex(hr));
            return hr;
        }
        hr = fnCall(*spCache);
        if (FAILED(hr) && texts.pszCallFailed)
            LogMessage(texts.pszCallFailed, Hex(hr));
    } catch (const CComError& error) {
        LogMessage(texts.pszComException, Hex(error.Error()), error.Description());
        ReportError(texts.pszComExceptionEvent, Hex(error.Error()), error.Description());
        hr = FAILED(error.Error()) ? error.Error() : E_FAIL;
    } catch (...) {
        LogMessage("%s", texts.pszGeneralException);
        ReportError("%s", texts.pszGeneralExceptionEvent);
        hr = E_UNEXPECTED;
    }
    return hr;
}

} // namespace

CBKCache::CBKCache() = default;

CBKCache::~CBKCache() = default;

void CBKCache::SetErrorCallback(PFN_BKCACHE_ERROR pfn) {
    g_pfnErrorCallback.store(pfn, std::memory_order_release);
}

bool CBKCache::IsInitialized() const {
    return m_bInitialized.load(std::memory_order_acquire);
}

bool CBKCache::Init() {
    static constexpr CCallTexts c_texts = {
        "[CBKCache::Init() ] COM initialization failed hr: 0X%x",
        "[CBKCache::Init( ] m_spCache.CoCreateInstance failed hr: 0X%x",
        "Cache component failed to instantiate HRESULT: 0X%x",
        nullptr,
        "CExchangeAccess::GetErrorInfo got EXCEPTION HR 0x%x %s",
        "Cache component  failed to initialize with 0x%x %s",
        "Cache component got GENERAL EXCEPTION",
        "Cache component failed to Initialize GE",
    };
    bool bThreadRefused = false;
    HRESULT hr =
        CallComponent(c_texts, bThreadRefused, [](ICacheComponent& cache) { return cache.Initialize(); });
    if (bThreadRefused)
        return false;
    if (FAILED(hr)) {
        LogMessage("[CBKCache::Init( ] m_spCache.Initialize failed hr: 0X%x", Hex(hr));
        ReportError("Cache component initialization failed HRESULT: 0X%x", Hex(hr));
        return false;
    }
    m_bInitialized.store(true, std::memory_order_release);
    return true;
}

bool CBKCache::CreateCache(const std::string& csCacheName, int32_t nMaxItems, int32_t nLifetime) {
    if (!IsInitialized()) {
        LogMessage("CreateCache BKCache is not initialized");
        return false;
    }
    static constexpr CCallTexts c_texts = {
        "[CBKCache::Init() ] COM initialization failed hr: 0X%x",
        "[CBKCache::CreateCache() ] COM initialization failed hr: 0X%x",
        nullptr,
        "CreateCache failed HR 0x%x",
        "CreateCache got EXCEPTION HR 0x%x %s",
        "Cache component  failed COM Exception with 0x%x %s",
        "CCreateCache ache component got GENERAL EXCEPTION",
        "CreateCache Cache component failed GE",
    };
    bool bThreadRefused = false;
    HRESULT hr = CallComponent(c_texts, bThreadRefused, [&](ICacheComponent& cache) {
        return cache.CreateCache(csCacheName, nMaxItems, nLifetime);
    });
    return SUCCEEDED(hr);
}

bool CBKCache::AddItem(const std::string& csCacheName, const std::string& csKey, const std::string& csData,
                       const std::string& csSession, const std::string& csPropertyName, int nMode) {
    if (!IsInitialized()) {
        LogMessage("AddItem BKCache is not initialized");
        return false;
    }
    static constexpr CCallTexts c_texts = {
        "[CBKCache::AddItem() ] COM initialization COINIT_MULTITHREADED failed hr: 0X%x",
        "[CBKCache::AddItem() ] COM initialization failed hr: 0X%x",
        nullptr,
        "AddItem failed HR 0x%x",
        "AddItem got EXCEPTION HR 0x%x %s",
        "Cache component  AddItem failed COM Exception with 0x%x %s",
        "AddItem cache component got GENERAL EXCEPTION",
        "AddItem Cache component failed GE",
    };
    bool bThreadRefused = false;
    HRESULT hr = CallComponent(c_texts, bThreadRefused, [&](ICacheComponent& cache) {
        switch (nMode) {
        case BKCACHE_MODE_KEY:
            return cache.AddItem(csKey, csData, csCacheName);
        case BKCACHE_MODE_SESSION:
            return cache.AddItemWithSession(csKey, csSession, csData, csCacheName);
        case BKCACHE_MODE_PROPERTY:
            return cache.AddItemWithProperty(csKey, csSession, csPropertyName, csData, csCacheName);
        default:
            return E_INVALIDARG;
        }
    });
    if (FAILED(hr))
        LogMessage("[CBKCache::AddItem() ]  failed Key %s Data %s Session %s PropName %s hr: 0X%x",
                   csKey.c_str(), csData.c_str(), csSession.c_str(), csPropertyName.c_str(), Hex(hr));
    return SUCCEEDED(hr);
}

bool CBKCache::GetItem(const std::string& csCacheName, const std::string& csKey, std::string& csData,
                       const std::string& csSession, const std::string& csPropertyName, int nMode) {
    if (!IsInitialized()) {
        LogMessage("GetItem BKCache is not initialized");
        return false;
    }
    static constexpr CCallTexts c_texts = {
        "[CBKCache::GetItem() ] COM initialization COINIT_MULTITHREADED failed hr: 0X%x",
        "[CBKCache::GetItem() ] COM initialization failed hr: 0X%x",
        nullptr,
        "GetItem failed HR 0x%x",
        "GetItem got EXCEPTION HR 0x%x %s",
        "Cache component  GetItem failed COM Exception with 0x%x %s",
        "GetItem cache component got GENERAL EXCEPTION",
        "GetItem Cache component failed GE",
    };
    std::optional<std::string> data;
    bool bThreadRefused = false;
    HRESULT hr = CallComponent(c_texts, bThreadRefused, [&](ICacheComponent& cache) {
        switch (nMode) {
        case BKCACHE_MODE_KEY:
            return cache.GetItem(csKey, data, csCacheName);
        case BKCACHE_MODE_SESSION:
            return cache.GetItemWithSession(csKey, csSession, data, csCacheName);
        case BKCACHE_MODE_PROPERTY:
            return cache.GetItemWithProperty(csKey, csSession, csPropertyName, data, csCacheName);
        default:
            return E_INVALIDARG;
        }
    });
    if (FAILED(hr) || !data)
        return false;
    csData = std::move(*data);
    return true;
}
