// Everything mod_wendrake keeps for one request, in the request's pool (internal redirects share it;
// subrequests never get one). Apache may run a request's hooks on different threads, so nothing of a request
// lives anywhere else.
#pragma once

#include "host/apache/ApacheRequestSite.h"
#include "host/apache/ApacheWorker.h"
#include "host/common/NotificationDriver.h"

#include <httpd.h>
#include <util_filter.h>

#include <memory>

struct CRequestState {
    // The record starts with the request's values as the request was read, and its subscription type and
    // link criteria.
    CRequestState(request_rec* pRequest, const CWendrakeServerConfig* pConfig, const char* pszWebmail,
                  const CWorkerEntryPoints& worker, DWORD dwSubscriptionType, DWORD dwLinkCriteria)
        : m_site(pRequest, pConfig, pszWebmail), m_dwFlags(worker.dwFlags),
          m_driver(worker.pfnHttpFilterProc, m_site, Setup(dwSubscriptionType, dwLinkCriteria)),
          m_valuesRead(pRequest) {}

    enum class EBody { Undecided, Buffer, Pass };

    bool Wants(DWORD dwCode) const { return (m_dwFlags & dwCode) != 0; }
    bool Following() const { return m_driver.Following(); }

    CApacheRequestSite m_site;
    const DWORD m_dwFlags; // the notifications the worker registered
    CNotificationDriver m_driver;
    bool m_bAuthSent = false;
    bool m_bResponseSeen = false;
    bool m_bEndSent = false;
    EBody m_eBody = EBody::Undecided;
    apr_bucket_brigade* m_pHeld = nullptr;

    // What the record's request values were read from: they are read again only when one of these changed
    // (an internal redirect, a module that set one of the headers).
    struct CValuesSource {
        explicit CValuesSource(request_rec* pRequest);
        bool operator==(const CValuesSource&) const = default;
        request_rec* m_pRequest;
        const char* m_pszUri;
        const char* m_pszArgs;
        const char* m_apszHeaders[3];
    };
    CValuesSource m_valuesRead;

private:
    CDriverSetup Setup(DWORD dwSubscriptionType, DWORD dwLinkCriteria) const {
        CDriverSetup setup;
        setup.m_dwSubscriptionType = dwSubscriptionType;
        setup.m_dwLinkCriteria = dwLinkCriteria;
        setup.m_spRequestInfo = m_site.BuildRequestInfo();
        setup.m_spExchangeURL = m_site.BuildExchangeUrl();
        return setup;
    }
};

// The request's state, or null when mod_wendrake does not follow it.
CRequestState* StateOf(request_rec* pRequest);

// Sends a notification the worker registered and logs what came of it; false when the worker no longer
// follows the request.
bool NotifyWorker(CRequestState& state, DWORD dwCode, DWORD dwHttpStatus);

// The output filter's name, and its function (SEND_RESPONSE, then SEND_RAW_DATA for an HTML body).
extern const char WENDRAKE_FILTER[];
apr_status_t WendrakeOutputFilter(ap_filter_t* pFilter, apr_bucket_brigade* pBrigade);

// The guard's script files under <webmail>/BKScripts/: translate_name, map_to_storage and the handler.
int TranslateGuardScript(request_rec* pRequest);
// True for an address of the guard's own files: the host serves them, and the worker never sees the request
// (it would screen the blocked-browser page's own request and redirect a refused browser to it again).
bool IsGuardScriptRequest(const CWendrakeServerConfig& config, const char* pszUri);
int MapGuardScript(request_rec* pRequest);
int ServeGuardScript(request_rec* pRequest);
