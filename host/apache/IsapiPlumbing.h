// The raw calling convention between Apache's request site and the worker: the per-request record, the
// filter context and notification structures, and the C callbacks that lead back to the site. Kept apart so
// that a shared driver of the host engine can take its place.
#pragma once

#include "abi/HostAbi.h"
#include "host/apache/ApacheRequestSite.h"

#include <string>

struct CWorkerEntryPoints {
    PFN_HTTP_FILTER_PROC pfnHttpFilterProc = nullptr;
    DWORD dwFlags = 0; // the notifications the worker registered
};

// What one notification came to.
struct CNotifyOutcome {
    DWORD m_dwResult = 0;
    DWORD m_dwControlMessage = CM_NONE;
    bool m_bException = false;
    std::string m_csException;
    // The worker goes on following the request: no exception, and neither Ignore nor Completed.
    bool Following() const {
        return !m_bException && m_dwControlMessage != CM_IGNORE && m_dwControlMessage != CM_COMPLETED;
    }
};

class CIsapiRequest {
public:
    CIsapiRequest(CApacheRequestSite& site, const CWorkerEntryPoints& worker);
    CIsapiRequest(const CIsapiRequest&) = delete;
    CIsapiRequest& operator=(const CIsapiRequest&) = delete;

    bool Wants(DWORD dwCode) const { return (m_worker.dwFlags & dwCode) != 0; }
    void Classify(DWORD dwSubscriptionType, DWORD dwLinkCriteria);
    // Refreshes the request values the worker reads from the record (after headers or identity changed).
    void RefreshRecord(bool bWithIdentity);
    // Sends one notification; the body for SEND_RAW_DATA is the site's.
    CNotifyOutcome Notify(DWORD dwCode, DWORD dwHttpStatus);
    // A worker context still attached: the worker did not release it at END_OF_REQUEST.
    bool HoldsWorkerContext() const { return m_context.m_pMyOwnContext != nullptr; }

    CApacheRequestSite& Site() { return m_site; }
    static CIsapiRequest* FromFilterContext(HTTP_FILTER_CONTEXT* pfc);
    static CIsapiRequest* FromRecord(CDLLContext* pContext);

private:
    void* PrepareNotification(DWORD dwCode, DWORD dwHttpStatus);
    void LocatePage();

    static constexpr DWORD MAGIC = 0x5741504B;
    const DWORD m_dwMagic = MAGIC;
    CApacheRequestSite& m_site;
    CWorkerEntryPoints m_worker;
    HTTP_FILTER_CONTEXT m_filterContext{};
    CCoreServices m_coreServices{};
    CDLLContext m_context;
    HTTP_FILTER_PREPROC_HEADERS m_headers{};
    HTTP_FILTER_AUTH_COMPLETE_INFO m_authComplete{};
    HTTP_FILTER_RAW_DATA m_rawData{};
    CCommonPointers m_commonPointers{};
};
